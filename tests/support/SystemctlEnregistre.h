// A stand-in for systemctl, for the scheduler's tests: records every command it is given
// and answers as a user manager would, or as a session without one does. Header only: the
// test binaries that use it already link the scheduler.
#pragma once

#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/Planificateur.h"

namespace jumelix::test {

class TSystemctlEnregistre {
 public:
  // Every command, without "systemctl --user": {"enable", "--now", "jumelix@x.timer"}.
  std::vector<std::vector<std::string>> commandes;

  // The answers. is-system-running prints `etat`; "show" prints `chargement`.
  std::string etat = "running\n";
  std::string erreurs_etat;                       // its standard error
  std::string chargement = "loaded\n\nloaded\n";  // as systemctl separates two units
  int erreur_lancement = 0;                       // every command fails to start with this errno
  std::set<std::string> verbes_en_echec;          // these sub-commands exit 1 with `erreurs_echec`
  std::string erreurs_echec = "Failed to enable unit: Access denied";

  TExecuteurCommande Executeur() {
    return [this](const std::vector<std::string>& argv) { return Repondre(argv); };
  }
  // The sub-commands in order: "is-system-running", "daemon-reload", ...
  std::vector<std::string> Verbes() const {
    std::vector<std::string> v;
    for (const auto& c : commandes) v.push_back(c.empty() ? std::string() : c[0]);
    return v;
  }

 private:
  TResultatCommande Repondre(const std::vector<std::string>& argv) {
    TResultatCommande r;
    if (argv.size() < 3 || argv[0] != "systemctl" || argv[1] != "--user") {
      r.erreur_lancement = EINVAL;  // only user-manager commands are expected
      return r;
    }
    commandes.emplace_back(argv.begin() + 2, argv.end());
    if (erreur_lancement != 0) {
      r.erreur_lancement = erreur_lancement;
      return r;
    }
    const std::string& verbe = argv[2];
    if (verbe == "is-system-running") {
      r.sortie = etat;
      r.erreurs = erreurs_etat;
      r.statut = etat == "running\n" ? 0 : 1;
      return r;
    }
    if (verbes_en_echec.count(verbe) != 0) {
      r.statut = 1;
      r.erreurs = erreurs_echec;
      return r;
    }
    r.statut = 0;
    if (verbe == "show") r.sortie = chargement;
    return r;
  }
};

}  // namespace jumelix::test
