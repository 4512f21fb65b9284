#include "shared/UMessErreurs.h"

#include <unistd.h>

#include <cstdio>

#include "platform/System.h"

namespace jumelix {

std::string TexteErreurSysteme(int err) {
  std::string texte = platform::SystemErrorText(err);
  while (!texte.empty()) {
    unsigned char c = static_cast<unsigned char>(texte.back());
    if (c <= 32 || c == '.') {
      texte.pop_back();
    } else {
      break;
    }
  }
  if (texte.empty()) return "Erreur n°" + std::to_string(err);
  return texte;
}

std::string MessageErreurSysteme(int err) {
  if (err == 0) return {};
  std::string texte = platform::SystemErrorText(err);
  if (texte.empty()) return "Erreur n°" + std::to_string(err);
  size_t crlf = texte.find("\r\n");
  if (crlf != std::string::npos && crlf + 2 == texte.size()) texte.resize(crlf);
  return texte;
}

}  // namespace jumelix

namespace jumelix {

std::string TexteRefusPrive(const platform::TRefusPrive& refus) {
  return "Réglages refusés : " + DescriptionRefusPrive(refus);
}

std::string DescriptionRefusPrive(const platform::TRefusPrive& refus) {
  std::string texte = std::string("le ") + (refus.repertoire ? "répertoire " : "fichier ") +
                      refus.chemin;
  if (refus.uid != geteuid()) {
    return texte + " appartient à un autre utilisateur (uid " + std::to_string(refus.uid) +
           ") que celui qui lance Jumelix (uid " + std::to_string(geteuid()) + ").";
  }
  char droits[8];
  std::snprintf(droits, sizeof droits, "%04o", static_cast<unsigned>(refus.mode & 07777));
  return texte + " est modifiable par d'autres utilisateurs que son propriétaire (droits " +
         droits + ").";
}

std::string RefusReglages(const std::vector<std::string>& chemins) {
  for (const std::string& chemin : chemins) {
    platform::TRefusPrive refus;
    if (!chemin.empty() && platform::ControlerPrive(chemin, refus) == platform::kNonPrive) {
      return TexteRefusPrive(refus);
    }
  }
  return {};
}

}  // namespace jumelix
