#include "support/test_certificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdio.h>

#include <memory>
#include <stdexcept>

namespace kelvrin::test {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what + " failed");
}

void addExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  check(extension != nullptr, "X509V3_EXT_conf_nid");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

}  // namespace

TestCertificate TestCertificate::Create(const std::string& directory, const std::string& name,
                                        const std::string& subjectAltNames) {
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  check(key != nullptr, "EVP_EC_gen");
  std::unique_ptr<X509, void (*)(X509*)> cert(X509_new(), X509_free);
  check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  static long serial = 1;
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), subject);
  addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert.get(), NID_subject_alt_name, subjectAltNames);
  check(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0, "X509_sign");

  TestCertificate result{directory + "/" + name + ".crt", directory + "/" + name + ".key"};
  FILE* out = fopen(result.CertFile.c_str(), "w");
  check(out != nullptr, "fopen");
  check(PEM_write_X509(out, cert.get()) == 1, "PEM_write_X509");
  fclose(out);
  out = fopen(result.KeyFile.c_str(), "w");
  check(out != nullptr, "fopen");
  check(PEM_write_PrivateKey(out, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_PrivateKey");
  fclose(out);
  return result;
}

}  // namespace kelvrin::test
