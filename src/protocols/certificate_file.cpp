#include "protocols/certificate_file.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace kelvrin::protocols {

std::string certificateFileProblem(const std::string& path) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), &BIO_free);
  if (!bio) {
    ERR_clear_error();
    return "The file cannot be read.";
  }
  std::unique_ptr<X509, decltype(&X509_free)> certificate(
      PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), &X509_free);
  ERR_clear_error();
  if (!certificate) return "The file holds no PEM certificate.";
  return {};
}

}  // namespace kelvrin::protocols
