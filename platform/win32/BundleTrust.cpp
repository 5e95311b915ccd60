// The bundle check: the server's chain rebuilt with the bundle's certificates, then held to the
// TLS server rules for the host with only an unknown root excused, and that root in the bundle.
#include "platform/win32/BundleTrust.h"

#include <fstream>
#include <iterator>
#include <memory>

#include <wininet.h>

#include "platform/PemBundle.h"

namespace platform::win32 {
namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct ChainFreer {
    void operator()(const CERT_CHAIN_CONTEXT* chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

// Every certificate of a PEM file in a memory store; null when it holds none.
Store ReadBundle(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    const std::string pem((std::istreambuf_iterator<char>(in)), {});
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
    if (!store) return nullptr;
    bool any = false;
    for (const std::string& der : PemCertificates(pem))
        any |= CertAddEncodedCertificateToStore(
                   store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr) != FALSE;
    return any ? std::move(store) : nullptr;
}

}  // namespace

bool ChainsToBundle(PCCERT_CONTEXT server, const std::string& bundle, const std::wstring& host) {
    if (server == nullptr || bundle.empty()) return false;
    Store anchors = ReadBundle(bundle);
    if (!anchors) return false;
    // The chain may use the bundle and what the server sent (its intermediates).
    Store candidates(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
    if (!candidates) return false;
    CertAddStoreToCollection(candidates.get(), anchors.get(), 0, 0);
    if (server->hCertStore != nullptr) CertAddStoreToCollection(candidates.get(), server->hCertStore, 0, 0);

    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    const CERT_CHAIN_CONTEXT* built = nullptr;
    if (!CertGetCertificateChain(nullptr, server, nullptr, candidates.get(), &parameters, 0, nullptr, &built))
        return false;
    Chain chain(built);
    // Only the root's standing may be in doubt (the system does not know it); the bundle
    // decides about the root below. Expiry, signatures and usage must be sound.
    if ((chain->TrustStatus.dwErrorStatus & ~DWORD(CERT_TRUST_IS_UNTRUSTED_ROOT)) != 0) return false;
    if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
    PCCERT_CONTEXT anchor =
        CertFindCertificateInStore(anchors.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr);
    if (anchor == nullptr) return false;
    CertFreeCertificateContext(anchor);

    // The server's name and the rest of the TLS server rules, the unknown root excepted.
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status) &&
           status.dwError == 0;
}

}  // namespace platform::win32
