// Program entry. Decides the mode from the command line before any Qt object exists:
// service mode (/S) runs without any display, the windows are started only otherwise.
// Built twice when the windows are built: `jumelix` links no Qt and, for the window, puts
// `jumelix-fenetre` (this file with JUMELIX_HAS_GUI) in its place, so that a run without
// window never loads a Qt library.
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

#ifdef JUMELIX_FENETRE
// Replaces this process with the window program: same pid, environment and arguments
// (argv[0] included, which names the log), so its exit status is the program's. It is
// looked for beside this executable (the build tree), then at JUMELIX_FENETRE relative to
// it (where the package puts it), whatever the installation prefix. Returns only when
// neither could be started.
int LancerFenetre(char** argv, const std::string& nom) {
  char lien[4096];
  const ssize_t n = ::readlink("/proc/self/exe", lien, sizeof lien);
  int erreur = errno;
  std::string chemin = "/proc/self/exe";
  if (n > 0 && static_cast<size_t>(n) < sizeof lien) {
    const std::string exe(lien, static_cast<size_t>(n));
    const std::string dossier = exe.substr(0, exe.find_last_of('/') + 1);
    for (const char* relatif : {"jumelix-fenetre", JUMELIX_FENETRE}) {
      chemin = dossier + relatif;
      ::execv(chemin.c_str(), argv);
      erreur = errno;
      if (erreur != ENOENT) break;
    }
  } else if (n >= 0) {
    erreur = ENAMETOOLONG;
  }
  std::fprintf(stderr,
               "%s : la fenêtre ne peut pas être lancée (%s : %s) ; pour synchroniser sans "
               "fenêtre : %s /S fichier-liste\n",
               nom.c_str(), chemin.c_str(), std::strerror(erreur), nom.c_str());
  return 1;
}
#endif

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

#if defined(JUMELIX_HAS_GUI) || defined(JUMELIX_FENETRE)
  // Without any display the toolkit would abort with its own message: say what to do.
  if (!jumelix::AffichageDisponible([](const char* variable) { return std::getenv(variable); })) {
    std::fprintf(stderr,
                 "%s : aucun affichage disponible (ni DISPLAY ni WAYLAND_DISPLAY) ; pour "
                 "synchroniser sans fenêtre : %s /S fichier-liste\n",
                 nom.c_str(), nom.c_str());
    return 1;
  }
#endif
#if defined(JUMELIX_HAS_GUI)
  return jumelix::LancerInterface(argc, argv, refus);
#elif defined(JUMELIX_FENETRE)
  return LancerFenetre(argv, nom);
#else
  std::fprintf(stderr,
               "%s : cette version a été construite sans fenêtre ; seul le mode service "
               "(/S fichier-liste) est disponible.\n",
               nom.c_str());
  return 1;
#endif
}
