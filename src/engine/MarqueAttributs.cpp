#include "engine/MarqueAttributs.h"

#include <unistd.h>

#include <cstdint>
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
    h = (h ^ 0) * 0x100000001b3ull;
  };
  ajouter(source);
  ajouter(destination);
  char nom[17];
  std::snprintf(nom, sizeof nom, "%016llx", static_cast<unsigned long long>(h));
  return nom;
}

// The names the mirror keeps (platform/AttributsEtendus.h) are part of what a mark
// vouches for: a version that keeps other names starts afresh with a new number.
constexpr const char* kEntete = "jumelix-marque 1";

}  // namespace

std::string TMarqueAttributs::Ligne(int64_t secondes, const std::string& demarrage,
                                    int64_t ecart) const {
  std::ostringstream o;
  o << kEntete << ' ' << geteuid() << ' ' << src_.SystemeFichiers << ' ' << src_.Peripherique
    << ' ' << src_.Inode << ' ' << dst_.SystemeFichiers << ' ' << dst_.Peripherique << ' '
    << dst_.Inode << ' ' << secondes << ' ' << (demarrage.empty() ? "-" : demarrage) << ' '
    << ecart << '\n';
  return o.str();
}

void TMarqueAttributs::Commencer(const std::string& repertoire, const std::string& source,
                                 const std::string& destination, const platform::TRepertoire& src,
                                 const platform::TRepertoire& dst, bool attributsPossibles) {
  fichier_.clear();
  utilisable_ = false;
  if (repertoire.empty() || !attributsPossibles || src.Identifier(src_) != 0 ||
      dst.Identifier(dst_) != 0 || !src_.HorlogeLocale || !dst_.HorlogeLocale) {
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
  std::string mot;
  std::vector<std::string> mots;
  while (in >> mot) mots.push_back(mot);
  // header (2 words), user, 6 identity numbers, then the mark, the boot and the gap
  if (mots.size() != 12) return;
  int64_t marque = 0, ecart = 0;
  try {
    marque = std::stoll(mots[9]);
    ecart = std::stoll(mots[11]);
  } catch (...) {
    return;
  }
  // Same header, user and roots: the line this walk would write with that mark and boot.
  if (Ligne(marque, mots[10] == "-" ? std::string() : mots[10], ecart) != contenu) return;
  if (marque > debut_) return;  // in the future: the clock was set back
  const bool memeDemarrage = !demarrage_.empty() && mots[10] == demarrage_;
  if (memeDemarrage && ecart_ < ecart - 1) return;  // set back since, maybe by less
  seuil_.Secondes = marque;
  seuil_.Peripheriques[0] = src_.Peripherique;
  seuil_.Peripheriques[1] = dst_.Peripherique;
  utilisable_ = true;
}

bool TMarqueAttributs::Enregistrer() const {
  if (fichier_.empty()) return true;
  const std::string repertoire = fichier_.substr(0, fichier_.rfind('/'));
  return platform::CreerRepertoiresPrives(repertoire) == 0 &&
         platform::EcrireFichierAtomique(fichier_, Ligne(debut_, demarrage_, ecart_), 0600) == 0;
}

}  // namespace jumelix
