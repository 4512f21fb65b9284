#include "engine/MarqueAttributs.h"

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "platform/FichierAtomique.h"
#include "platform/Prive.h"
#include "platform/System.h"

namespace jumelix {

int64_t DecalageHorlogeMarques = 0;

namespace {

// Names the pair's file: one per (source, destination), whatever they hold.
std::string NomFichier(const std::string& source, const std::string& destination) {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
  auto ajouter = [&h](const std::string& s) {
    for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ull;
    h = h * 0x100000001b3ull;  // a zero byte between the two
  };
  ajouter(source);
  ajouter(destination);
  char nom[17];
  std::snprintf(nom, sizeof nom, "%016llx", static_cast<unsigned long long>(h));
  return nom;
}

// The names the mirror keeps (platform/AttributsEtendus.h) are part of what a mark vouches
// for: a version that keeps other names starts afresh with a new number.
constexpr const char* kEntete = "jumelix-marque 1";

bool Avant(int64_t s1, int32_t n1, int64_t s2, int32_t n2) {
  return s1 < s2 || (s1 == s2 && n1 < n2);
}

}  // namespace

std::string TMarqueAttributs::Ligne(int64_t secondes, const std::string& demarrage,
                                    int64_t ecart, int64_t racineSecondes,
                                    int32_t racineNanos) const {
  std::ostringstream o;
  o << kEntete << ' ' << geteuid() << ' ' << src_.SystemeFichiers << ' ' << src_.Peripherique
    << ' ' << src_.Inode << ' ' << dst_.SystemeFichiers << ' ' << dst_.Peripherique << ' '
    << dst_.Inode << ' ' << secondes << ' ' << (demarrage.empty() ? "-" : demarrage) << ' '
    << ecart << ' ' << racineSecondes << ' ' << racineNanos << '\n';
  return o.str();
}

void TMarqueAttributs::Cible(const platform::TRepertoire& dst) {
  dstConnue_ = dst.Identifier(dst_) == 0;
}

void TMarqueAttributs::Commencer(const std::string& repertoire, const std::string& source,
                                 const std::string& destination, const platform::TRepertoire& src,
                                 bool attributsPossibles) {
  fichier_.clear();
  utilisable_ = false;
  if (repertoire.empty() || !attributsPossibles || !dstConnue_ || !dst_.HorlogeLocale ||
      src.Identifier(src_) != 0) {
    return;
  }
  const platform::InstantNoyau maintenant = platform::MaintenantNoyau();
  // Change times may be kept to the second only, and a change within the second the walk
  // starts in must count as after it.
  debut_ = maintenant.Secondes + DecalageHorlogeMarques - 1;
  demarrage_ = maintenant.Demarrage;
  ecart_ = maintenant.Ecart;
  fichier_ = repertoire + "/" + NomFichier(source, destination);

  std::string contenu;
  platform::TRefusPrive refus;
  if (platform::LireFichierPrive(fichier_, contenu, refus) != 0) return;
  std::istringstream in(contenu);
  std::vector<std::string> mots;
  for (std::string mot; in >> mot;) mots.push_back(mot);
  // header (2 words), user, 6 identity numbers, the mark, the boot, the gap, the root's time
  if (mots.size() != 14) return;
  int64_t marque = 0, ecart = 0, racineSecondes = 0;
  int32_t racineNanos = 0;
  try {
    marque = std::stoll(mots[9]);
    ecart = std::stoll(mots[11]);
    racineSecondes = std::stoll(mots[12]);
    racineNanos = static_cast<int32_t>(std::stol(mots[13]));
  } catch (...) {
    return;
  }
  const std::string demarrage = mots[10] == "-" ? std::string() : mots[10];
  // Same header, user and roots: the very line this walk would write with those values.
  if (Ligne(marque, demarrage, ecart, racineSecondes, racineNanos) != contenu) return;
  if (marque > debut_) return;  // in the future: the clock was set back
  if (!demarrage_.empty() && demarrage == demarrage_ && ecart_ < ecart - 1) return;
  if (Avant(dst_.SecondesChangement, dst_.NanosChangement, racineSecondes, racineNanos)) return;
  seuil_.Secondes = marque;
  seuil_.Peripherique = dst_.Peripherique;
  utilisable_ = true;
}

bool TMarqueAttributs::Enregistrer(const platform::TRepertoire& racine) {
  if (fichier_.empty()) return true;
  platform::IdentiteRepertoire fin;
  if (racine.Identifier(fin) != 0) return false;
  const std::string repertoire = fichier_.substr(0, fichier_.rfind('/'));
  const std::string ligne =
      Ligne(debut_, demarrage_, ecart_, fin.SecondesChangement, fin.NanosChangement);
  return platform::CreerRepertoiresPrives(repertoire) == 0 &&
         platform::EcrireFichierAtomique(fichier_, ligne, 0600) == 0;
}

}  // namespace jumelix
