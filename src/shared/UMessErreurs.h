// Texts of system error numbers for report lines and message boxes. Pure functions over
// the system's own texts (in the user's language); never empty for a non-zero number.
#pragma once

#include <string>

namespace jumelix {

// The system's text for `err`, with every trailing blank, control character and dot
// removed; "Erreur n°" + number when the system has no text or nothing remains.
std::string TexteErreurSysteme(int err);

// The empty text for 0; otherwise the system's text, without a final CR LF when that is
// its only line end; "Erreur n°" + number when the system has no text.
std::string MessageErreurSysteme(int err);

}  // namespace jumelix
