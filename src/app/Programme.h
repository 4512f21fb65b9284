// The program as a whole without its window: the command line (the switch /S in any
// letter case, the list file as the last other argument, GNU options), their texts, and
// the runs without window (service mode, and the comparison of a dry run). Parsing is
// pure; the caller prints and decides. Arguments arrive already split by the shell.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace jumelix {

// --progress / --no-progress: by default, shown only when standard error is a terminal.
enum class TAvancementTerminal { Auto, Toujours, Jamais };

struct TLigneCommande {
  bool ModeService = false;
  std::string FichierListe;  // empty when none was given
  bool Aide = false;         // -h, --help
  bool Version = false;      // --version
  bool Simulation = false;   // -n, --dry-run: compare only, report on standard output
  bool Detail = false;       // -i, --itemize-changes: one line per change on standard output
  TAvancementTerminal Avancement = TAvancementTerminal::Auto;
  std::vector<std::string> Couples;  // --pair values as given: positions or paths
  std::string FichierJson;           // --json
  // A usage error ("option inconnue : « -x »"...): nothing may run; exit kSortieUsage.
  std::string Erreur;

  // Whether the run goes without window: /S or any of the options above.
  bool SansFenetre() const;
};

// `arguments` excludes the program name. GNU syntax (getopt_long): an argument starting
// with "-" is an option, "--" ends them; options and other arguments come in any order.
// Every other argument that is "/S" once converted to upper case sets service mode; any
// other, unchanged, becomes the list file, so the last one wins. May be called again in
// the same process (getopt's state is reset).
TLigneCommande AnalyserLigneCommande(const std::vector<std::string>& arguments);

// The grid rows --pair names: `demandes` holds positions from 1 ("3") or paths compared
// with each row's source and destination as the run reads them (CheminDeCellule). Returns
// the sorted rows, without repeats, or, in `erreur`, the first value that names no pair.
std::vector<int> LignesDesCouples(const std::vector<std::string>& demandes,
                                  const std::vector<std::pair<std::string, std::string>>& couples,
                                  std::string& erreur);

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
// The options add to that run: -i prints each change made on standard output, --progress
// its progress on standard error, --json its result to a file, --pair runs only some
// pairs (a value that names none: a line on standard error and kSortieUsage, nothing run).
int LancerService(const TLigneCommande& ligne_commande);

// The dry run (-n): the comparison of the list's pairs, without window, its report lines on
// standard output exactly as the window's log area shows them (with -i, each change that
// a synchronisation would make). Changes nothing, writes nothing to the log, sends no
// mail. 0 when every pair is identical, 1 otherwise, 2 when a signal stopped it.
int LancerSimulation(const TLigneCommande& ligne_commande);

inline constexpr int kSortieSucces = 0;
inline constexpr int kSortieErreurs = 1;
inline constexpr int kSortieInterrompu = 2;
inline constexpr int kSortieUsage = 2;

}  // namespace jumelix
