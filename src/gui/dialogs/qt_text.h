#pragma once

// Text between the core (8-bit strings) and Qt. The dialogs show the bytes
// as UTF-8, the program's display encoding, and break lines at CR, CR LF
// and LF alike, since the system's own texts use a bare CR.

#include <QString>
#include <string>
#include <string_view>

namespace kelvrin::gui {

QString qtText(std::string_view bytes);
std::string coreText(const QString& text);

}  // namespace kelvrin::gui
