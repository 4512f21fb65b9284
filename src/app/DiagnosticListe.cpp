#include "app/DiagnosticListe.h"

#include "app/GrilleLignes.h"
#include "shared/URoutines.h"

namespace jumelix {

TDiagnosticListe DiagnostiquerListe(const std::vector<std::string>& lignes) {
  if (lignes.empty() || lignes[0] != kTitreSource) return {TDefautListe::PasUneListe, 1};
  if (lignes.size() < 2 || lignes[1] != kTitreCible) return {TDefautListe::PasUneListe, 2};
  size_t n = lignes.size();
  while (n > 2 && EstBlanc(lignes[n - 1])) --n;
  bool un_couple = false;
  for (size_t i = 2; i + 1 < n; i += 2) {
    const bool source_vide = EstBlanc(lignes[i]);
    const bool cible_vide = EstBlanc(lignes[i + 1]);
    if (source_vide != cible_vide)
      return {TDefautListe::CelluleVide, static_cast<int>(source_vide ? i + 1 : i + 2)};
    un_couple = un_couple || !source_vide;
  }
  if (n % 2 != 0) return {TDefautListe::NombreImpair, static_cast<int>(n)};
  if (!un_couple) return {TDefautListe::RienASynchroniser, 0};
  return {};
}

std::string TexteDefautListe(const TDiagnosticListe& d, const std::string& chemin) {
  const std::string ligne = std::to_string(d.ligne);
  switch (d.defaut) {
    case TDefautListe::Aucun:
      return {};
    case TDefautListe::PasUneListe:
      return "ERREUR : Fichier liste non reconnu, la ligne " + ligne + " doit être « " +
             (d.ligne == 1 ? kTitreSource : kTitreCible) + " » : " + chemin;
    case TDefautListe::CelluleVide:
      return "ERREUR : Fichier liste incorrect, ligne " + ligne +
             " vide (un couple sans source ou sans cible décalerait les suivants) : " + chemin;
    case TDefautListe::NombreImpair:
      return "ERREUR : Fichier liste incorrect, la ligne " + ligne +
             " (répertoire source) n'a pas de répertoire cible : " + chemin;
    case TDefautListe::RienASynchroniser:
      return "ERREUR : Rien à synchroniser, le fichier liste ne contient aucun couple de "
             "répertoires : " + chemin;
  }
  return {};
}

}  // namespace jumelix
