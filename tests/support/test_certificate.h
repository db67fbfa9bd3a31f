#pragma once

// A self-signed certificate made at test time, for the TLS servers of the
// tests (the scripted server, Dovecot, the SMTP server).

#include <string>

namespace kelvrin::test {

struct TestCertificate {
  std::string CertFile;  // PEM certificate; also usable as the client's CA file
  std::string KeyFile;   // PEM private key

  // Writes <directory>/<name>.crt and .key. subjectAltNames in OpenSSL's
  // syntax, e.g. "DNS:localhost,IP:127.0.0.1".
  static TestCertificate Create(const std::string& directory, const std::string& name = "server",
                                const std::string& subjectAltNames = "DNS:localhost,IP:127.0.0.1");
};

}  // namespace kelvrin::test
