// The taskbar button's progress, the flash and the balloon through the shell's own calls.
#include "ui/win32/OutsideWindow.h"

#include "platform/win32/Windows.h"
#include <shellapi.h>
#include <shobjidl.h>

namespace ui::win32 {
namespace {

// The one icon of the program in the notification area.
constexpr UINT kNoticeIconId = 1;

TBPFLAG Flag(platform::TaskbarProgress state) {
    switch (state) {
    case platform::TaskbarProgress::Normal: return TBPF_NORMAL;
    case platform::TaskbarProgress::Paused: return TBPF_PAUSED;
    case platform::TaskbarProgress::Error: return TBPF_ERROR;
    default: return TBPF_NOPROGRESS;
    }
}

// Copies text into a fixed field of NOTIFYICONDATAW, cut to fit with its NUL.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
    size_t length = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(field, length);
    field[length] = L'\0';
}

NOTIFYICONDATAW IconData(HWND window) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kNoticeIconId;
    return data;
}

}  // namespace

OutsideWindow::~OutsideWindow() {
    if (iconWindow_ != nullptr) Forget(iconWindow_);
    if (taskbar_ != nullptr) taskbar_->Release();
}

void OutsideWindow::SetProgress(HWND window, platform::TaskbarProgress state, int percent) {
    if (!taskbarTried_) {
        // Without a taskbar (a shell that has none) the progress simply shows nowhere.
        taskbarTried_ = true;
        void* object = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, &object))) {
            taskbar_ = static_cast<ITaskbarList3*>(object);
            if (FAILED(taskbar_->HrInit())) {
                taskbar_->Release();
                taskbar_ = nullptr;
            }
        }
    }
    if (taskbar_ == nullptr) return;
    answers_.progressState = taskbar_->SetProgressState(window, Flag(state));
    if (state != platform::TaskbarProgress::None)
        answers_.progressValue = taskbar_->SetProgressValue(window, static_cast<ULONGLONG>(percent), 100);
}

void OutsideWindow::Flash(HWND window) {
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    // Caption and button, until the user brings the window to the front.
    flash.dwFlags = FLASHW_ALL | FLASHW_TIMERNOFG;
    answers_.flashed = FlashWindowEx(&flash);
}

void OutsideWindow::Notice(HWND window, const std::wstring& title, const std::wstring& text, bool failed) {
    NOTIFYICONDATAW data = IconData(window);
    if (iconWindow_ != window) {
        if (iconWindow_ != nullptr) Forget(iconWindow_);
        data.uFlags = NIF_ICON | NIF_TIP;
        data.hIcon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
        if (data.hIcon == nullptr) data.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
        CopyField(data.szTip, title);
        if (Shell_NotifyIconW(NIM_ADD, &data)) iconWindow_ = window;
    }
    data.uFlags = NIF_INFO;
    CopyField(data.szInfoTitle, title);
    CopyField(data.szInfo, text);
    data.dwInfoFlags = failed ? NIIF_ERROR : NIIF_INFO;
    answers_.noticeShown = Shell_NotifyIconW(NIM_MODIFY, &data);
}

void OutsideWindow::Forget(HWND window) {
    if (iconWindow_ != window) return;
    NOTIFYICONDATAW data = IconData(window);
    Shell_NotifyIconW(NIM_DELETE, &data);  // gone with the window anyway
    iconWindow_ = nullptr;
}

}  // namespace ui::win32
