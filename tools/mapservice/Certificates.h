// A throw-away certificate authority and a loopback server certificate it signs.
#pragma once

#include <filesystem>

namespace mapservice {

struct TestCertificates {
    std::filesystem::path caFile;    // the CA certificate, PEM: what a client trusts
    std::filesystem::path certFile;  // server certificate for localhost, 127.0.0.1 and ::1
    std::filesystem::path keyFile;   // its private key
};

// Creates a fresh CA and server certificate in `folder` (ca.pem, server.pem,
// server-key.pem), replacing earlier ones. Throws std::runtime_error on failure.
TestCertificates MakeTestCertificates(const std::filesystem::path& folder);

}  // namespace mapservice
