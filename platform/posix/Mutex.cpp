// The named mutex as an flock on a lock file in the machine folder, held for the life of the
// process.
#include "platform/Mutex.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Error.h"
#include "platform/posix/MachineSource.h"

namespace platform {

HANDLE CreateMutexA(bool initialOwner, const char* name) {
    std::string folder = MachineFolder();
    ::mkdir(folder.c_str(), 0755);
    // One simulated machine is every session of the PC: the namespace prefix names no other file.
    std::string base = name ? name : "";
    for (const char* prefix : {"Global\\", "Local\\"})
        if (base.rfind(prefix, 0) == 0) base.erase(0, std::string(prefix).size());
    std::string path = folder + "/" + base + ".mutex";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    bool existed = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!initialOwner && !existed) ::flock(fd, LOCK_UN);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    // The descriptor stands for the handle; it stays open so the lock lives with the process.
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

}  // namespace platform
