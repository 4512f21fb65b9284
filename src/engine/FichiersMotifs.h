// The exclusion patterns files of a run, beside the walk (engine/UDelta.h declares the
// global file's place and loading): the report line of a patterns file that cannot be
// read, which stops its pair.
#pragma once

#include <string>

namespace jumelix {

// "Abandon : fichier d'exclusions illisible, le couple n'est pas traité : " + `chemin` +
// the reason `err` gives (an errno, platform::kPasFichierOrdinaire or platform::kNonPrive).
std::string LigneExclusionsIllisibles(const std::string& chemin, int err);

}  // namespace jumelix
