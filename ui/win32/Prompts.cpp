// The message box with its caption and labels set by a CBT hook, its scripted answer pressed
// from its own loop; the proxy prompt from a built template; the format dialog and folder browser.
#include "ui/win32/Prompts.h"

#include <cstring>
#include <vector>

#include "ui/win32/DialogTemplate.h"
#include "ui/win32/WideText.h"

#include "platform/win32/Windows.h"
#include <shlobj.h>
#undef MessageBox

namespace ui::win32 {
namespace {

// The box being raised on this thread: the hook finds it in its first activation.
struct BoxHook {
    HHOOK hook = nullptr;
    const platform::MessageBoxRequest* request = nullptr;
    std::optional<ScriptedBoxAnswer> scripted;
};
thread_local BoxHook* currentBox = nullptr;

constexpr UINT_PTR kAnswerTimer = 0x5643;  // the scripted answer's timer on the box

void __stdcall PressScriptedAnswer(HWND box, UINT, UINT_PTR timer, DWORD) {
    KillTimer(box, timer);
    BoxHook* hook = currentBox;
    if (hook == nullptr || !hook->scripted) return;
    if (hook->scripted->shoot) hook->scripted->shoot(box);
    bool cancel = hook->scripted->answer == IDCANCEL && (hook->request->type & 0x0F) == MB_OKCANCEL;
    int button = cancel ? IDCANCEL : IDOK;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

LRESULT __stdcall BoxActivated(int code, WPARAM wParam, LPARAM lParam) {
    BoxHook* hook = currentBox;
    if (hook == nullptr) return 0;
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        UnhookWindowsHookEx(hook->hook);  // the first activation is the box's; once is enough
        hook->hook = nullptr;
        SetWindowTextW(box, Widen(hook->request->caption).c_str());
        SetDlgItemTextW(box, IDOK, L"OK");
        if ((hook->request->type & 0x0F) == MB_OKCANCEL)
            SetDlgItemTextW(box, IDCANCEL, hook->request->englishLabels ? L"Cancel" : L"キャンセル");
        // The answer is pressed from the box's own loop, once it is shown.
        if (hook->scripted) SetTimer(box, kAnswerTimer, 10, &PressScriptedAnswer);
        return 0;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The proxy prompt's template: a line of text, user name and password with their labels, OK
// and Cancel, in dialog units of the 8-point dialog font.
constexpr int kUserEdit = 1001;
constexpr int kPasswordEdit = 1002;

std::vector<DWORD> ProxyTemplate(const std::string& proxy) {
    using namespace style;
    DialogTemplateDescription description;
    description.title = u"プロキシの認証";
    description.style = kPopup | kCaption | kSysMenu | kDsModalFrame | kVisible;
    description.dialogUnits = {0, 0, 240, 92};
    description.fontFace = u"MS Shell Dlg";
    std::wstring line = L"プロキシ " + Widen(proxy) + L" のユーザー名とパスワードを入力してください。";
    auto item = [](ControlClass cls, uint32_t style, int id, std::u16string text, Rect r) {
        TemplateItem i;
        i.classAtom = static_cast<uint16_t>(cls);
        i.style = kChild | kVisible | style;
        i.id = id;
        i.text = std::move(text);
        i.dialogUnits = r;
        return i;
    };
    description.items = {
        item(ControlClass::Static, kSsLeft, 0xFFFF, std::u16string(line.begin(), line.end()), {7, 7, 226, 20}),
        item(ControlClass::Static, kSsLeft, 0xFFFF, u"ユーザー名:", {7, 32, 60, 10}),
        item(ControlClass::Edit, kBorder | kTabStop | kEsAutoHScroll, kUserEdit, u"", {70, 30, 163, 13}),
        item(ControlClass::Static, kSsLeft, 0xFFFF, u"パスワード:", {7, 50, 60, 10}),
        item(ControlClass::Edit, kBorder | kTabStop | kEsAutoHScroll | kEsPassword, kPasswordEdit, u"",
             {70, 48, 163, 13}),
        item(ControlClass::Button, kTabStop | kBsDefPushButton, IDOK, u"OK", {129, 71, 50, 14}),
        item(ControlClass::Button, kTabStop | kBsPushButton, IDCANCEL, u"キャンセル", {183, 71, 50, 14}),
    };
    std::vector<uint8_t> bytes = BuildDialogTemplate(description);
    std::vector<DWORD> aligned((bytes.size() + 3) / 4);
    std::memcpy(aligned.data(), bytes.data(), bytes.size());
    return aligned;
}

struct ProxyAnswer {
    std::wstring user, password;
};

std::wstring ItemText(HWND dialog, int id) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(GetDlgItem(dialog, id))) + 1, L'\0');
    text.resize(static_cast<size_t>(GetDlgItemTextW(dialog, id, text.data(), static_cast<int>(text.size()))));
    return text;
}

INT_PTR __stdcall ProxyProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    auto* answer = reinterpret_cast<ProxyAnswer*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (LOWORD(wParam) == IDOK) {
        answer->user = ItemText(dialog, kUserEdit);
        answer->password = ItemText(dialog, kPasswordEdit);
        EndDialog(dialog, IDOK);
    } else if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    }
    return TRUE;
}

int __stdcall BrowseStarted(HWND browser, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data != 0) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}

}  // namespace

int ShowMessageBox(const platform::MessageBoxRequest& request, HWND owner, std::optional<ScriptedBoxAnswer> scripted) {
    BoxHook hook{nullptr, &request, std::move(scripted)};
    BoxHook* outer = currentBox;  // a box raised from inside another box's loop
    currentBox = &hook;
    hook.hook = SetWindowsHookExW(WH_CBT, &BoxActivated, nullptr, GetCurrentThreadId());
    int answer = MessageBoxW(request.owned ? owner : nullptr, Widen(request.text).c_str(),
                             Widen(request.caption).c_str(), request.type);
    if (hook.hook != nullptr) UnhookWindowsHookEx(hook.hook);
    currentBox = outer;
    return answer == IDCANCEL && (request.type & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK;
}

std::optional<platform::ProxyCredentials> AskProxyCredentials(const std::string& proxy, HWND owner) {
    std::vector<DWORD> dialog = ProxyTemplate(proxy);
    ProxyAnswer answer;
    INT_PTR result =
        DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), owner,
                                &ProxyProcedure, reinterpret_cast<LPARAM>(&answer));
    if (result != IDOK) return std::nullopt;
    return platform::ProxyCredentials{Narrow(answer.user), Narrow(answer.password)};
}

std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder, HWND owner) {
    std::wstring heading = Widen(title);
    std::wstring start = Widen(initialFolder);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = heading.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    info.lpfn = &BrowseStarted;
    info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
    if (chosen == nullptr) return std::nullopt;
    wchar_t path[MAX_PATH] = {};
    bool named = SHGetPathFromIDListW(chosen, path) != FALSE;
    CoTaskMemFree(chosen);
    if (!named) return std::nullopt;
    return Narrow(path);
}

}  // namespace ui::win32
