// MD5 from the CryptoAPI's base provider, in a context without keys.
#include "platform/Md5.h"

#include <algorithm>
#include <cstdint>

#include "platform/win32/Windows.h"
#include <wincrypt.h>

namespace platform {

struct Md5Context::State {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = false;
};

Md5Context::Md5Context() : state_(std::make_unique<State>()) {
    state_->ok = ::CryptAcquireContextW(&state_->provider, nullptr, nullptr, PROV_RSA_FULL,
                                        CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
                 ::CryptCreateHash(state_->provider, CALG_MD5, 0, 0, &state_->hash);
}

Md5Context::~Md5Context() {
    if (state_->hash) ::CryptDestroyHash(state_->hash);
    if (state_->provider) ::CryptReleaseContext(state_->provider, 0);
}

bool Md5Context::Update(const void* data, size_t length) {
    const auto* bytes = static_cast<const BYTE*>(data);
    // CryptHashData takes a 32-bit length: a larger block goes in pieces.
    for (size_t done = 0; state_->ok && done < length;) {
        const DWORD part = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
        state_->ok = ::CryptHashData(state_->hash, bytes + done, part, 0);
        done += part;
    }
    return state_->ok;
}

bool Md5Context::Finish(unsigned char (&digest)[MD5_LENGTH]) {
    DWORD size = MD5_LENGTH;
    bool done = state_->ok && ::CryptGetHashParam(state_->hash, HP_HASHVAL, digest, &size, 0) && size == MD5_LENGTH;
    state_->ok = false;
    return done;
}

bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]) {
    Md5Context context;
    return context.Update(data, length) && context.Finish(digest);
}

}  // namespace platform
