#include "app/EtatBureau.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/Prive.h"
#include "platform/System.h"
#include "shared/URoutines.h"

namespace jumelix {

std::string RepertoireEtat() {
  const auto base = platform::RepertoireXdg("XDG_STATE_HOME", ".local/state");
  if (!base) return {};
  // Another user's directory (sudo keeps the caller's HOME) is neither read nor written.
  platform::TRefusPrive refus;
  const std::string etat = *base + "/jumelix";
  return platform::ControlerPrive(etat, refus) == platform::kNonPrive ? std::string() : etat;
}

bool CreerRepertoireEtat() {
  const std::string etat = RepertoireEtat();
  return !etat.empty() && platform::CreerRepertoiresPrives(etat) == 0;
}

std::string DevelopperTilde(const std::string& chemin, const std::string& maison) {
  if (maison.empty() || chemin.empty() || chemin[0] != '~') return chemin;
  if (chemin.size() == 1) return maison;
  if (chemin[1] != '/') return chemin;
  // "~/" and "/" joined: the home's own trailing "/" (when it is "/") is not doubled.
  return (maison.back() == '/' ? maison.substr(0, maison.size() - 1) : maison) + chemin.substr(1);
}

TListesRecentes::TListesRecentes(std::string fichier) : fichier_(std::move(fichier)) {
  std::vector<std::string> lignes;
  if (fichier_.empty() || LireLignesFichier(fichier_, lignes) != 0) return;
  for (const std::string& l : lignes) {
    if (!l.empty() && l[0] == '/' && chemins_.size() < kNbMax &&
        std::find(chemins_.begin(), chemins_.end(), l) == chemins_.end())
      chemins_.push_back(l);
  }
}

void TListesRecentes::Ajouter(const std::string& chemin) {
  if (chemin.empty()) return;
  std::error_code ec;
  std::string absolu = std::filesystem::absolute(chemin, ec).lexically_normal().string();
  if (ec) absolu = chemin;
  std::erase(chemins_, absolu);
  chemins_.insert(chemins_.begin(), absolu);
  if (chemins_.size() > kNbMax) chemins_.resize(kNbMax);
  Ecrire();
}

void TListesRecentes::Retirer(const std::string& chemin) {
  if (std::erase(chemins_, chemin) > 0) Ecrire();
}

void TListesRecentes::Ecrire() const {
  if (fichier_.empty()) return;
  const std::string repertoire = std::filesystem::path(fichier_).parent_path().string();
  if (platform::CreerRepertoiresPrives(repertoire) != 0) return;
  EcrireLignesFichier(fichier_, chemins_, 0600);
}

}  // namespace jumelix
