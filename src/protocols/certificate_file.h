#pragma once

// Whether a file can serve as the extra trusted certificates of a TLS
// connection: a readable PEM file with at least one certificate.

#include <string>

namespace kelvrin::protocols {

// Empty when the file is usable, else the reason in a sentence.
std::string certificateFileProblem(const std::string& path);

}  // namespace kelvrin::protocols
