// Whether the lines of a list file can be trusted for an unattended run. A blank line in
// the middle of a list shifts every later pair, so that a backup becomes the source of
// the next pair: service mode runs a list only when every pair is whole, and when no two
// pairs write to the same directory. Pure functions of the file's lines, except the
// destination check, which looks at the directories as they are on disk. The window keeps
// loading any list and warns before its run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace jumelix {

// Enough of a file to read its two title lines: a film dropped by mistake is not read whole.
inline constexpr size_t kOctetsTitresListe = 4096;

enum class TDefautListe {
  Aucun,
  PasUneListe,        // line 1 or 2 is not its title (an empty file included)
  CelluleVide,        // a pair with one blank line and one filled
  NombreImpair,       // the last path line has no destination after it
  RienASynchroniser,  // the titles and nothing else (or only blank pairs)
};

struct TDiagnosticListe {
  TDefautListe defaut = TDefautListe::Aucun;
  int ligne = 0;  // the line of the file (from 1) where the fault is; 0 for a whole-file one
  bool operator==(const TDiagnosticListe&) const = default;
};

// The first fault of the file, in line order. Blank lines at the end of the file count
// for nothing: they shift no pair. A pair of two blank lines is only skipped by the run.
TDiagnosticListe DiagnostiquerListe(const std::vector<std::string>& lignes);

// The log line for a fault ("ERREUR : ..." naming the fault, its line and the file);
// empty for TDefautListe::Aucun.
std::string TexteDefautListe(const TDiagnosticListe& diagnostic, const std::string& chemin);

// A destination of a list: the line of the file (or the row of the grid) that names it,
// and the path the run will write to (as CheminDeCellule gives it).
struct TCibleListe {
  int ligne = 0;
  std::string chemin;
};

// Two destinations that no run can keep apart: whichever pair runs second overwrites what
// the first copied, and every night the archive keeps a whole copy of it.
struct TCiblesEnConflit {
  TCibleListe englobante;  // holds the other; the earlier one when both are the same
  TCibleListe englobee;
  bool meme_repertoire = false;
};

// Every two destinations that are the same directory or lie one inside the other, in list
// order. The rule is the pair check's: "/"-separated texts (a trailing "/" ignored, so
// "/a" holds "/a/b" but not "/ab"), then the real directories, so that a link or a bind
// mount naming the same directory counts. Texts that differ only in ASCII letter case
// (one directory on vfat or exfat) count as well, unless both directories exist: their
// real paths then decide.
std::vector<TCiblesEnConflit> CiblesEnConflit(const std::vector<TCibleListe>& cibles);

// "les lignes 4 et 8 désignent le même répertoire cible (« /a » et « /b »)", or "le
// répertoire cible de la ligne 8 (« /a/b ») est à l'intérieur de celui de la ligne 4
// (« /a »)"; control characters shown escaped.
std::string TexteCiblesEnConflit(const TCiblesEnConflit& conflit);

// The log line that refuses the list file `chemin` for this conflict.
std::string TexteListeCiblesEnConflit(const TCiblesEnConflit& conflit, const std::string& chemin);

// The log line of service mode started without any list file.
inline constexpr const char* kTexteSansFichierListe =
    "ERREUR : Aucun fichier liste indiqué, rien à synchroniser (utilisation : jumelix /S "
    "fichier-liste)";

}  // namespace jumelix
