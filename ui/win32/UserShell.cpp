// The desktop shell's own ShellExecute, reached through its automation objects: the shell
// windows' desktop entry, its top-level browser, the active view, the view's dispatch object,
// and that object's Shell.Application. The call then runs inside Explorer, as the user.
#include "ui/win32/UserShell.h"

#include "platform/win32/Windows.h"
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <wrl/client.h>

namespace ui::win32 {
namespace {

using Microsoft::WRL::ComPtr;

// A VARIANT that frees what it holds.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    explicit Variant(int number) : Variant() {
        value_.vt = VT_I4;
        value_.lVal = number;
    }
    explicit Variant(const wchar_t* text) : Variant() {
        value_.vt = VT_BSTR;
        value_.bstrVal = SysAllocString(text);
    }
    ~Variant() { (void)VariantClear(&value_); }  // nothing to do about a failure to free
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* Address() { return &value_; }
    const VARIANT& Value() const { return value_; }

private:
    VARIANT value_;
};

// The Shell.Application object of the desktop's shell.
HRESULT DesktopShell(ComPtr<IShellDispatch2>& shell) {
    ComPtr<IShellWindows> windows;
    HRESULT result = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&windows));
    if (FAILED(result)) return result;
    Variant desktop(CSIDL_DESKTOP);
    Variant none;
    long handle = 0;
    ComPtr<IDispatch> found;
    result = windows->FindWindowSW(desktop.Address(), none.Address(), SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH, &found);
    if (result != S_OK) return FAILED(result) ? result : E_FAIL;  // S_FALSE: no desktop window
    ComPtr<IServiceProvider> services;
    if (result = found.As(&services); FAILED(result)) return result;
    ComPtr<IShellBrowser> browser;
    if (result = services->QueryService(SID_STopLevelBrowser, IID_PPV_ARGS(&browser)); FAILED(result)) return result;
    ComPtr<IShellView> view;
    if (result = browser->QueryActiveShellView(&view); FAILED(result)) return result;
    ComPtr<IDispatch> background;
    if (result = view->GetItemObject(SVGIO_BACKGROUND, IID_PPV_ARGS(&background)); FAILED(result)) return result;
    ComPtr<IShellFolderViewDual> folderView;
    if (result = background.As(&folderView); FAILED(result)) return result;
    ComPtr<IDispatch> application;
    if (result = folderView->get_Application(&application); FAILED(result)) return result;
    return application.As(&shell);
}

}  // namespace

long OpenInUserShell(const std::wstring& url) {
    ComPtr<IShellDispatch2> shell;
    if (HRESULT found = DesktopShell(shell); FAILED(found)) return found;
    BSTR file = SysAllocString(url.c_str());
    if (file == nullptr) return E_OUTOFMEMORY;
    Variant none, operation(L"open"), show(SW_SHOWNORMAL);
    HRESULT result = shell->ShellExecute(file, none.Value(), none.Value(), operation.Value(), show.Value());
    SysFreeString(file);
    // Reached, the shell reports its own failure to open as S_FALSE or an error alike.
    return result == S_OK ? S_OK : S_FALSE;
}

}  // namespace ui::win32
