// The profile file's native side: reading it whole, and replacing it atomically.
#include "platform/Profile.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "platform/Error.h"

namespace platform {

ProfileDocument ProfileDocument::Load(const std::string& nativePath) {
    std::ifstream in(nativePath, std::ios::binary);
    if (!in) return {};
    std::stringstream ss;
    ss << in.rdbuf();
    return Parse(ss.str());
}

bool ProfileDocument::Save(const std::string& nativePath) const {
    std::string temp = nativePath + ".tmp" + std::to_string(getpid());
    // A link planted under the temporary name would have the save written wherever it points.
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno));
        return false;
    }
    std::string bytes = Serialize();
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            int err = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            SetLastError(ErrorFromErrno(err));
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temp.c_str(), nativePath.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        SetLastError(ErrorFromErrno(err));
        return false;
    }
    // The rename is on the disk only once its folder is: a power cut could bring the old file
    // back otherwise (MoveFileEx's MOVEFILE_WRITE_THROUGH on Windows).
    const size_t slash = nativePath.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : nativePath.substr(0, slash);
    // The file is replaced either way: a folder that cannot be synced (some network file
    // systems refuse) leaves only that guarantee out.
    if (int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY); folderFd >= 0) {
        (void)::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

}  // namespace platform
