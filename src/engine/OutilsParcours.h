// Small helpers of the walk (engine/UDelta.cpp): paths as "/"-separated text, letter
// case, and whether an identical entry still needs its attributes fixed.
#pragma once

#include <string>

#include "platform/FileSystem.h"

namespace jumelix::parcours {

bool EstPointOuPointPoint(const std::string& n);
std::string Joindre(const std::string& dir, const std::string& nom);
std::string NomFinal(const std::string& chemin);
std::string Parent(const std::string& chemin);
// The system's text for an error, trimmed like TexteErreurSysteme but left empty when the
// system has no text.
std::string TexteSystemeSeul(int err);
bool AUneLettre(const std::string& nom);
std::string CasseInversee(const std::string& nom);
// True when the destination entry `d` must be given the mode, owner or (a link) time of
// the source entry `s` although its content is the same.
bool AttributsDifferents(const platform::EntreeRepertoire& s, const platform::EntreeRepertoire& d,
                         bool garderDroits);

}  // namespace jumelix::parcours
