// Program entry. Decides the mode from the command line before any Qt object exists:
// service mode (/S) runs without any display, the windows are started only otherwise.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Journal.h"
#include "app/Programme.h"
#include "app/RapportMail.h"
#include "app/UJumelix.h"
#include "mail/ConfigMail.h"
#include "mail/RapportMailSmtp.h"
#include "mail/UMonMail.h"
#ifdef JUMELIX_HAS_GUI
#include "gui/LancerInterface.h"
#endif

#ifndef JUMELIX_VERSION
#define JUMELIX_VERSION "inconnue"
#endif

namespace {

// The report mail of both modes: the settings file is read once at start, and the run
// sends its report through SMTP with those settings.
void InstallerMail() {
  jumelix::ParametresMail();
  jumelix::InstallerRapportMail(std::make_unique<jumelix::TRapportMailSmtp>());
  // Read at each run: what the "Options..." dialog sets applies to the next run.
  jumelix::InstallerJoursArchive([] { return jumelix::ParametresMail().JoursArchive; });
  jumelix::InstallerIgnorerCaches([] { return jumelix::ParametresMail().IgnorerCaches; });
}

// The tests meet the mail's time limit without waiting its full 30 s: a shorter one, in
// milliseconds, from the environment. Never longer, and ignored unless a plain number.
void RaccourcirDelaiMail() {
  const char* texte = std::getenv("JUMELIX_DELAI_MAIL_MS");
  if (texte == nullptr || *texte < '0' || *texte > '9') return;
  char* fin = nullptr;
  const unsigned long delai = std::strtoul(texte, &fin, 10);
  if (*fin == '\0' && delai > 0 && delai < jumelix::TMonMail::kDelaiEnvoiMs) {
    jumelix::TMonMail::DefinirDelaiPourTests(static_cast<uint32_t>(delai));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const std::string argv0 = argc > 0 && argv[0] != nullptr ? argv[0] : "jumelix";
  jumelix::DefinirNomProgramme(argv0);
  const std::string nom = argv0.substr(argv0.find_last_of('/') + 1);

  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const jumelix::TLigneCommande ligne = jumelix::AnalyserLigneCommande(arguments);
  if (!ligne.Erreur.empty()) {
    std::fprintf(stderr, "%s : %s\nEssayez « %s --help ».\n", nom.c_str(), ligne.Erreur.c_str(),
                 nom.c_str());
    return jumelix::kSortieUsage;
  }
  if (ligne.Aide) {
    std::fputs(jumelix::TexteAide(nom.empty() ? "jumelix" : nom).c_str(), stdout);
    return 0;
  }
  if (ligne.Version) {
    std::fputs(jumelix::TexteVersion(JUMELIX_VERSION).c_str(), stdout);
    return 0;
  }

  // Unattended, the log is the only account of the run: without a home directory to put
  // it (and the settings) in, nothing is written relative to the working directory.
  const bool sans_fenetre = ligne.SansFenetre();
  if (sans_fenetre &&
      (jumelix::CheminJournal().empty() || jumelix::TConfigMail().CheminConfig().empty())) {
    std::fprintf(stderr,
                 "%s : ERREUR : aucun répertoire personnel utilisable (HOME absent ou relatif, "
                 "et aucun dans la base des comptes) : le journal et les réglages n'ont pas "
                 "de place ; définissez HOME (ou XDG_STATE_HOME et XDG_CONFIG_HOME). Aucun "
                 "couple n'est synchronisé.\n",
                 nom.c_str());
    return jumelix::kSortieErreurs;
  }
  // Settings another user could have written (sudo keeps the caller's HOME) are not used:
  // they name the programs the mail runs and what the mirror protects.
  const std::string refus = jumelix::RefusReglagesDemarrage(jumelix::TConfigMail().CheminConfig());
  if (sans_fenetre && !refus.empty()) {
    std::fprintf(stderr, "%s : ERREUR : %s Aucun couple n'est synchronisé.\n", nom.c_str(),
                 refus.c_str());
    if (!ligne.Simulation) jumelix::Journaliser(refus + " Aucun couple n'est synchronisé.");
    return jumelix::kSortieErreurs;
  }
  InstallerMail();
  if (ligne.Simulation) return jumelix::LancerSimulation(ligne);
  if (sans_fenetre) {
    RaccourcirDelaiMail();
    return jumelix::LancerService(ligne);
  }

#ifdef JUMELIX_HAS_GUI
  // Without any display the toolkit would abort with its own message: say what to do.
  if (!jumelix::AffichageDisponible([](const char* variable) { return std::getenv(variable); })) {
    std::fprintf(stderr,
                 "%s : aucun affichage disponible (ni DISPLAY ni WAYLAND_DISPLAY) ; pour "
                 "synchroniser sans fenêtre : %s /S fichier-liste\n",
                 nom.c_str(), nom.c_str());
    return 1;
  }
  return jumelix::LancerInterface(argc, argv, refus);
#else
  std::fprintf(stderr,
               "%s : cette version a été construite sans fenêtre ; seul le mode service "
               "(/S fichier-liste) est disponible.\n",
               nom.c_str());
  return 1;
#endif
}
