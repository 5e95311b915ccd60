// A window created from its template: its controls placed and coloured, menus, painted bitmaps,
// owner-drawn faces, and every message turned into a call of its window logic.
#include "ui/win32/DialogFrame.h"

#include <cstring>
#include <cwchar>

#include "ui/win32/DialogTemplate.h"
#include "ui/win32/Images.h"
#include "ui/win32/WideText.h"

#include "platform/win32/Windows.h"
#include <commctrl.h>
#include <dbt.h>

namespace ui::win32 {
namespace {

// The status line: navy on a pale blue; the link: blue on the footer's sand colour.
constexpr COLORREF kStatusText = RGB(0x00, 0x00, 0x80);
constexpr COLORREF kStatusBackground = RGB(0xF0, 0xF3, 0xF8);
constexpr COLORREF kLinkText = RGB(0x00, 0x00, 0xFF);
constexpr COLORREF kLinkBackground = RGB(0xD4, 0xD1, 0xC2);
constexpr COLORREF kTransparent = RGB(0xFF, 0xFF, 0xFF);
// The owner-drawn faces and the link, in pixels of the layout.
constexpr int kFaceIconSize = 32;
constexpr int kFaceIconOffset = 5;
constexpr int kFaceTextMargin = 4;
constexpr int kFaceFocusInset = 3;
constexpr int kLinkFontPixels = 12;

HBRUSH SolidBrush(COLORREF colour) {
    static std::map<COLORREF, HBRUSH> brushes;
    auto [entry, added] = brushes.try_emplace(colour, nullptr);
    if (added) entry->second = CreateSolidBrush(colour);
    return entry->second;
}

}  // namespace

DialogFrame::DialogFrame(const DialogResource& resource, platform::ViewHandler& logic, FrameHost& host)
    : resource_(resource), logic_(logic), host_(host) {
    for (const ControlResource& control : resource.controls) {
        if (control.id == kNoId) continue;
        texts_[control.id] = control.text;
        if (control.kind == ControlKind::Icon && control.image != 0) faceIcons_[control.id] = control.image;
    }
}

DialogFrame::~DialogFrame() {
    if (window_ != nullptr) ::DestroyWindow(window_);
    if (linkFont_ != nullptr) DeleteObject(linkFont_);
}

bool DialogFrame::Create(HWND owner) {
    std::vector<uint8_t> bytes = BuildDialogTemplate(TemplateFor(resource_));
    // The dialog manager wants the template on a 4-byte boundary.
    std::vector<DWORD> aligned((bytes.size() + 3) / 4);
    std::memcpy(aligned.data(), bytes.data(), bytes.size());
    HWND created =
        CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(aligned.data()), owner,
                                   reinterpret_cast<DLGPROC>(&DialogFrame::Procedure), reinterpret_cast<LPARAM>(this));
    return created != nullptr;
}

void DialogFrame::Show() {
    if (window_ != nullptr && !resource_.hidden && !ended_) {
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
    }
}

intptr_t __stdcall DialogFrame::Procedure(HWND window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (message == WM_INITDIALOG) {
        auto* frame = reinterpret_cast<DialogFrame*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        frame->window_ = window;
        frame->Initialise();
        return FALSE;  // the logic set the focus it wants, or the dialog manager's first control has it
    }
    auto* frame = reinterpret_cast<DialogFrame*>(GetWindowLongPtrW(window, DWLP_USER));
    if (frame == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        frame->window_ = nullptr;
        return FALSE;
    }
    return frame->OnMessage(message, wParam, lParam);
}

