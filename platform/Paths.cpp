// Windows wildcard matching on CP932 names: the same on every system.
#include "platform/Paths.h"

#include "platform/CodePage.h"

namespace platform {
namespace {

bool MatchFrom(std::string_view name, size_t n, std::string_view pattern, size_t p) {
    while (p < pattern.size()) {
        if (pattern[p] == '*') {
            for (size_t k = n; k <= name.size(); k += (k < name.size() ? CharLength(name, k) : 1))
                if (MatchFrom(name, k, pattern, p + 1)) return true;
            return false;
        }
        if (n >= name.size()) return false;
        size_t nl = CharLength(name, n);
        size_t pl = CharLength(pattern, p);
        if (!(pattern[p] == '?' || EqualsNoCase(name.substr(n, nl), pattern.substr(p, pl)))) return false;
        n += nl;
        p += pl;
    }
    return n == name.size();
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    if (pattern == "*.*" || pattern == "*") return true;
    return MatchFrom(name, 0, pattern, 0);
}

}  // namespace platform
