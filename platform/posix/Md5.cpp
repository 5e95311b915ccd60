// MD5 through OpenSSL's digest interface.
#include "platform/Md5.h"

#include <openssl/evp.h>

#include <memory>

namespace platform {

bool Md5(const void* data, size_t length, unsigned char (&digest)[MD5_LENGTH]) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned int written = 0;
    return context && EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) == 1 &&
           EVP_DigestUpdate(context.get(), data, length) == 1 &&
           EVP_DigestFinal_ex(context.get(), digest, &written) == 1 && written == MD5_LENGTH;
}

}  // namespace platform
