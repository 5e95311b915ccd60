// MD5 from the CryptoAPI's base provider, in a context without keys.
#include "platform/Md5.h"

#include <algorithm>
#include <cstdint>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace platform {

bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]) {
    HCRYPTPROV provider = 0;
    if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return false;
    HCRYPTHASH hash = 0;
    bool ok = ::CryptCreateHash(provider, CALG_MD5, 0, 0, &hash);
    const auto* bytes = static_cast<const BYTE*>(data);
    // CryptHashData takes a 32-bit length: a larger block goes in pieces.
    for (size_t done = 0; ok && done < length;) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        ok = ::CryptHashData(hash, bytes + done, part, 0);
        done += part;
    }
    DWORD size = MD5_LENGTH;
    ok = ok && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == MD5_LENGTH;
    if (hash) ::CryptDestroyHash(hash);
    ::CryptReleaseContext(provider, 0);
    return ok;
}

}  // namespace platform
