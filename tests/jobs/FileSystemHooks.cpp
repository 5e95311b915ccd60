// The test program's own rename and unlink: a rename goes to the test's hook when one is set,
// an unlink lets the test look first; otherwise both reach the C library's functions.
#include "FileSystemHooks.h"

#include <dlfcn.h>

std::function<int(const char*, const char*)> FileSystemHooks::onRename;
std::function<void(const char*)> FileSystemHooks::beforeUnlink;

int RealRename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    return next(from, to);
}

extern "C" int rename(const char* from, const char* to) {
    if (FileSystemHooks::onRename) return FileSystemHooks::onRename(from, to);
    return RealRename(from, to);
}

extern "C" int unlink(const char* path) {
    using Unlink = int (*)(const char*);
    static Unlink next = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlink"));
    if (FileSystemHooks::beforeUnlink) FileSystemHooks::beforeUnlink(path);
    return next(path);
}
