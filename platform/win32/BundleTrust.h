// The program's own certificate bundle (ca-bundle.pem in its folder) for WinINet, which
// trusts only the system store: a server certificate the system refuses is accepted when its
// chain ends at a certificate of the bundle and it is valid for the host name now.
#pragma once

#include <string>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace platform::win32 {

// `bundle` is a native PEM file; a missing or empty file accepts nothing.
bool ChainsToBundle(PCCERT_CONTEXT server, const std::string& bundle, const std::wstring& host);

// True when both are the same certificate, byte for byte. CertCompareCertificate compares
// issuer and serial only, which anyone can copy into a certificate of their own.
bool SameCertificate(PCCERT_CONTEXT first, PCCERT_CONTEXT second);

}  // namespace platform::win32
