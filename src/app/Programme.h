// The program as a whole without its window: the command line (the switch /S in any
// letter case, the list file as the last other argument, --help and --version), their
// texts, and the service-mode run. Parsing is pure; the caller prints and decides.
// Arguments arrive already split by the shell, quotes removed.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace jumelix {

struct TLigneCommande {
  bool ModeService = false;
  std::string FichierListe;  // empty when none was given
  bool Aide = false;         // --help
  bool Version = false;      // --version
};

// `arguments` excludes the program name. Every argument that is "/S" once converted to
// upper case sets service mode; "--help" and "--version" ask for those texts; any other
// argument, unchanged, becomes the list file, so the last one wins.
TLigneCommande AnalyserLigneCommande(const std::vector<std::string>& arguments);

// Usage text for --help (French, ends with a line end); `programme` is the invoked name.
std::string TexteAide(const std::string& programme);
// "jumelix " + version + line end.
std::string TexteVersion(const std::string& version);

// Whether a window can be shown: a display named by DISPLAY, WAYLAND_DISPLAY or
// WAYLAND_SOCKET, or a platform chosen with QT_QPA_PLATFORM. `variable` reads the
// environment (nullptr for an unset variable); empty values count as unset.
bool AffichageDisponible(const std::function<const char*(const char*)>& variable);

// The first of the settings places (the settings directory, the settings file
// `chemin_config`, the global exclusions) that another user could have written, as the line
// that refuses it; "" when all are private or absent.
std::string RefusReglagesDemarrage(const std::string& chemin_config);

// Service mode, once the command line is known and no window exists: reads the list file
// (its failure logged first), logs "***** Debut synchronisation, fichier " + list file +
// " *****", synchronises every pair with the process-wide report mail, and returns the
// process exit status: 0 when the report holds no error line, 1 when it holds one (no
// list file, an unreadable one, one that cannot be trusted or holds no pair included:
// then no pair is walked) or when a due report mail could not be sent, 2 when SIGTERM,
// SIGINT or SIGHUP stopped the run (it stops at the walk's next check point; a second
// signal of any of these kinds ends the process at once).
int LancerService(const TLigneCommande& ligne_commande);

inline constexpr int kSortieSucces = 0;
inline constexpr int kSortieErreurs = 1;
inline constexpr int kSortieInterrompu = 2;

}  // namespace jumelix
