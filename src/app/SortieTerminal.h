// What a run started from the command line writes beside the log: the itemized changes
// (-i) and a dry run's report on standard output, the progress line on standard error;
// and the report lines with their causes, which the window's report shows as well.
// The texts are pure functions; TVueTerminal owns the progress line and keeps it from
// mixing with other output. Single-threaded: the run controller's thread only.
#pragma once

#include <cstddef>
#include <string>

#include "app/UJumelix.h"
#include "app/VueJumelix.h"
#include "engine/UDelta.h"

namespace jumelix {

// One -i line: an 11-column verb, then the destination path ("/" after a directory), so
// that grep and cut find them:
//   "créé       /d/rep/", "créé       /d/f (1 234 octets)",
//   "remplacé   /d/f (1 234 octets) -> archivé dans /d/.jumelix-archive/.../f",
//   "attributs  /d/f", "supprimé   /d/vieux", "archivé    /d/vieux -> /d/.jumelix-archive/...".
// A dry run knows no archive folder yet: its lines stop before " -> ...". Control
// characters in paths are escaped.
std::string TexteAction(const TAction& action);
// The itemised output's line of a note on a pair (TRemarque).
std::string TexteRemarque(const TRemarque& remarque);
// A report line `ligne` (escaped already) with the system error behind it (0: none): its
// text when the line does not say it already, then its symbolic name:
//   "Impossible de créer /d/rep : Permission non accordée (EACCES)".
std::string LigneAvecCause(const std::string& ligne, int erreur);
// The itemised output's line of a synchronisation's report line: "erreur     " and
// LigneAvecCause.
std::string TexteErreur(const std::string& ligne, int erreur);
// A pair's report lines with their causes, one per line, at most `max` of them, then how
// many more there are: the window shows it over the pair's count of errors.
std::string TexteErreursCouple(const TBilanCouple& couple, size_t max = 20);

// The progress line, at most `largeur` characters (0: no limit): pair i/n, entries done,
// bytes copied and their rate, time elapsed (no total is known, so no time left), then the
// folder being walked, its start elided ("…") to fit.
std::string TexteAvancement(const TAvancementRun& avancement, size_t largeur);

// The headless view of a command-line run: service mode's, plus a progress line on
// standard error (when `avancement`), redrawn in place and erased before any other line
// is written and at the end.
class TVueTerminal : public TVueSansFenetre {
 public:
  explicit TVueTerminal(bool avancement) : avancement_(avancement) {}
  ~TVueTerminal() override { Effacer(); }
  TVueTerminal(const TVueTerminal&) = delete;
  TVueTerminal& operator=(const TVueTerminal&) = delete;

  void AjouterLog(const std::string& ligne) override;
  TReponseMessage Message(const std::string& texte, const std::string& titre,
                          TBoutonsMessage boutons, TIconeMessage icone) override;
  void AfficherAvancement(const TAvancementRun& avancement) override;

  // One line on standard output.
  void Sortie(const std::string& ligne);
  // Erases the progress line, if shown.
  void Effacer();

 private:
  bool avancement_;
  bool affiche_ = false;
};

}  // namespace jumelix
