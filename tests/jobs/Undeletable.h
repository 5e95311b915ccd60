// Protection of one file against deletion for the length of a test.
#pragma once

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// A file nobody can remove: immutable for root, else a folder without write permission.
class Undeletable {
public:
    explicit Undeletable(const std::string& path) : path_(path) {
        int fd = open(path.c_str(), O_RDONLY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) close(fd);
        if (!immutable_) SetFolderWritable(false);
    }
    ~Undeletable() {
        if (!immutable_) {
            SetFolderWritable(true);
            return;
        }
        int fd = open(path_.c_str(), O_RDONLY);
        int flags = 0;
        ioctl(fd, FS_IOC_GETFLAGS, &flags);
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
        close(fd);
    }
    // Whether the protection holds (root ignores folder permissions).
    bool Holds() const { return immutable_ || geteuid() != 0; }

private:
    void SetFolderWritable(bool writable) {
        namespace fs = std::filesystem;
        fs::permissions(fs::path(path_).parent_path(), fs::perms::owner_write,
                        writable ? fs::perm_options::add : fs::perm_options::remove);
    }

    std::string path_;
    bool immutable_ = false;
};
