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
void LireCible(const TListeEntrees& cible, const TReglesNiveau& regles, TListNomFichRep& rep,
               TListNomFichRep& fich, TPlanNiveau& plan) {
  size_t repertoires = 0;
  for (size_t i = 0; i < cible.size(); ++i) {
    if (cible.Genre(i) == GenreEntree::Repertoire) ++repertoires;
  }
  rep.Reserver(repertoires);
  fich.Reserver(cible.size() - repertoires);
  for (size_t i = 0; i < cible.size(); ++i) {
    const std::string_view nom = cible.NomVue(i);
    if (platform::EstPointOuPointPoint(nom)) continue;
    if (regles.RacineArchive && nom == kNomArchive) continue;
    const bool repertoire = cible.Genre(i) == GenreEntree::Repertoire;
    // An excluded entry is the user's to keep, except a leftover of our own.
    if (regles.Exclu && regles.Exclu(nom, repertoire) && (repertoire || !EstNomTemporaire(nom))) {
      continue;
    }
    if (nom.size() > kLongueurNomMax && NbCaracteres(nom) > kLongueurNomMax) {
      plan.tropLongs.emplace_back(repertoire, std::string(nom));
    } else {
      (repertoire ? rep : fich).Ajouter(i);
    }
  }
}

// ".", ".." and, at an archive root, the archive's name leave the source list. A directory of
// that name is another pair's archive (pairs chained A to B, B to C): left out silently, as
// the excluded entries are.
void FiltrerSource(TListeEntrees& source, const TReglesNiveau& regles, TPlanNiveau& plan) {
  source.Garder([&](size_t i) {
    const std::string_view nom = source.NomVue(i);
    if (platform::EstPointOuPointPoint(nom)) return false;
    const bool repertoire = source.Genre(i) == GenreEntree::Repertoire;
    if (regles.RacineArchive && nom == kNomArchive) {
      if (!repertoire) plan.reservesSource.emplace_back(nom);
      return false;
    }
    return !(regles.Exclu && regles.Exclu(nom, repertoire));
  });
}

// On a case-folding destination, source names that fold to one name would land in one
// entry: only one of them is mirrored, the one already there under its exact name, or else
// the first in byte order (the same one at every run).
void MarquerCollisions(const TListeEntrees& source, const TListNomFichRep& rep,
                       const TListNomFichRep& fich, std::vector<Decision>& decisions) {
  std::map<std::string, size_t> elu;  // folded name -> chosen entry
  auto present = [&](std::string_view n) {
    return fich.IndiceExact(n) >= 0 || rep.IndiceExact(n) >= 0;
  };
  for (size_t i = 0; i < source.size(); ++i) {
    auto [it, nouveau] = elu.try_emplace(MinusculesAscii(source.NomVue(i)), i);
    if (nouveau) continue;
    const std::string_view a = source.NomVue(it->second);
    const std::string_view b = source.NomVue(i);
    const bool b_gagne = present(b) ? !present(a) || b < a : !present(a) && b < a;
    decisions[b_gagne ? it->second : i].quoi = Quoi::Collision;
    if (b_gagne) it->second = i;
  }
}

// The decisions of the level, from the destination records of `cible`.
void Decider(TListeEntrees& source, const TListeEntrees& cible, const TReglesNiveau& regles,
             const TMemesCibles& memesCibles, TPlanNiveau& plan) {
  TListNomFichRep rep(cible), fich(cible);
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
      for (size_t i = 0; i < source.size(); ++i) noms.insert(source.NomVue(i));
      noms_faits = true;
    }
    return noms.count(nom) != 0;
  };
  auto chercher = [&](const TListNomFichRep& liste, std::string_view nom) {
    return regles.ReplieCasse ? liste.Indice(nom, reserve) : liste.IndiceExact(nom);
  };
  for (size_t k = 0; k < source.size(); ++k) {
    const std::string_view nom = source.NomVue(k);
    Decision& d = decisions[k];
    if (d.quoi == Quoi::Collision) continue;
    // The destination entry found for it: its name is kept only when it differs.
    auto trouvee = [&](std::string_view nomDst) {
      if (nomDst == nom) return;
      d.renommer = true;
      d.nomDst = static_cast<uint32_t>(plan.nomsDst.size());
      plan.nomsDst.Ajouter(nomDst);
    };
    if (source.Genre(k) == GenreEntree::Repertoire) {
      const int i = chercher(rep, nom);
      if (i >= 0) {
        d.quoi = Quoi::Descendre;
        trouvee(rep[i].Name);
        rep.Supprimer(i);
      } else if (regles.Comparer) {
        d.quoi = Quoi::Descendre;
        d.manquant = true;
      } else {
        d.quoi = Quoi::CreerRep;
        const int f = chercher(fich, nom);
        if (f >= 0) {
          // A file stands where the directory goes: it gives way, and a failed deletion
          // shows as the creation failure.
          plan.cede.emplace_back(fich[f].Name);
          fich.Supprimer(f);
        }
      }
      continue;
    }
    const int i = chercher(fich, nom);
    if (i < 0) {
      d.quoi = Quoi::Copier;
      d.manquant = true;
      continue;
    }
    const TNomFichRep r = fich[i];
    trouvee(r.Name);
    const EntreeRepertoire e = source.Attributs(k);
    bool meme = fich.Identique(i, e, regles.DeuxSecondes);
    if (meme && e.Genre == GenreEntree::Lien) {
      meme = memesCibles && memesCibles(std::string(nom), std::string(r.Name));
    }
    const EntreeRepertoire c = cible.Attributs(r.Entree);
    d.inodeDst = c.Inode;
    if (!meme) {
      d.quoi = Quoi::Copier;
      d.cibleRecente = c.Secondes > e.Secondes || (c.Secondes == e.Secondes && c.Nanos > e.Nanos);
    } else if (AttributsDifferents(e, c, regles.GarderDroits) ||
               ((e.AttributsEtendus || c.AttributsEtendus) && regles.MemesAttributsEtendus &&
                !regles.MemesAttributsEtendus(std::string(nom), std::string(r.Name)))) {
      d.quoi = Quoi::Attributs;
    }
    fich.Supprimer(i);
  }
  for (int i : fich.Elements()) {
    const TNomFichRep r = fich[i];
    // Temporaries are never directories: a directory of that name is the user's.
    if (r.Genre != GenreEntree::Repertoire && EstNomTemporaire(r.Name)) {
      plan.temporaires.emplace_back(r.Name);
    } else {
      plan.fichiersEnTrop.Ajouter(r.Name);
    }
  }
  for (int i : rep.Elements()) plan.repertoiresEnTrop.Ajouter(rep[i].Name);
}

}  // namespace

bool EstNomTemporaire(std::string_view nom) {
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

void Planifier(TListeEntrees& source, TListeEntrees& cible, const TReglesNiveau& regles,
               const TMemesCibles& memesCibles, TPlanNiveau& plan) {
  plan = TPlanNiveau{};
  Decider(source, cible, regles, memesCibles, plan);
  cible.Vider();
}

}  // namespace jumelix
