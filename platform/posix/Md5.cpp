// MD5 through OpenSSL's digest interface.
#include "platform/Md5.h"

#include <openssl/evp.h>

namespace platform {

struct Md5Hasher::State {
    ~State() { EVP_MD_CTX_free(context); }
    EVP_MD_CTX* context = nullptr;
    bool ok = false;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    state_->ok = state_->context != nullptr && EVP_DigestInit_ex(state_->context, EVP_md5(), nullptr) == 1;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Add(const void* data, size_t length) {
    state_->ok = state_->ok && EVP_DigestUpdate(state_->context, data, length) == 1;
    return state_->ok;
}

bool Md5Hasher::Finish(unsigned char (&digest)[MD5_LENGTH]) {
    unsigned int written = 0;
    const bool ok = state_->ok && EVP_DigestFinal_ex(state_->context, digest, &written) == 1 && written == MD5_LENGTH;
    state_->ok = false;
    return ok;
}

}  // namespace platform
