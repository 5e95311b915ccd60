// trust_root.exe add|remove PEM: the test CA as a root of the Wine prefix, for a session of
// the program over HTTPS (tests/gui/win32-session.sh).
#include <cstdio>
#include <string>

#include "TestRoot.h"

int main(int argc, char** argv) {
    std::string verb = argc == 3 ? argv[1] : "";
    if (verb != "add" && verb != "remove") {
        std::fprintf(stderr, "usage: trust_root add|remove PEM\n");
        return 2;
    }
    bool done = verb == "add" ? testroot::Trust(argv[2]) : testroot::Distrust(argv[2]);
    if (!done) std::fprintf(stderr, "trust_root: could not %s %s\n", argv[1], argv[2]);
    return done ? 0 : 1;
}
