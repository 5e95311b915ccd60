// The profile file's native side on Windows: read whole, and replaced atomically by a
// temporary file beside it that is written, flushed and moved over the old one.
#include "platform/Profile.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool Close() {
        HANDLE h = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(h) != 0;
    }

private:
    HANDLE handle_;
};

// A virus scanner or indexer that opens the file just written holds it for a moment; the
// replace then fails with a sharing or access error and is tried again for about a second.
constexpr int kReplaceTries = 20;
constexpr uint32_t kReplacePauseMs = 50;

bool ReplaceWith(const std::wstring& temp, const std::wstring& target) {
    for (int attempt = 1;; ++attempt) {
        if (::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        const bool held =
            error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!held || attempt == kReplaceTries) return false;
        platform::Sleep(kReplacePauseMs);
    }
}

}  // namespace

ProfileDocument ProfileDocument::Load(const std::string& nativePath) {
    auto wide = win32::WideNative(nativePath);
    if (!wide) return {};
    FileHandle file(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char chunk[16384];
    DWORD n = 0;
    while (::ReadFile(file.get(), chunk, sizeof chunk, &n, nullptr) && n > 0) bytes.append(chunk, n);
    return Parse(bytes);
}

bool ProfileDocument::Save(const std::string& nativePath) const {
    auto target = win32::WideNative(nativePath);
    if (!target) return false;
    const std::wstring temp = *target + L".tmp" + std::to_wstring(::GetCurrentProcessId());
    FileHandle file(
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = Serialize();
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        DWORD written = 0;
        const DWORD part = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        ok = ::WriteFile(file.get(), bytes.data() + done, part, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file.get());
    ok = file.Close() && ok;
    ok = ok && ReplaceWith(temp, *target);
    if (!ok) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temp.c_str());
        SetLastError(error);
    }
    return ok;
}

}  // namespace platform
