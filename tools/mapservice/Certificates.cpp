// The test CA and the loopback server certificate made with OpenSSL and written as PEM files,
// with random serials, so that clients never confuse the certificates of successive runs.
#include "Certificates.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

namespace mapservice {
namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;

constexpr long kTenYears = 10L * 365 * 24 * 3600;

void Check(bool ok, const char* step) {
    if (!ok) throw std::runtime_error(std::string("certificate creation failed: ") + step);
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    Check(key != nullptr, "key generation");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    Check(extension != nullptr, value);
    Check(X509_add_ext(cert, extension, -1) == 1, "add extension");
    X509_EXTENSION_free(extension);
}

// A certificate for `subjectKey` named `commonName`, signed by issuerKey; self-signed when
// `issuer` is null.
Certificate NewCertificate(EVP_PKEY* subjectKey, const char* commonName, X509* issuer, EVP_PKEY* issuerKey) {
    Certificate cert(X509_new(), &X509_free);
    Check(cert != nullptr, "X509_new");
    Check(X509_set_version(cert.get(), X509_VERSION_3) == 1, "version");

    // Random serials keep clients from confusing certificates of successive runs.
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(BN_new(), &BN_free);
    Check(serial && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1, "serial");
    Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr, "serial");

    Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr, "notBefore");
    Check(X509_gmtime_adj(X509_getm_notAfter(cert.get()), kTenYears) != nullptr, "notAfter");
    Check(X509_set_pubkey(cert.get(), subjectKey) == 1, "public key");

    X509_NAME* name = X509_get_subject_name(cert.get());
    Check(X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Veltrane test"),
                                     -1, -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(commonName),
                                         -1, -1, 0) == 1,
          "subject");
    X509* signer = issuer ? issuer : cert.get();
    Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(signer)) == 1, "issuer");

    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (issuer) {
        AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        AddExtension(cert.get(), signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    }
    Check(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "sign");
    return cert;
}

template <class Write>
void WritePem(const std::filesystem::path& file, Write write) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new_file(file.c_str(), "w"), &BIO_free);
    Check(out != nullptr, file.c_str());
    Check(write(out.get()) == 1, file.c_str());
}

}  // namespace

TestCertificates MakeTestCertificates(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    TestCertificates files{folder / "ca.pem", folder / "server.pem", folder / "server-key.pem"};

    Key caKey = NewKey();
    // Each CA gets a name of its own: two services' CAs of one name (the tests run two at once,
    // and one of them may sit in the test prefix's Root store) would let a chain engine that
    // looks issuers up by name pick the other one and refuse a sound chain.
    unsigned char tag[4];
    Check(RAND_bytes(tag, sizeof tag) == 1, "CA name");
    char caName[64];
    std::snprintf(caName, sizeof caName, "mapservice test CA %02x%02x%02x%02x", tag[0], tag[1], tag[2], tag[3]);
    Certificate ca = NewCertificate(caKey.get(), caName, nullptr, caKey.get());
    Key serverKey = NewKey();
    Certificate server = NewCertificate(serverKey.get(), "localhost", ca.get(), caKey.get());

    WritePem(files.caFile, [&](BIO* out) { return PEM_write_bio_X509(out, ca.get()); });
    WritePem(files.certFile, [&](BIO* out) { return PEM_write_bio_X509(out, server.get()); });
    WritePem(files.keyFile, [&](BIO* out) {
        return PEM_write_bio_PrivateKey(out, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    return files;
}

}  // namespace mapservice
