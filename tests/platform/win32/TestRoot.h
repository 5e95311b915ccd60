// The test CA as a root the system trusts, in the current user's Root store of the Wine
// prefix. Wine's WinINet keeps no certificate of a handshake it refused, so the program's own
// bundle check never gets to run there; the HTTPS exchanges under Wine are tested through the
// system's trust instead, and the bundle check on its own against the same certificates.
#pragma once

#include <string>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace testroot {

// The first certificate of a native PEM file; null when it holds none. The caller frees it.
PCCERT_CONTEXT ReadCertificate(const std::string& pemPath);

// The first certificate of a PEM file, added to or removed from the Root store.
bool Trust(const std::string& pemPath);
bool Distrust(const std::string& pemPath);

}  // namespace testroot
