// Whether the lines of a list file can be trusted for an unattended run. A blank line in
// the middle of a list shifts every later pair, so that a backup becomes the source of
// the next pair: service mode runs a list only when every pair is whole. Pure functions
// of the file's lines; the window keeps loading any list and warns before its run.
#pragma once

#include <string>
#include <vector>

namespace jumelix {

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

// The log line of service mode started without any list file.
inline constexpr const char* kTexteSansFichierListe =
    "ERREUR : Aucun fichier liste indiqué, rien à synchroniser (utilisation : jumelix /S "
    "fichier-liste)";

}  // namespace jumelix
