// Opening a URL as the logged-on user. The program runs elevated (it writes raw volumes), and
// a browser it started itself would inherit the administrator's token: every page and
// download of that browser would run with it. The desktop's shell runs with the user's own
// token, so it is asked to open the URL instead.
#pragma once

#include <string>

namespace ui::win32 {

// S_OK once the desktop's shell opened the URL; S_FALSE when the shell was reached but could
// not open it; a failure HRESULT when there is no desktop shell to ask (Explorer not
// running, or not reachable from this process), and nothing was opened.
[[nodiscard]] long OpenInUserShell(const std::wstring& url);

}  // namespace ui::win32
