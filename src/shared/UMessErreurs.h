// Texts of system error numbers for report lines and message boxes. Pure functions over
// the system's own texts (in the user's language); never empty for a non-zero number.
#pragma once

#include <string>
#include <vector>

#include "platform/Prive.h"

namespace jumelix {

// The system's text for `err`, with every trailing blank, control character and dot
// removed; "Erreur n°" + number when the system has no text or nothing remains.
std::string TexteErreurSysteme(int err);

// The empty text for 0; otherwise the system's text, without a final CR LF when that is
// its only line end; "Erreur n°" + number when the system has no text.
std::string MessageErreurSysteme(int err);

// What a refused settings or state place is, in French ("le répertoire X appartient à un
// autre utilisateur (uid N) que celui qui lance Jumelix (uid M)."); TexteRefusPrive puts
// "Réglages refusés : " before it.
std::string DescriptionRefusPrive(const platform::TRefusPrive& refus);
std::string TexteRefusPrive(const platform::TRefusPrive& refus);

// The first of the settings places `chemins` (directories or files; absent ones pass) that
// fails platform::ControlerPrive, as TexteRefusPrive says it; "" when none does.
std::string RefusReglages(const std::vector<std::string>& chemins);

}  // namespace jumelix
