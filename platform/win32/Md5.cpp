// MD5 from the CryptoAPI's base provider, in a context without keys.
#include "platform/Md5.h"

#include <algorithm>
#include <cstdint>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace platform {

struct Md5Hasher::State {
    ~State() {
        if (hash) ::CryptDestroyHash(hash);
        if (provider) ::CryptReleaseContext(provider, 0);
    }
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = false;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
    state_->ok = ::CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_FULL,
                                        CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                 ::CryptCreateHash(state_->provider, CALG_MD5, 0, 0, &state_->hash);
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Add(const void* data, size_t length) {
    const auto* bytes = static_cast<const BYTE*>(data);
    // CryptHashData takes a 32-bit length: a larger block goes in pieces.
    for (size_t done = 0; state_->ok && done < length;) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        state_->ok = ::CryptHashData(state_->hash, bytes + done, part, 0);
        done += part;
    }
    return state_->ok;
}

bool Md5Hasher::Finish(unsigned char (&digest)[MD5_LENGTH]) {
    DWORD size = MD5_LENGTH;
    const bool ok = state_->ok && ::CryptGetHashParam(state_->hash, HP_HASHVAL, digest, &size, 0) && size == MD5_LENGTH;
    state_->ok = false;
    return ok;
}

}  // namespace platform
