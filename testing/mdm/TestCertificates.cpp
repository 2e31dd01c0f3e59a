#include "testing/mdm/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

namespace mdm {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

bool addExtension(X509* cert, X509* issuer, const char* name, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_nconf(nullptr, &ctx, name, value);
  if (!ext) return false;
  const bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

Cert makeCert(EVP_PKEY* key, const std::string& commonName, long serial, X509* issuer, EVP_PKEY* issuerKey, bool ca) {
  Cert cert(X509_new(), X509_free);
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 30);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject);
  X509* signer = issuer ? issuer : cert.get();
  bool ok = true;
  if (ca) {
    ok = addExtension(cert.get(), signer, "basicConstraints", "critical,CA:TRUE") &&
         addExtension(cert.get(), signer, "keyUsage", "critical,keyCertSign,cRLSign");
  } else {
    ok = addExtension(cert.get(), signer, "basicConstraints", "critical,CA:FALSE") &&
         addExtension(cert.get(), signer, "subjectAltName", "DNS:localhost,IP:127.0.0.1") &&
         addExtension(cert.get(), signer, "extendedKeyUsage", "serverAuth");
  }
  if (!ok || X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0) return Cert(nullptr, X509_free);
  return cert;
}

bool writeCert(const std::filesystem::path& path, X509* cert) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  const bool ok = PEM_write_X509(f, cert) == 1;
  return std::fclose(f) == 0 && ok;
}

bool writeKey(const std::filesystem::path& path, EVP_PKEY* key) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  ::chmod(path.c_str(), 0600);
  const bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool makeCertificates(const std::filesystem::path& folder, const std::string& name, CertificateFiles* out) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  Key caKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
  Key serverKey(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!caKey || !serverKey) return false;
  Cert ca = makeCert(caKey.get(), name + " test authority", 1, nullptr, nullptr, true);
  if (!ca) return false;
  Cert server = makeCert(serverKey.get(), "localhost", 2, ca.get(), caKey.get(), false);
  if (!server) return false;
  CertificateFiles files{folder / (name + "-ca.pem"), folder / (name + "-server.pem"), folder / (name + "-server.key")};
  if (!writeCert(files.caCert, ca.get()) || !writeCert(files.serverCert, server.get()) ||
      !writeKey(files.serverKey, serverKey.get()))
    return false;
  if (out) *out = files;
  return true;
}

}  // namespace mdm