void DialogFrame::Initialise() {
    // The dialog manager made the window's font for this resolution; the layout follows it.
    resolution_ = Resolution::Of(window_);
    PlaceControls();
    if (!resource_.menus.empty()) BuildMenus();
    // The client area is the resource's size in pixels, under the menu bar.
    RECT bounds{0, 0, resolution_.Scale(resource_.width), resolution_.Scale(resource_.height)};
    AdjustWindowRectEx(&bounds, static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_STYLE)), menuBar_ != nullptr,
                       static_cast<DWORD>(GetWindowLongPtrW(window_, GWL_EXSTYLE)));
    SetWindowPos(window_, nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (HWND owner = GetWindow(window_, GW_OWNER); owner != nullptr) {
        // Centred on the owner, as a dialog box is.
        RECT ownerBounds, ownBounds;
        GetWindowRect(owner, &ownerBounds);
        GetWindowRect(window_, &ownBounds);
        int x = ownerBounds.left + ((ownerBounds.right - ownerBounds.left) - (ownBounds.right - ownBounds.left)) / 2;
        int y = ownerBounds.top + ((ownerBounds.bottom - ownerBounds.top) - (ownBounds.bottom - ownBounds.top)) / 2;
        SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (resource_.icon != 0) {
        SendMessageW(window_, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(IconImage(resource_.icon, resolution_.Scale(32))));
        SendMessageW(window_, WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(IconImage(resource_.icon, resolution_.Scale(16))));
    }
    logic_.OnInitDialog();
}

void DialogFrame::PlaceControls() {
    // The children come in the template's order, which is the resource's: labels without an
    // id are found by their place.
    HWND handle = GetWindow(window_, GW_CHILD);
    for (const ControlResource& control : resource_.controls) {
        if (handle == nullptr) break;
        Rect placed = resolution_.Scale(control.rect);
        MoveWindow(handle, placed.x, placed.y, placed.width, placed.height, FALSE);
        switch (control.kind) {
        case ControlKind::ListView:
        case ControlKind::CheckListView:
            lists_[control.id] =
                std::make_unique<ListArea>(handle, control.id, control.kind == ControlKind::CheckListView, resolution_);
            break;
        case ControlKind::Icon:
            if (control.image != 0)
                SendMessageW(handle, STM_SETICON, reinterpret_cast<WPARAM>(IconImage(control.image, placed.width)), 0);
            break;
        case ControlKind::Picture:
            SendMessageW(handle, STM_SETIMAGE, IMAGE_BITMAP,
                         reinterpret_cast<LPARAM>(BitmapImage(control.image, resolution_)));
            break;
        case ControlKind::Link:
            if (linkFont_ == nullptr) {
                LOGFONTW font{};
                font.lfHeight = -resolution_.Scale(kLinkFontPixels);
                font.lfUnderline = TRUE;
                font.lfCharSet = DEFAULT_CHARSET;
                wcscpy(font.lfFaceName, L"MS UI Gothic");
                linkFont_ = CreateFontIndirectW(&font);
            }
            SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_), FALSE);
            break;
        default: break;
        }
        handle = GetWindow(handle, GW_HWNDNEXT);
    }
}

void DialogFrame::BuildMenus() {
    menuBar_ = CreateMenu();
    for (const MenuResource& menuResource : resource_.menus) {
        HMENU popup = CreatePopupMenu();
        for (const MenuItemResource& item : menuResource.items) {
            if (item.id == 0) {
                AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            // After a tab the key is only shown: the key itself goes to the window logic.
            std::wstring text = Widen(item.text);
            if (!item.accelerator.empty()) text += L"\t" + Widen(item.accelerator);
            AppendMenuW(popup, MF_STRING, static_cast<UINT_PTR>(item.id), text.c_str());
        }
        AppendMenuW(menuBar_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Widen(menuResource.title).c_str());
    }
    SetMenu(window_, menuBar_);
}

HWND DialogFrame::Control(int id) const { return window_ == nullptr ? nullptr : GetDlgItem(window_, id); }

ListArea* DialogFrame::List(int id) const {
    auto found = lists_.find(id);
    return found == lists_.end() ? nullptr : found->second.get();
}

void DialogFrame::SetText(int id, const std::string& cp932) {
    HWND control = Control(id);
    if (control == nullptr) return;
    texts_[id] = cp932;
    SetWindowTextW(control, Widen(cp932).c_str());
    // Owner-drawn faces and the coloured statics draw their text themselves.
    InvalidateRect(control, nullptr, TRUE);
}

std::string DialogFrame::Text(int id) const {
    auto found = texts_.find(id);
    return found == texts_.end() ? std::string() : found->second;
}

void DialogFrame::SetCaption(const std::string& cp932) {
    if (window_ != nullptr) SetWindowTextW(window_, Widen(cp932).c_str());
}

void DialogFrame::SetIcon(int id, int iconId) {
    HWND control = Control(id);
    const ControlResource* resource = FindControlResource(resource_.id, id);
    if (control == nullptr || resource == nullptr) return;
    faceIcons_[id] = iconId;
    int size = resolution_.Scale(resource->rect).width;
    if (resource->kind == ControlKind::Icon)
        SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(iconId == 0 ? nullptr : IconImage(iconId, size)),
                     0);
    InvalidateRect(control, nullptr, TRUE);
}

