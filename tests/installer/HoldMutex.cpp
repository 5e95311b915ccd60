// Stands in for a running Veltrane before its installer: holds the program's single-instance
// mutex until the file named by the first argument is deleted (a minute at most). It writes
// that file once it holds the mutex, so the test knows when to start the installer.
#include <windows.h>

#include <fstream>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Global\\Veltrane");
    if (mutex == nullptr) return 1;
    { std::ofstream(argv[1]) << "held\n"; }
    for (int wait = 0; wait < 600 && GetFileAttributesA(argv[1]) != INVALID_FILE_ATTRIBUTES; ++wait) Sleep(100);
    CloseHandle(mutex);
    return 0;
}
