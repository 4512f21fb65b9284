// The checks made before a pair is walked and before a file is copied. Pure rules on text,
// except that the pair check also resolves the existing parts of both paths so that two
// spellings of the same directory are refused. Each refusal reports exactly one line.
#pragma once

#include <functional>
#include <string>

namespace jumelix {

// Receives a report line of the walk (it counts it as an error of the pair).
using TSignaler = std::function<void(const std::string& texte)>;

// Accepts a pair of directory paths ("/"-separated), or reports one line and refuses:
// "Nom de répertoire vide" for a blank path; for paths that are equal or nested (as texts,
// ASCII letter case ignored, or once links are resolved) "Répertoires source et destination
// incompatibles", or "Caratère non autorisé dans le nom de répertoire" when the overlapping
// texts contain "*" or "?".
bool VerifierCouple(const std::string& source, const std::string& destination,
                    const TSignaler& signaler);

// False for a file name (without directory) that is a reserved device name: CON, PRN, AUX
// or NUL, alone or followed by a dot, in any ASCII letter case.
bool NomCorrect(const std::string& nom);

}  // namespace jumelix
