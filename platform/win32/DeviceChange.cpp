// WM_DEVICECHANGE reaches top-level windows only (not message-only ones), so the watcher owns a
// hidden top-level window on a thread of its own; a volume or device arriving or leaving, or
// the device tree changing, signals the event. Removal requests need no help here: Windows asks
// the windows that registered the volume's handle.
#include "platform/DeviceChange.h"

#include "platform/win32/Windows.h"
#include <dbt.h>

namespace platform {
namespace {

constexpr wchar_t kClassName[] = L"VeltraneDeviceChangeWatcher";

bool IsChange(WPARAM event) {
    return event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE || event == DBT_DEVNODES_CHANGED;
}

LRESULT CALLBACK WatcherProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        if (IsChange(wParam)) ::SetEvent(reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_USERDATA)));
        return TRUE;
    }
    if (message == WM_CLOSE) {
        ::DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

struct Start {
    HANDLE changed;
    HANDLE ready;
    HWND window = nullptr;
};

DWORD WINAPI WatcherThread(void* parameter) {
    auto* start = static_cast<Start*>(parameter);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WatcherProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassExW(&windowClass);  // a second watcher finds the class registered
    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                    windowClass.hInstance, nullptr);
    if (window != nullptr) ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(start->changed));
    start->window = window;
    ::SetEvent(start->ready);  // `start` belongs to the constructor from here on
    if (window == nullptr) return 1;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

DeviceChangeWatcher::DeviceChangeWatcher() {
    Start start{::CreateEventW(nullptr, TRUE, FALSE, nullptr), ::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread =
        start.changed && start.ready ? ::CreateThread(nullptr, 0, WatcherThread, &start, 0, nullptr) : nullptr;
    if (thread != nullptr) ::WaitForSingleObject(start.ready, INFINITE);
    if (start.ready) ::CloseHandle(start.ready);
    if (thread == nullptr || start.window == nullptr) {
        if (thread) {
            ::WaitForSingleObject(thread, INFINITE);
            ::CloseHandle(thread);
        }
        if (start.changed) ::CloseHandle(start.changed);
        return;
    }
    event_ = start.changed;
    thread_ = thread;
    window_ = start.window;
}

DeviceChangeWatcher::~DeviceChangeWatcher() {
    if (thread_ == nullptr) return;
    ::PostMessageW(static_cast<HWND>(window_), WM_CLOSE, 0, 0);
    ::WaitForSingleObject(thread_, INFINITE);
    ::CloseHandle(thread_);
    ::CloseHandle(event_);
}

void AnswerRemovalRequests(const RemovalReceiver&) {
    // Windows sends the removal's events to the window a handle was registered with.
}

std::string RemovalUnitOf(HANDLE) { return {}; }

bool DeviceChangeWatcher::Consume() {
    if (event_ == nullptr || ::WaitForSingleObject(event_, 0) != WAIT_OBJECT_0) return false;
    ::ResetEvent(event_);
    return true;
}

}  // namespace platform
