// The program's own certificate bundle (ca-bundle.pem in its folder) beside the system store,
// which is all WinINet trusts: a server certificate the system refuses is accepted when its
// chain ends at a certificate of the bundle and it is valid for the host name now.
#pragma once

#include <string>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace platform::win32 {

// `bundle` is a native PEM file; a missing or empty file accepts nothing.
bool ChainsToBundle(PCCERT_CONTEXT server, const std::string& bundle, const std::wstring& host);

}  // namespace platform::win32
