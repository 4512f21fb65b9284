// A failure met by the walk, made once where it happens: what failed, the system's error
// (0 when the call gave none) and the paths it concerns. The report's line is made from it
// in one place (TexteEchec), so that every line of one kind reads the same; the error
// stays with it for whoever has room to show the cause.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace jumelix {

struct TEchec {
  enum class Quoi : uint8_t {
    LireCible,            // a destination directory (chemin)
    LireSource,           // a source directory (chemin)
    Creer,                // a destination directory (chemin)
    Copier,               // the source file chemin to the destination autre
    SupprimerFichier,     // chemin
    SupprimerRepertoire,  // chemin
    Renommer,             // chemin to the name autre (a change of case)
    Attributs,            // chemin
    EcrireSurDisque,      // the flush of the destination root chemin
    LireMotifs,           // the patterns file chemin
  };
  TEchec(Quoi q, int err, std::string c, std::string a = {})
      : quoi(q), erreur(err), chemin(std::move(c)), autre(std::move(a)) {}
  Quoi quoi;
  int erreur = 0;
  std::string chemin, autre;
};

// The report's line for `e`, as the user has always read it.
std::string TexteEchec(const TEchec& e);
// The system error (an errno value) behind `e`, 0 when there is none: the copy's own
// codes (not a regular file, changed while copied) are not system errors.
inline int CauseEchec(const TEchec& e) { return e.erreur > 0 ? e.erreur : 0; }

}  // namespace jumelix
