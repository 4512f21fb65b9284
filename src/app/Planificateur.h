// Schedules a list file: writes the drop-ins of Planification.h under the user's systemd
// directory and has the user manager take them (systemctl --user daemon-reload, enable --now
// the timer), or removes them again. Every systemctl call goes through an injected runner,
// so the tests see the commands without a user manager. Failures come back as a French
// text for the window; nothing throws but std::bad_alloc. One thread at a time (the GUI's).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/Planification.h"

namespace jumelix {

class TJumelix;
class IVueJumelix;

// What a command did.
struct TResultatCommande {
  int erreur_lancement = 0;  // errno when it could not be started
  int statut = -1;           // exit status, -1 when killed or not started
  std::string sortie;        // standard output
  std::string erreurs;       // standard error
  bool Reussie() const { return erreur_lancement == 0 && statut == 0; }
};
using TExecuteurCommande = std::function<TResultatCommande(const std::vector<std::string>& argv)>;

// Runs the command for real (platform::ExecuterProcessus, at most 30 s).
TResultatCommande ExecuterCommandeSysteme(const std::vector<std::string>& argv);

struct TIssuePlanification {
  bool reussie = false;
  std::string message;  // French, for the window
};

inline constexpr const char* kTexteListeAEnregistrer =
    "La synchronisation planifiée lit le fichier liste : la liste doit d'abord être "
    "enregistrée, avec les lignes du tableau.\nL'enregistrer maintenant ?";

// Before the schedule dialog opens: the list must be a file, saved as the grid shows it.
// Asks to save when it is not (Oui saves, through the save dialog when there is no file yet);
// false when the dialog must not open (refused, cancelled, or a run under way).
bool PreparerListePourPlanifier(TJumelix& jumelix, IVueJumelix& vue);

class TPlanificateur {
 public:
  // `liste`: the list file (absolute); `config_home`: $XDG_CONFIG_HOME or ~/.config;
  // `executable`: the program the service runs with /S.
  TPlanificateur(std::string liste, std::string config_home, std::string executable,
                 TExecuteurCommande executer = ExecuterCommandeSysteme);
  // For the list `liste` with this process's configuration directory and program path.
  static TPlanificateur PourListe(const std::string& liste);

  // False when no schedule can be made for this list (Erreur() says why).
  bool Valide() const { return valide_; }
  const std::string& Erreur() const { return erreur_; }
  const std::string& Liste() const { return liste_; }
  const TUnitesListe& Unites() const { return unites_; }

  // What Activer would write for `horaire`.
  std::vector<TFichierUnite> Fichiers(const THoraire& horaire) const;
  // The schedule written earlier for this list, read back from its drop-in.
  std::optional<THoraire> HoraireEcrit() const;

  // Whether a user manager answers (systemctl --user is-system-running); when not, `raison`
  // gets the French text the window shows.
  bool GestionnaireDisponible(std::string& raison);
  // Writes the drop-ins, reloads, checks the package's templates are known, enables and
  // starts the timer. Without a user manager, writes nothing.
  TIssuePlanification Activer(const THoraire& horaire);
  // Stops and disables the timer, deletes the drop-ins (and their directories when empty),
  // reloads. Without a user manager, still deletes the files.
  TIssuePlanification Retirer();

 private:
  TResultatCommande Systemctl(std::vector<std::string> arguments);
  // Deletes the drop-ins; empty text, or what could not be deleted.
  std::string SupprimerFichiers();

  std::string liste_;
  std::string executable_;
  TExecuteurCommande executer_;
  TUnitesListe unites_;
  bool valide_ = false;
  std::string erreur_;
};

}  // namespace jumelix
