#pragma once
// Certificates for HTTPS on loopback, made with OpenSSL at test time: a certificate
// authority of our own, and a server certificate for "localhost" and 127.0.0.1 signed by it.
// Clients that are given the authority's file trust the server; nothing else does.

#include <filesystem>
#include <string>

namespace mdm {

struct CertificateFiles {
  std::filesystem::path caCert;      // the authority's certificate (what clients trust)
  std::filesystem::path serverCert;  // the server's certificate, signed by the authority
  std::filesystem::path serverKey;
};

// Writes "<name>-ca.pem", "<name>-server.pem" and "<name>-server.key" into `folder`
// (created when missing; the key with mode 0600). Returns false on any failure.
bool makeCertificates(const std::filesystem::path& folder, const std::string& name, CertificateFiles* out);

}  // namespace mdm
