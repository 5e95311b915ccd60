// The test CA added to and removed from the current user's Root store through the CryptoAPI.
#include "TestRoot.h"

#include <fstream>
#include <iterator>

namespace testroot {
namespace {

HCERTSTORE OpenRoot() { return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"); }

}  // namespace

PCCERT_CONTEXT ReadCertificate(const std::string& pemPath) {
    std::ifstream in(pemPath, std::ios::binary);
    std::string pem((std::istreambuf_iterator<char>(in)), {});
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr))
        return nullptr;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr))
        return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size);
}

bool Trust(const std::string& pemPath) {
    PCCERT_CONTEXT certificate = ReadCertificate(pemPath);
    HCERTSTORE root = OpenRoot();
    bool added = certificate != nullptr && root != nullptr &&
                 CertAddCertificateContextToStore(root, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (root != nullptr) CertCloseStore(root, 0);
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
    return added;
}

bool Distrust(const std::string& pemPath) {
    PCCERT_CONTEXT certificate = ReadCertificate(pemPath);
    HCERTSTORE root = OpenRoot();
    bool removed = false;
    if (certificate != nullptr && root != nullptr) {
        PCCERT_CONTEXT found =
            CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
        removed = found != nullptr && CertDeleteCertificateFromStore(found);  // frees `found`
    }
    if (root != nullptr) CertCloseStore(root, 0);
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
    return removed;
}

}  // namespace testroot
