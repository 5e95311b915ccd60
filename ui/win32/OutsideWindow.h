// What the window shows outside itself: the job's progress on its taskbar button
// (ITaskbarList3), a flash of the button (FlashWindowEx) and a balloon of the notification
// area (Shell_NotifyIcon with NIF_INFO). The window thread only; COM is initialised there.
#pragma once

#include <string>

#include "platform/View.h"

struct HWND__;
struct ITaskbarList3;

namespace ui::win32 {

class OutsideWindow {
public:
    OutsideWindow() = default;
    ~OutsideWindow();
    OutsideWindow(const OutsideWindow&) = delete;
    OutsideWindow& operator=(const OutsideWindow&) = delete;

    void SetProgress(HWND__* window, platform::TaskbarProgress state, int percent);
    void Flash(HWND__* window);
    // The balloon needs an icon in the notification area: added at the first notice, removed
    // when the window ends (Forget) or this object goes.
    void Notice(HWND__* window, const std::wstring& title, const std::wstring& text, bool failed);
    // The window is ending: its icon leaves the notification area.
    void Forget(HWND__* window);

    // What the system answered to the last call of each kind (HRESULT, BOOL), for tests.
    struct Answers {
        long progressState = 1;  // S_FALSE until called
        long progressValue = 1;
        int flashed = -1;
        int noticeShown = -1;
    };
    Answers LastAnswers() const { return answers_; }

private:
    ITaskbarList3* taskbar_ = nullptr;
    bool taskbarTried_ = false;
    HWND__* iconWindow_ = nullptr;  // the window whose icon is in the notification area
    Answers answers_;
};

}  // namespace ui::win32
