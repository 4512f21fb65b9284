#include "engine/OutilsParcours.h"

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/System.h"
#include "platform/SystemeFichiers.h"

namespace jumelix::parcours {

using platform::EntreeRepertoire;
using platform::GenreEntree;



std::string NomFinal(const std::string& chemin) {
  size_t p = chemin.find_last_of('/');
  return p == std::string::npos ? chemin : chemin.substr(p + 1);
}


std::string TexteSystemeSeul(int err) {
  std::string t = platform::SystemErrorText(err);
  while (!t.empty() && (static_cast<unsigned char>(t.back()) <= 32 || t.back() == '.')) {
    t.pop_back();
  }
  return t;
}

bool AUneLettre(const std::string& nom) {
  for (char c : nom) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  }
  return false;
}

std::string CasseInversee(const std::string& nom) {
  std::string r = nom;
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return r;
}

bool AttributsDifferents(const EntreeRepertoire& s, const EntreeRepertoire& d, bool garderDroits) {
  if (!garderDroits) return false;
  static const bool root = geteuid() == 0;  // asked once: this runs for every entry
  const bool proprietaire = root && (s.Uid != d.Uid || s.Gid != d.Gid);
  if (s.Genre == GenreEntree::Lien) return proprietaire || s.Secondes != d.Secondes;
  return proprietaire ||
         (d.Mode & 07777) != platform::ModeAttendu(s.Mode, d.Uid == s.Uid, d.Gid == s.Gid);
}

bool EstCacheMarque(platform::TSystemeFichiers& fs, const platform::TRepertoire& parent,
                    const std::string& nom) {
  platform::TRepertoire rep;
  if (fs.OuvrirSous(rep, parent, nom) != 0) return false;
  std::string debut;
  return fs.LireDebut(rep, kNomMarqueCache, kSignatureCache.size(), debut) == 0 &&
         debut == kSignatureCache;
}

TExclu AvecCaches(platform::TSystemeFichiers& fs, const platform::TRepertoire& source,
                  const TListeEntrees& entrees, TExclu motifs) {
  std::vector<std::string> caches;
  for (size_t i = 0; i < entrees.size(); ++i) {
    const std::string_view nom = entrees.NomVue(i);
    if (entrees.Genre(i) != GenreEntree::Repertoire || EstPointOuPointPoint(nom) ||
        (motifs && motifs(nom, true)))
      continue;
    std::string n(nom);
    if (EstCacheMarque(fs, source, n)) caches.push_back(std::move(n));
  }
  if (caches.empty()) return motifs;
  std::sort(caches.begin(), caches.end());
  return [motifs = std::move(motifs), caches = std::move(caches)](std::string_view nom,
                                                                  bool repertoire) {
    if (repertoire && std::binary_search(caches.begin(), caches.end(), nom, std::less<>()))
      return true;
    return motifs && motifs(nom, repertoire);
  };
}

}  // namespace jumelix::parcours
