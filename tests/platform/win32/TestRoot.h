// The test CA as a root the system trusts, in the current user's Root store of the Wine
// prefix, so the WinINet exchanges over HTTPS are tested through the system's trust; the
// program's own bundle is tested with the second service's CA, which no store holds.
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
