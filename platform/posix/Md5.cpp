// MD5 through OpenSSL's digest interface.
#include "platform/Md5.h"

#include <openssl/evp.h>

namespace platform {

struct Md5Context::State {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
    bool ok = false;
};

Md5Context::Md5Context() : state_(std::make_unique<State>()) {
    state_->ok = state_->context && EVP_DigestInit_ex(state_->context.get(), EVP_md5(), nullptr) == 1;
}

Md5Context::~Md5Context() = default;

bool Md5Context::Update(const void* data, size_t length) {
    state_->ok = state_->ok && EVP_DigestUpdate(state_->context.get(), data, length) == 1;
    return state_->ok;
}

bool Md5Context::Finish(unsigned char (&digest)[MD5_LENGTH]) {
    unsigned int written = 0;
    bool done = state_->ok && EVP_DigestFinal_ex(state_->context.get(), digest, &written) == 1 && written == MD5_LENGTH;
    state_->ok = false;
    return done;
}

bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]) {
    Md5Context context;
    return context.Update(data, length) && context.Finish(digest);
}

}  // namespace platform
