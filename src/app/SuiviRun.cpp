#include "app/SuiviRun.h"

#include <cstdio>

#include "app/UJumelix.h"
#include "engine/Archive.h"

namespace jumelix {

int64_t EstimerRestantMs(uint32_t ecoule_ms, uint64_t fait, uint64_t total) {
  if (total == 0) return -1;
  if (fait >= total) return 0;
  if (ecoule_ms < kDelaiEstimationMs || fait == 0) return -1;
  const long double reste =
      static_cast<long double>(ecoule_ms) * static_cast<long double>(total - fait) / fait;
  return static_cast<int64_t>(reste);
}

std::string TexteDuree(int64_t ms) {
  const int64_t s = (ms + 999) / 1000;  // never "0 s" while something is left
  char buf[48];
  if (s < 60) {
    std::snprintf(buf, sizeof buf, "%lld s", static_cast<long long>(s));
  } else if (s < 3600) {
    std::snprintf(buf, sizeof buf, "%lld min %02lld s", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  } else {
    std::snprintf(buf, sizeof buf, "%lld h %02lld min", static_cast<long long>(s / 3600),
                  static_cast<long long>((s % 3600) / 60));
  }
  return buf;
}

std::string TexteProgression(const TAvancementRun& a) {
  std::string texte;
  if (a.changements_total >= 0) {
    texte = std::to_string(a.changements);
    texte += " / ";
    texte += std::to_string(a.changements_total);
    texte += " éléments";
    if (a.octets_total > 0) {
      texte += " · ";
      texte += TexteVolume(a.octets);
      texte += " / ";
      texte += TexteVolume(static_cast<uint64_t>(a.octets_total));
    }
    if (a.restant_ms > 0) {
      texte += " · reste environ ";
      texte += TexteDuree(a.restant_ms);
    }
    return texte;
  }
  texte = std::to_string(a.entrees);
  texte += " éléments traités (total inconnu)";
  if (!a.volume.empty()) {
    texte += " · ";
    texte += a.volume;
  }
  return texte;
}

std::string TexteTotaux(const TPlanApercu::TTotaux& t) {
  std::string texte;
  auto ajouter = [&texte](size_t n, const char* quoi) {
    if (n == 0) return;
    if (!texte.empty()) texte += ", ";
    texte += std::to_string(n);
    texte += quoi;
  };
  ajouter(t.creations, " à créer");
  ajouter(t.remplacements, " à remplacer");
  if (t.recentes > 0) {
    texte += " (";
    texte += std::to_string(t.recentes);
    texte += " cible(s) plus récente(s))";
  }
  ajouter(t.suppressions, " à supprimer");
  ajouter(t.attributs, " attributs à corriger");
  if (texte.empty()) texte = "Aucun changement";
  if (t.octets > 0) {
    texte += " · ";
    texte += TexteVolume(static_cast<uint64_t>(t.octets));
    texte += " à copier";
  }
  if (t.laisses > 0) {
    texte += " · ";
    texte += std::to_string(t.laisses);
    texte += " laissé(s) de côté";
  }
  return texte;
}

const char* TexteTypeAction(TypeAction type) {
  switch (type) {
    case TypeAction::Creation:
      return "Créer";
    case TypeAction::Remplacement:
      return "Remplacer";
    case TypeAction::Attributs:
      return "Attributs";
    case TypeAction::Suppression:
      return "Supprimer";
  }
  return "";
}

std::string DossierArchiveDe(const std::string& archive) {
  std::string marque = "/";
  marque += kNomArchive;
  marque += '/';
  const size_t debut = archive.find(marque);
  if (debut == std::string::npos) return {};
  const size_t nom = debut + marque.size();
  const size_t fin = archive.find('/', nom);
  if (fin == nom) return {};
  return archive.substr(0, fin);
}

}  // namespace jumelix
