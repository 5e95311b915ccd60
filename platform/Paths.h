// Windows paths inside the program, native paths outside. "Z:" is the native root "/" (as
// Wine does); other letters are the drives of the simulated machine; backslashes become
// slashes and CP932 becomes UTF-8. A path that cannot be mapped gives nullopt, never a
// mangled path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

[[nodiscard]] std::optional<std::string> ToNativePath(std::string_view windowsPath);
[[nodiscard]] std::optional<std::string> ToWindowsPath(std::string_view nativePath);

// Windows wildcard rules on CP932 names: "*" and "?" per character, letters without case,
// "*.*" matches every name.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace platform
