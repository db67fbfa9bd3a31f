#pragma once

// Comparing texts the way names and list entries are compared: bytes one by
// one as unsigned codes, the ASCII letters A-Z folded to a-z, every other
// byte (UTF-8 or Latin-1 alike) as it is.

#include <string_view>

namespace kelvrin::base {

// <0, 0 or >0; a text that is a prefix of another sorts first.
int compareFoldingAscii(std::string_view a, std::string_view b);
bool equalFoldingAscii(std::string_view a, std::string_view b);

}  // namespace kelvrin::base
