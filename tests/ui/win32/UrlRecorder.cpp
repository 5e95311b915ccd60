// Stands in for the browser a URL protocol starts: called as `url_recorder RESULT URL`, it
// writes into RESULT, in UTF-16, the image name of the process that started it, a line feed
// and the URL as it arrived. The file appears whole (written aside, then renamed).
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

namespace {

std::wstring ImageName(DWORD process, DWORD* parent) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return L"";
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::wstring name;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != process) continue;
        name = entry.szExeFile;
        if (parent != nullptr) *parent = entry.th32ParentProcessID;
        break;
    }
    CloseHandle(snapshot);
    return name;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count != 3) return 2;
    DWORD parent = 0;
    ImageName(GetCurrentProcessId(), &parent);
    std::wstring record = ImageName(parent, nullptr) + L"\n" + arguments[2];
    std::wstring target = arguments[1];
    std::wstring aside = target + L".part";
    HANDLE file = CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    if (!wrote || !MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
    return 0;
}
