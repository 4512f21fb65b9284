#include "app/Journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/UniqueFd.h"

namespace jumelix {

namespace {

std::string& NomProgrammeModifiable() {
  static std::string nom = "jumelix";
  return nom;
}

}  // namespace

void DefinirNomProgramme(const std::string& argv0) {
  std::string nom = argv0.substr(argv0.find_last_of('/') + 1);
  if (!nom.empty()) NomProgrammeModifiable() = nom;
}

const std::string& NomProgramme() { return NomProgrammeModifiable(); }

std::string CalculerCheminJournal(const std::string& nom_programme, const char* xdg_state_home,
                                  const char* home) {
  auto base = platform::CalculerRepertoireXdg(xdg_state_home, home, ".local/state");
  if (!base) return {};
  return *base + "/jumelix/" + nom_programme + ".log";
}

const std::string& CheminJournal() {
  static const std::string chemin = [] {
    std::string home = platform::RepertoirePersonnel();
    return CalculerCheminJournal(NomProgramme(), std::getenv("XDG_STATE_HOME"),
                                 home.empty() ? nullptr : home.c_str());
  }();
  return chemin;
}

std::string CheminJournalFenetre() {
  const std::string& service = CheminJournal();
  if (service.size() < 4) return {};
  std::string chemin = service.substr(0, service.size() - 4);  // without ".log"
  chemin += "-fenetre.log";
  return chemin;
}

int JournaliserDans(const std::string& chemin, const std::string& texte,
                    platform::TRefusPrive* refus) {
  if (chemin.empty()) return ENOENT;
  size_t fin_rep = chemin.find_last_of('/');
  if (fin_rep != std::string::npos && fin_rep > 0) {
    if (int err = platform::CreerRepertoiresPrives(chemin.substr(0, fin_rep)); err != 0) return err;
  }
  platform::TRefusPrive vu;
  int err_ouverture = 0;
  platform::UniqueFd fd(platform::OuvrirJournalPrive(chemin, err_ouverture, refus ? *refus : vu));
  if (!fd.valide()) return err_ouverture;
  // Control characters (a file name's line end) are escaped, so that one call stays one
  // line; only a final line end is kept, the one that gives the counters line's date a
  // line of its own.
  const bool fin_de_ligne = !texte.empty() && texte.back() == '\n';
  std::string ligne = EchapperControles(fin_de_ligne ? texte.substr(0, texte.size() - 1) : texte);
  if (fin_de_ligne) ligne += '\n';
  // Appended piece by piece: a chain of + makes GCC 12 see a false overlap (-Wrestrict).
  ligne += ' ';
  ligne += platform::LocalDateTimeText();
  ligne += '\n';
  // One write: O_APPEND places it atomically at the end, even with another run logging.
  ssize_t n;
  do {
    n = ::write(fd.get(), ligne.data(), ligne.size());
  } while (n < 0 && errno == EINTR);
  int err = n < 0 ? errno : (static_cast<size_t>(n) < ligne.size() ? EIO : 0);
  const int err_fermeture = fd.Fermer();
  return err != 0 ? err : err_fermeture;
}

std::string TexteJournalRefuse(const std::string& chemin, int err,
                               const platform::TRefusPrive& refus) {
  if (err == platform::kNonPrive) return "Journal non écrit : " + DescriptionRefusPrive(refus);
  if (err == ELOOP) return "Journal non écrit : " + chemin + " est un lien symbolique.";
  if (err == platform::kPasFichierOrdinaire) {
    return "Journal non écrit : " + chemin + " n'est pas un fichier ordinaire.";
  }
  return {};
}

void Journaliser(const std::string& texte) {
  static bool dit = false;
  platform::TRefusPrive refus;
  const int err = JournaliserDans(CheminJournal(), texte, &refus);
  const std::string refuse = TexteJournalRefuse(CheminJournal(), err, refus);
  if (!refuse.empty() && !dit) {
    dit = true;
    std::fprintf(stderr, "%s : %s\n", NomProgramme().c_str(), refuse.c_str());
  }
}

}  // namespace jumelix
