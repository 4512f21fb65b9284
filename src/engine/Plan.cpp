#include "engine/Plan.h"

#include <map>
#include <string_view>
#include <unordered_set>

#include "engine/Archive.h"
#include "engine/ListNomFichRep.h"
#include "engine/OutilsParcours.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

using platform::EntreeRepertoire;
using platform::GenreEntree;
using namespace parcours;

// A recorded destination name has at most this many characters.
constexpr size_t kLongueurNomMax = 259;

bool Hexadecimal(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// The destination's entries, directories and others apart; names too long to record are
// set aside, and at an archive root the archive itself is not seen.
void LireCible(std::vector<EntreeRepertoire>& cible, const TReglesNiveau& regles,
               TListNomFichRep& rep, TListNomFichRep& fich, TPlanNiveau& plan) {
  for (EntreeRepertoire& e : cible) {
    if (EstPointOuPointPoint(e.Nom)) continue;
    if (regles.RacineArchive && e.Nom == kNomArchive) continue;
    const bool repertoire = e.Genre == GenreEntree::Repertoire;
    // An excluded entry is the user's to keep, except a leftover of our own.
    if (regles.Exclu && regles.Exclu(e.Nom, repertoire) &&
        (repertoire || !EstNomTemporaire(e.Nom))) {
      continue;
    }
    if (e.Nom.size() > kLongueurNomMax && NbCaracteres(e.Nom) > kLongueurNomMax) {
      plan.tropLongs.emplace_back(repertoire, std::move(e.Nom));
    } else {
      (repertoire ? rep : fich).Ajouter(e);
    }
  }
  cible = {};
}

// ".", ".." and, at an archive root, the archive's name leave the source list. A directory of
// that name is another pair's archive (pairs chained A to B, B to C): left out silently, as
// the excluded entries are.
void FiltrerSource(std::vector<EntreeRepertoire>& source, const TReglesNiveau& regles,
                   TPlanNiveau& plan) {
  size_t garde = 0;
  for (size_t i = 0; i < source.size(); ++i) {
    EntreeRepertoire& e = source[i];
    if (EstPointOuPointPoint(e.Nom)) continue;
    if (regles.RacineArchive && e.Nom == kNomArchive) {
      if (e.Genre != GenreEntree::Repertoire) plan.reservesSource.push_back(e.Nom);
      continue;
    }
    if (regles.Exclu && regles.Exclu(e.Nom, e.Genre == GenreEntree::Repertoire)) continue;
    if (garde != i) source[garde] = std::move(e);
    ++garde;
  }
  source.resize(garde);
}

// On a case-folding destination, source names that fold to one name would land in one
// entry: only one of them is mirrored, the one already there under its exact name, or else
// the first in byte order (the same one at every run).
void MarquerCollisions(const std::vector<EntreeRepertoire>& source, const TListNomFichRep& rep,
                       const TListNomFichRep& fich, std::vector<Decision>& decisions) {
  std::map<std::string, size_t> elu;  // folded name -> chosen entry
  auto present = [&](const std::string& n) {
    return fich.IndiceExact(n) >= 0 || rep.IndiceExact(n) >= 0;
  };
  for (size_t i = 0; i < source.size(); ++i) {
    auto [it, nouveau] = elu.try_emplace(MinusculesAscii(source[i].Nom), i);
    if (nouveau) continue;
    const std::string& a = source[it->second].Nom;
    const std::string& b = source[i].Nom;
    const bool b_gagne = present(b) ? !present(a) || b < a : !present(a) && b < a;
    decisions[b_gagne ? it->second : i].quoi = Quoi::Collision;
    if (b_gagne) it->second = i;
  }
}

}  // namespace

