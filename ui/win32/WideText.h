// The program's CP932 text to the UTF-16 the W functions take, and back: the window never
// calls an A function, so it shows the same text on a Windows whose code page is not 932.
#pragma once

#include <string>

#include "platform/CodePage.h"

namespace ui::win32 {

inline std::wstring Widen(const std::string& cp932) {
    std::u16string wide = platform::Cp932ToUtf16(cp932).value_or(std::u16string());
    return std::wstring(wide.begin(), wide.end());
}

inline std::string Narrow(const std::wstring& wide) {
    return platform::Utf16ToCp932(std::u16string(wide.begin(), wide.end())).value_or(std::string());
}

}  // namespace ui::win32
