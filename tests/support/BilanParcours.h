// What one walk of the engine produced, for the engine's tests: its report lines in order,
// its result, the counters it moved and its notes; Traiter runs one walk and collects them.
// Header only: the test binary that includes it brings the engine.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "support/SortieCommande.h"

namespace jumelix::test {

// What one walk produced: its lines in order, its result, the counters it moved, its notes.
struct Bilan {
  std::vector<std::string> lignes;
  std::vector<int> numeros;
  std::vector<int> causes;  // each line's system error (0: none)
  int resultat = -1;
  int copies = 0, supprimes = 0, identiques = 0;
  bool abandon = false;              // the run-wide stop flag once the walk returned
  std::vector<TRemarque> remarques;  // the notes, told to `etat`'s own SurRemarque as well

  std::vector<std::string> Tries() const {
    std::vector<std::string> v = lignes;
    std::sort(v.begin(), v.end());
    return v;
  }
  size_t Position(const std::string& ligne) const {
    return static_cast<size_t>(std::find(lignes.begin(), lignes.end(), ligne) - lignes.begin());
  }
  // Text form, to bring a walk run in a child process back to the test.
  std::string Serialiser() const {
    std::ostringstream o;
    o << resultat << ' ' << copies << ' ' << supprimes << ' ' << identiques << '\n';
    for (const std::string& l : lignes) o << l << '\n';
    return o.str();
  }
  static Bilan Relire(const std::string& texte) {
    Bilan b;
    std::istringstream i(texte);
    i >> b.resultat >> b.copies >> b.supprimes >> b.identiques;
    std::string l;
    std::getline(i, l);
    while (std::getline(i, l)) b.lignes.push_back(l);
    return b;
  }
};

// One walk of the pair with fresh run-wide state, or with `etat` when a test must watch
// the counters from its callbacks.
inline Bilan Traiter(const std::string& s, const std::string& d, bool comparer,
                     const TSurAvancement& avancement = {}, TEtatRun* etat = nullptr) {
  TEtatRun local;
  TEtatRun& e = etat != nullptr ? *etat : local;
  Bilan b;
  const TSurRemarque remarque = e.SurRemarque;
  e.SurRemarque = [&](const TRemarque& r) {
    b.remarques.push_back(r);
    if (remarque) remarque(r);
  };
  b.resultat = TraiterCouple(
      s, d, comparer,
      [&](const std::string& t, int n, int erreur) {
        b.lignes.push_back(t);
        b.numeros.push_back(n);
        b.causes.push_back(erreur);
      },
      avancement, e);
  e.SurRemarque = remarque;
  b.copies = e.NbCopies;
  b.supprimes = e.NbSupprimes;
  b.identiques = e.NbIdentiques;
  b.abandon = e.Abandon;
  return b;
}

// One walk of the pair through the file-system seam `systeme` (one that fails on demand).
inline Bilan Traiter(const std::string& s, const std::string& d, bool comparer,
                     platform::TSystemeFichiers& systeme) {
  TEtatRun etat;
  etat.Systeme = &systeme;
  return Traiter(s, d, comparer, {}, &etat);
}

// What `rsync -a --delete -n -i --checksum` would still change to make `destination` a
// mirror of `source` (one line per entry; empty when they are identical). "?" when rsync
// could not be run. `options` go to rsync as well (an --exclude, say).
inline std::string EcartsRsync(const std::string& source, const std::string& destination,
                               const std::string& options = {}) {
  const std::string commande = "rsync -a --delete -n -i --checksum " + options + " '" + source +
                               "/' '" + destination + "/' 2>&1";
  std::string sortie;
  return LireSortie(commande, sortie) ? sortie : "? " + sortie;
}

}  // namespace jumelix::test
