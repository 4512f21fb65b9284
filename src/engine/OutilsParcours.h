// Small helpers of the walk (engine/UDelta.cpp): paths as "/"-separated text, letter
// case, whether an identical entry still needs its attributes fixed, and whether a
// directory is tagged as a cache.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/ListeEntrees.h"
#include "platform/Chemins.h"
#include "platform/FileSystem.h"

namespace jumelix::platform {
class TSystemeFichiers;
}

namespace jumelix::parcours {

using platform::EstPointOuPointPoint;
using platform::Joindre;
using platform::Parent;

// A directory holding a regular file of this name that opens with this signature is a
// cache that backups and mirrors may leave out (the Cache Directory Tagging convention).
inline constexpr const char* kNomMarqueCache = "CACHEDIR.TAG";
inline constexpr std::string_view kSignatureCache = "Signature: 8a477f597d28d172789f06886806bc55";

std::string NomFinal(const std::string& chemin);
// The system's text for an error, trimmed like TexteErreurSysteme but left empty when the
// system has no text.
std::string TexteSystemeSeul(int err);
bool AUneLettre(const std::string& nom);
std::string CasseInversee(const std::string& nom);
// True when the destination entry `d` must be given the mode, owner or (a link) time of
// the source entry `s` although its content is the same.
bool AttributsDifferents(const platform::EntreeRepertoire& s, const platform::EntreeRepertoire& d,
                         bool garderDroits);
// True when the directory `nom` of `parent` is tagged as a cache. Only the tag's first bytes
// are read, through `nom` opened without following a link: its entries are never listed. A
// directory that cannot be opened, or a tag that cannot be read, is not a tagged one.
bool EstCacheMarque(platform::TSystemeFichiers& fs, const platform::TRepertoire& parent,
                    const std::string& nom);
// A level's exclusion predicate (TReglesNiveau::Exclu; empty: nothing excluded).
using TExclu = std::function<bool(std::string_view nom, bool repertoire)>;
// `motifs` widened to the directories of `entrees` (the listing of `source`) tagged as
// caches, so that a destination directory of the same name is kept too. The directories
// `motifs` leaves out already are not looked into.
TExclu AvecCaches(platform::TSystemeFichiers& fs, const platform::TRepertoire& source,
                  const TListeEntrees& entrees, TExclu motifs);

}  // namespace jumelix::parcours
