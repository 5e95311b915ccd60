// One of the program's windows on the screen: a dialog created from the in-memory template of
// its resource, with the resource's menus, painted bitmaps, owner-drawn buttons, hyperlink and
// status line, handing every user action to its window logic. It never closes by itself: Esc
// and the system Close are IDCANCEL commands, and the logic ends it.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/View.h"
#include "ui/DialogResources.h"
#include "ui/win32/ListArea.h"
#include "ui/win32/Resolution.h"

struct HWND__;
struct HICON__;
struct HMENU__;
struct HFONT__;

namespace ui::win32 {

// What every window asks of the front end that runs it.
class FrameHost {
public:
    virtual ~FrameHost() = default;
    virtual bool WaitCursorShown() const = 0;
    // A scripted command for a dialog that has just come up.
    virtual void OnScriptedCommand(int window, uint32_t command) = 0;
};

// Private messages of the front end's windows.
constexpr unsigned kScriptedCommandMessage = 0x8000 + 1;  // WM_APP + 1: wParam the command

class DialogFrame {
public:
    DialogFrame(const DialogResource& resource, platform::ViewHandler& logic, FrameHost& host);
    ~DialogFrame();
    DialogFrame(const DialogFrame&) = delete;
    DialogFrame& operator=(const DialogFrame&) = delete;

    // Creates the (still hidden) window; the logic's OnInitDialog has run when it returns.
    // False when the system refused the template.
    bool Create(HWND__* owner);
    void Show();

    int Id() const { return resource_.id; }
    HWND__* Handle() const { return window_; }
    platform::ViewHandler& Logic() { return logic_; }
    HWND__* Control(int id) const;
    ListArea* List(int id) const;

    void SetText(int id, const std::string& cp932);
    std::string Text(int id) const;
    void SetCaption(const std::string& cp932);
    void SetIcon(int id, int iconId);
    void EnableMenuItem(int id, bool enable);
    // What choosing a menu item does: the menus are brought up to date first.
    bool ChooseMenuItem(int id);
    void EnableSystemClose(bool enable);

    void End(int result);
    bool Ended() const { return ended_; }
    int Result() const { return result_; }

private:
    static intptr_t __stdcall Procedure(HWND__* window, unsigned message, uintptr_t wParam, intptr_t lParam);
    intptr_t OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam);
    void Initialise();
    void PlaceControls();
    void BuildMenus();
    void PaintBitmaps(void* dc);
    void DrawButton(const void* drawItem);

    const DialogResource& resource_;
    platform::ViewHandler& logic_;
    FrameHost& host_;
    HWND__* window_ = nullptr;
    Resolution resolution_;
    HMENU__* menuBar_ = nullptr;
    HFONT__* linkFont_ = nullptr;
    std::map<int, std::string> texts_;
    std::map<int, int> faceIcons_;
    std::map<int, std::unique_ptr<ListArea>> lists_;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace ui::win32
