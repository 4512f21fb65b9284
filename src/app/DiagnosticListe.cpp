#include "app/DiagnosticListe.h"

#include <string_view>

#include "app/GrilleLignes.h"
#include "platform/FileSystem.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

// Whether `interieur` is `exterieur` or lies below it, as "/"-separated texts with one
// trailing "/" ignored: the root "/" then holds every absolute path.
bool DansTexte(std::string_view interieur, std::string_view exterieur, bool sans_casse) {
  if (!interieur.empty() && interieur.back() == '/') interieur.remove_suffix(1);
  if (!exterieur.empty() && exterieur.back() == '/') exterieur.remove_suffix(1);
  if (interieur.size() < exterieur.size()) return false;
  if (interieur.size() > exterieur.size() && interieur[exterieur.size()] != '/') return false;
  const std::string_view debut = interieur.substr(0, exterieur.size());
  return sans_casse ? EgauxSansCasseAscii(debut, exterieur) : debut == exterieur;
}

// A destination with what the checks need of the disk, looked up once for every other
// destination it is compared with.
struct TCibleResolue {
  const TCibleListe* cible;
  std::string reel;  // CheminCanonique; empty when it cannot be computed
  bool existe;
};

bool Dans(const TCibleResolue& interieur, const TCibleResolue& exterieur) {
  const std::string& i = interieur.cible->chemin;
  const std::string& e = exterieur.cible->chemin;
  // Two existing directories are told apart by the disk, which knows whether it folds case.
  const bool casse_indecise = !(interieur.existe && exterieur.existe);
  return DansTexte(i, e, false) || (casse_indecise && DansTexte(i, e, true)) ||
         (!interieur.reel.empty() && !exterieur.reel.empty() &&
          DansTexte(interieur.reel, exterieur.reel, false)) ||
         platform::EstDansRepertoire(i, e);
}

std::string Cite(const TCibleListe& c) { return "« " + EchapperControles(c.chemin) + " »"; }

}  // namespace

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

std::vector<TCiblesEnConflit> CiblesEnConflit(const std::vector<TCibleListe>& cibles) {
  std::vector<TCibleResolue> resolues;
  resolues.reserve(cibles.size());
  for (const TCibleListe& c : cibles)
    resolues.push_back(
        {&c, platform::CheminCanonique(c.chemin), platform::EstRepertoire(c.chemin)});
  std::vector<TCiblesEnConflit> conflits;
  for (size_t a = 0; a < resolues.size(); ++a) {
    for (size_t b = a + 1; b < resolues.size(); ++b) {
      const bool b_dans_a = Dans(resolues[b], resolues[a]);
      const bool a_dans_b = Dans(resolues[a], resolues[b]);
      if (!b_dans_a && !a_dans_b) continue;
      const bool a_seul_dedans = a_dans_b && !b_dans_a;
      conflits.push_back(
          {cibles[a_seul_dedans ? b : a], cibles[a_seul_dedans ? a : b], a_dans_b && b_dans_a});
    }
  }
  return conflits;
}

std::string TexteCiblesEnConflit(const TCiblesEnConflit& c) {
  if (c.meme_repertoire)
    return "les lignes " + std::to_string(c.englobante.ligne) + " et " +
           std::to_string(c.englobee.ligne) + " désignent le même répertoire cible (" +
           Cite(c.englobante) + " et " + Cite(c.englobee) + ")";
  return "le répertoire cible de la ligne " + std::to_string(c.englobee.ligne) + " (" +
         Cite(c.englobee) + ") est à l'intérieur de celui de la ligne " +
         std::to_string(c.englobante.ligne) + " (" + Cite(c.englobante) + ")";
}

std::string TexteListeCiblesEnConflit(const TCiblesEnConflit& conflit, const std::string& chemin) {
  return "ERREUR : Fichier liste incorrect, " + TexteCiblesEnConflit(conflit) +
         " : chaque couple écraserait ce que l'autre y a copié : " + chemin;
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
