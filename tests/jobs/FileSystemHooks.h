// Hooks on two C library calls of this test program, for faults no file permission can make:
// a rename that fails, and a look at the disk at the moment a file is removed. The program's
// own calls reach these before the C library's; unset hooks pass straight through.
#pragma once

#include <functional>

struct FileSystemHooks {
    // Called instead of the rename when set; its result is the rename's.
    static std::function<int(const char* from, const char* to)> onRename;
    // Called before every unlink, with the path about to go.
    static std::function<void(const char* path)> beforeUnlink;
};

// Clears the hooks when the test ends, whichever way it ends.
struct ScopedFileSystemHooks {
    ~ScopedFileSystemHooks() {
        FileSystemHooks::onRename = nullptr;
        FileSystemHooks::beforeUnlink = nullptr;
    }
};

// The C library's own rename, for a hook that lets a call through.
int RealRename(const char* from, const char* to);