void DialogFrame::EnableMenuItem(int id, bool enable) {
    if (menuBar_ != nullptr)
        ::EnableMenuItem(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

bool DialogFrame::ChooseMenuItem(int id) {
    if (menuBar_ == nullptr) return false;
    logic_.OnInitMenu();
    UINT state = GetMenuState(menuBar_, static_cast<UINT>(id), MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED)) != 0) return false;
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
}

void DialogFrame::EnableSystemClose(bool enable) {
    if (window_ == nullptr) return;
    ::EnableMenuItem(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

void DialogFrame::End(int result) {
    if (ended_) return;  // the first result stands
    ended_ = true;
    result_ = result;
    // Wakes the window's loop, which may be waiting for a message.
    if (window_ != nullptr) PostMessageW(window_, WM_NULL, 0, 0);
}

void DialogFrame::PaintBitmaps(void* context) {
    HDC dc = static_cast<HDC>(context);
    HDC source = CreateCompatibleDC(dc);
    for (const BitmapPlacement& placement : resource_.bitmaps) {
        HBITMAP bitmap = BitmapImage(placement.bitmap, resolution_);
        BITMAP size{};
        if (bitmap == nullptr || GetObjectW(bitmap, sizeof size, &size) == 0) continue;
        HGDIOBJ previous = SelectObject(source, bitmap);
        // White is the drawings' background: the window's colour shows through it.
        TransparentBlt(dc, resolution_.Scale(placement.x), resolution_.Scale(placement.y), size.bmWidth, size.bmHeight,
                       source, 0, 0, size.bmWidth, size.bmHeight, kTransparent);
        SelectObject(source, previous);
    }
    DeleteDC(source);
}

void DialogFrame::DrawButton(const void* item) {
    const auto& draw = *static_cast<const DRAWITEMSTRUCT*>(item);
    bool pushed = (draw.itemState & ODS_SELECTED) != 0;
    bool disabled = (draw.itemState & ODS_DISABLED) != 0;
    RECT face = draw.rcItem;
    DrawFrameControl(draw.hDC, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    auto icon = faceIcons_.find(static_cast<int>(draw.CtlID));
    bool hasIcon = icon != faceIcons_.end() && icon->second != 0;
    int iconSize = resolution_.Scale(kFaceIconSize);
    int iconOffset = resolution_.Scale(kFaceIconOffset);
    if (hasIcon)
        DrawIconEx(draw.hDC, iconOffset, iconOffset, IconImage(icon->second, iconSize), iconSize, iconSize, 0, nullptr,
                   DI_NORMAL);
    RECT textArea = draw.rcItem;
    textArea.left += hasIcon ? iconOffset + iconSize + iconOffset : resolution_.Scale(kFaceTextMargin);
    textArea.right -= resolution_.Scale(kFaceTextMargin);
    SetBkMode(draw.hDC, TRANSPARENT);
    SetTextColor(draw.hDC, GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
    std::wstring text = Widen(Text(static_cast<int>(draw.CtlID)));
    DrawTextW(draw.hDC, text.c_str(), -1, &textArea, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if ((draw.itemState & ODS_FOCUS) != 0) {
        RECT focus = draw.rcItem;
        InflateRect(&focus, -resolution_.Scale(kFaceFocusInset), -resolution_.Scale(kFaceFocusInset));
        DrawFocusRect(draw.hDC, &focus);
    }
}

intptr_t DialogFrame::OnMessage(unsigned message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case WM_COMMAND: {
        UINT code = HIWORD(wParam);
        UINT id = LOWORD(wParam);
        // Buttons, menu items, Esc / Enter from the dialog manager, and the link's click
        // (BN_CLICKED, menus and STN_CLICKED are all 0).
        if (code == 0) logic_.OnCommand(id);
        return TRUE;
    }
    case kScriptedCommandMessage: host_.OnScriptedCommand(resource_.id, static_cast<uint32_t>(wParam)); return TRUE;
    case WM_CLOSE: {
        // The system Close is a Cancel, while the logic allows it.
        UINT state = GetMenuState(GetSystemMenu(window_, FALSE), SC_CLOSE, MF_BYCOMMAND);
        if (state == static_cast<UINT>(-1) || (state & MF_GRAYED) == 0) logic_.OnCommand(IDCANCEL);
        return TRUE;
    }
    case WM_TIMER: logic_.OnTimer(static_cast<uint32_t>(wParam)); return TRUE;
    case platform::WM_MAIN_NOTIFY: logic_.OnNotify(wParam, lParam); return TRUE;
    case WM_INITMENUPOPUP:
        if (HIWORD(lParam) == 0) logic_.OnInitMenu();  // not the system menu
        return TRUE;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.code != LVN_ITEMCHANGED) return FALSE;
        ListArea* list = List(static_cast<int>(header.idFrom));
        if (list == nullptr) return FALSE;
        if (auto change = list->ItemChanged(*reinterpret_cast<const NMLISTVIEW*>(lParam)))
            logic_.OnListItemChanged(*change);
        return TRUE;
    }
    case WM_DEVICECHANGE: {
        // Events of one handle come only for a volume the window registered
        // (View::WatchVolumeRemoval), with that handle, until it unregisters.
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        const bool ofWatchedVolume = header != nullptr && header->dbch_devicetype == DBT_DEVTYP_HANDLE;
        void* volume = ofWatchedVolume ? reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_handle : nullptr;
        LONG_PTR answer = TRUE;
        if (ofWatchedVolume && wParam == DBT_DEVICEQUERYREMOVE) {
            if (!logic_.OnQueryRemoveVolume(volume)) answer = BROADCAST_QUERY_DENY;
        } else if (ofWatchedVolume && wParam == DBT_DEVICEQUERYREMOVEFAILED) {
            logic_.OnVolumeRemoveFailed(volume);
        } else if (ofWatchedVolume && (wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVICEREMOVEPENDING)) {
            logic_.OnVolumeRemoved(volume);
        } else if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE ||
                   wParam == DBT_DEVNODES_CHANGED) {
            // Arrivals, removals and the device tree changing: the machine changed.
            logic_.OnDeviceChange();
        }
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, answer);
        return TRUE;
    }
    case WM_QUERYENDSESSION:
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, logic_.OnQueryEndSession() ? TRUE : FALSE);
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE) logic_.OnEndSession();
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return TRUE;
    case WM_DRAWITEM: DrawButton(reinterpret_cast<const void*>(lParam)); return TRUE;
    case WM_ERASEBKGND: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        RECT client;
        GetClientRect(window_, &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        PaintBitmaps(dc);
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        const ControlResource* control = FindControlResource(resource_.id, id);
        if (control == nullptr) return FALSE;
        if (control->kind == ControlKind::StatusLine) {
            SetTextColor(dc, kStatusText);
            SetBkColor(dc, kStatusBackground);
            return reinterpret_cast<intptr_t>(SolidBrush(kStatusBackground));
        }
        if (control->kind == ControlKind::Link) {
            SetTextColor(dc, kLinkText);
            SetBkColor(dc, kLinkBackground);
            return reinterpret_cast<intptr_t>(SolidBrush(kLinkBackground));
        }
        return FALSE;
    }
    case WM_SETCURSOR: {
        if (host_.WaitCursorShown()) {
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        } else {
            const ControlResource* control =
                FindControlResource(resource_.id, GetDlgCtrlID(reinterpret_cast<HWND>(wParam)));
            if (control == nullptr || control->kind != ControlKind::Link) return FALSE;
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        }
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
    }
    default:
        // The shell's registered message goes to the foreground window only; a dialog answers
        // it through its message result.
        static const UINT queryCancelAutoPlay = RegisterWindowMessageW(L"QueryCancelAutoPlay");
        if (queryCancelAutoPlay == 0 || message != queryCancelAutoPlay) return FALSE;
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, logic_.OnQueryCancelAutoPlay() ? TRUE : FALSE);
        return TRUE;
    }
}

}  // namespace ui::win32