bool EstNomTemporaire(const std::string& nom) {
  // ".jumelix-" + 12 lowercase hexadecimal digits + ".tmp"
  constexpr std::string_view kDebut = ".jumelix-", kFin = ".tmp";
  constexpr size_t kChiffres = 12;
  if (nom.size() != kDebut.size() + kChiffres + kFin.size()) return false;
  if (nom.compare(0, kDebut.size(), kDebut) != 0) return false;
  if (nom.compare(nom.size() - kFin.size(), kFin.size(), kFin) != 0) return false;
  for (size_t i = kDebut.size(); i < kDebut.size() + kChiffres; ++i) {
    if (!Hexadecimal(nom[i])) return false;
  }
  return true;
}

void Planifier(std::vector<EntreeRepertoire>& source, std::vector<EntreeRepertoire>& cible,
               const TReglesNiveau& regles, const TMemesCibles& memesCibles, TPlanNiveau& plan) {
  plan = TPlanNiveau{};
  TListNomFichRep rep, fich;
  LireCible(cible, regles, rep, fich, plan);
  FiltrerSource(source, regles, plan);
  std::vector<Decision>& decisions = plan.decisions;
  decisions.assign(source.size(), Decision{});
  if (regles.ReplieCasse) MarquerCollisions(source, rep, fich, decisions);

  // Names present in the source: a destination entry whose exact name is one of them is
  // kept for that entry and never matched by case. Made when a folded lookup needs it.
  std::unordered_set<std::string_view> noms;
  bool noms_faits = false;
  const TEstReserve reserve = [&](const std::string& nom) {
    if (!noms_faits) {
      noms.reserve(source.size());
      for (const EntreeRepertoire& e : source) noms.insert(e.Nom);
      noms_faits = true;
    }
    return noms.count(nom) != 0;
  };
  auto chercher = [&](const TListNomFichRep& liste, const std::string& nom) {
    return regles.ReplieCasse ? liste.Indice(nom, reserve) : liste.IndiceExact(nom);
  };
  for (size_t k = 0; k < source.size(); ++k) {
    const EntreeRepertoire& e = source[k];
    Decision& d = decisions[k];
    if (d.quoi == Quoi::Collision) continue;
    d.nomDst = e.Nom;
    if (e.Genre == GenreEntree::Repertoire) {
      const int i = chercher(rep, e.Nom);
      if (i >= 0) {
        d.quoi = Quoi::Descendre;
        d.nomDst = rep[i].Name;
        rep.Supprimer(i);
      } else if (regles.Comparer) {
        d.quoi = Quoi::Descendre;
        d.manquant = true;
      } else {
        d.quoi = Quoi::CreerRep;
        const int f = chercher(fich, e.Nom);
        if (f >= 0) {
          // A file stands where the directory goes: it gives way, and a failed deletion
          // shows as the creation failure.
          plan.cede.push_back(fich[f].Name);
          fich.Supprimer(f);
        }
      }
      d.renommer = d.nomDst != e.Nom;
      continue;
    }
    const int i = chercher(fich, e.Nom);
    if (i < 0) {
      d.quoi = Quoi::Copier;
      d.manquant = true;
      continue;
    }
    const TNomFichRep& r = fich[i];
    d.nomDst = r.Name;
    d.renommer = d.nomDst != e.Nom;
    bool meme = fich.Identique(i, e, regles.DeuxSecondes);
    if (meme && e.Genre == GenreEntree::Lien) meme = memesCibles && memesCibles(e.Nom, r.Name);
    if (!meme) {
      d.quoi = Quoi::Copier;
    } else if (AttributsDifferents(e, r.Entree, regles.GarderDroits)) {
      d.quoi = Quoi::Attributs;
    }
    fich.Supprimer(i);
  }
  for (const TNomFichRep* r : fich.Elements()) {
    // Temporaries are never directories: a directory of that name is the user's.
    if (r->Genre != GenreEntree::Repertoire && EstNomTemporaire(r->Name)) {
      plan.temporaires.push_back(r->Name);
    } else {
      plan.fichiersEnTrop.push_back(r->Name);
    }
  }
  for (const TNomFichRep* r : rep.Elements()) plan.repertoiresEnTrop.push_back(r->Name);
}

}  // namespace jumelix
