// The result of a run without window as a JSON document (--json), for monitoring: when it
// ran, each pair's state and counters, its report lines, the exit status. Pure text; the
// caller writes it (atomically, so that a reader always sees a whole run).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/UJumelix.h"

namespace jumelix {

struct TResultatRun {
  int64_t debut = 0, fin = 0;  // seconds since the epoch
  std::string fichier_liste;
  bool simulation = false;  // a dry run: compared only
  std::vector<TBilanCouple> couples;
  int code_sortie = 0;
};

// `texte` as a JSON string, quotes included: quotes, backslashes and control characters
// escaped, each byte that is not part of valid UTF-8 replaced by U+FFFD.
std::string ChaineJson(std::string_view texte);

// The machine word of a pair's outcome: "identique" (a comparison found no difference),
// "synchronise", "erreurs" (report lines: errors, or a comparison's differences),
// "abandonne" (stopped), "non-traite" (left out of the run).
std::string ResultatCouple(const TBilanCouple& couple, bool simulation);

// The whole document, ending with a line end.
std::string TexteJson(const TResultatRun& resultat);

}  // namespace jumelix
