// What the script driver needs from a front end: the user's actions on the open windows, the
// answers for boxes and dialogs still to come, and a report of what the windows show. Both
// front ends implement it, so one script replays the same session on either. Everything here
// is called on the user-interface thread (the driver runs in the window's loop).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/View.h"

namespace ui {

class AutomationObserver {
public:
    virtual ~AutomationObserver() = default;
    // A message box was shown and answered (any thread; the box itself ran on the UI thread).
    virtual void OnBox(const platform::MessageBoxRequest& request, int answer) = 0;
    virtual void OnControlText(int window, int id, const std::string& text) = 0;
    virtual void OnDialogOpened(int window, const std::string& title) = 0;
};

class Automation {
public:
    virtual ~Automation() = default;

    virtual void SetObserver(AutomationObserver* observer) = 0;
    // The driver's step, run on the user-interface thread whenever the window loop has room
    // for it, in nested loops (boxes, dialogs) too; it returns true when it acted and false
    // when it waits (time then moves on) or is finished.
    virtual void SetDriver(std::function<bool()> step) = 0;
    // The driver pauses until this tick of the platform clock: the loop lets time pass up to
    // it as it would for a timer.
    virtual void WakeAt(uint64_t tick) = 0;

    // The user's actions. Each returns false when it could not be done as a user would (no
    // such window, a disabled control or menu item).
    virtual bool Press(int window, int id) = 0;
    virtual bool ChooseMenu(int itemId) = 0;
    virtual bool ClickRowCheckBox(int listId, int row) = 0;
    virtual bool PressKey(uint32_t virtualKey) = 0;

    // Answers for what has yet to appear: the next message box, the next run of a dialog.
    virtual void AnswerNextBox(int answer) = 0;
    virtual void AnswerNextDialog(int window, int result) = 0;
    // The next proxy-credential prompt is answered with these credentials (nullopt: the user
    // declines) without showing it.
    virtual void AnswerNextProxyPrompt(std::optional<platform::ProxyCredentials> credentials) = 0;
    // A picture of the next message box, taken as it is shown; false when this front end has
    // none to take.
    virtual bool ScreenshotNextBox(const std::string& nativePath) = 0;

    virtual bool IsWindowOpen(int window) = 0;
    // The text a control of an open window shows.
    virtual std::string ShownText(int window, int id) = 0;
    // The top window of the running dialogs (0 when none).
    virtual int TopWindow() = 0;
    // A picture of the top window as a PNG; false when this front end has none to take.
    virtual bool Screenshot(const std::string& nativePath) = 0;
    // Ends every open window with IDCANCEL, and every window opened afterwards right after
    // its initialisation: the automation is over. A window whose logic still has work running
    // (ViewHandler::OnCloseRequest) ends itself once that work is done.
    virtual void CloseAll() = 0;
};

}  // namespace ui
