#include "app/Planificateur.h"

#include <cerrno>
#include <string_view>
#include <utility>

#include "app/UJumelix.h"
#include "app/VueJumelix.h"
#include "platform/FichierAtomique.h"
#include "platform/Prive.h"
#include "platform/Processus.h"
#include "platform/System.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

constexpr uint32_t kDelaiSystemctlMs = 30000;
constexpr unsigned kModeUnite = 0644;
constexpr const char* kTitrePlanifier = "Planifier";

// The states in which a user manager answers and can start a timer.
bool EtatGestionnaireActif(const std::string& etat) {
  return etat == "running" || etat == "degraded" || etat == "starting" || etat == "initializing" ||
         etat == "maintenance";
}

std::string Repertoire(const std::string& chemin) {
  const size_t barre = chemin.find_last_of('/');
  return barre == std::string::npos ? std::string() : chemin.substr(0, barre);
}

// The command's error text, for a message that says what failed.
std::string Detail(const TResultatCommande& r) {
  std::string detail = Trim(r.erreurs);
  if (detail.empty() && r.erreur_lancement != 0)
    detail = platform::SystemErrorText(r.erreur_lancement);
  if (detail.empty() && r.statut >= 0) detail = "code de retour " + std::to_string(r.statut);
  std::string texte;
  if (!detail.empty()) {
    texte = " (";
    texte += EchapperControles(detail);
    texte += ")";
  }
  return texte;
}

// "show --value" of two units: their LoadState, one per line, units apart by a blank line.
bool DeuxUnitesChargees(std::string_view sortie) {
  int chargees = 0;
  for (const std::string& ligne : DecouperLignes(sortie)) {
    if (ligne.empty()) continue;
    if (ligne != "loaded") return false;
    ++chargees;
  }
  return chargees == 2;
}

TIssuePlanification Echec(std::string message) { return {false, std::move(message)}; }

}  // namespace

TResultatCommande ExecuterCommandeSysteme(const std::vector<std::string>& argv) {
  platform::TOptionsProcessus options;
  options.delaiMs = kDelaiSystemctlMs;
  options.terminerGroupe = true;
  const platform::TResultatProcessus p = platform::ExecuterProcessus(argv, options);
  TResultatCommande r;
  r.erreur_lancement = p.erreurLancement;
  r.statut = p.delaiDepasse || p.arrete ? -1 : p.statut;
  r.sortie = p.sortie.Copie();
  r.erreurs = p.erreurs;
  if (p.delaiDepasse) r.erreurs = "systemctl ne répond pas : arrêté au bout de 30 s";
  return r;
}

bool PreparerListePourPlanifier(TJumelix& jumelix, IVueJumelix& vue) {
  if (jumelix.EnCours()) return false;
  if (!jumelix.FichierListe().empty() && !jumelix.ListeAEnregistrer()) return true;
  if (vue.Message(kTexteListeAEnregistrer, kTitrePlanifier, TBoutonsMessage::OuiNon,
                  TIconeMessage::Question) != TReponseMessage::Oui)
    return false;
  return jumelix.EnregistrerFichierListe() && !jumelix.FichierListe().empty();
}

TPlanificateur::TPlanificateur(std::string liste, std::string config_home, std::string executable,
                               TExecuteurCommande executer)
    : liste_(std::move(liste)), executable_(std::move(executable)), executer_(std::move(executer)) {
  valide_ = UnitesDeListe(liste_, config_home, unites_, erreur_);
  if (valide_ && (executable_.empty() || executable_[0] != '/')) {
    valide_ = false;
    erreur_ =
        "Le chemin du programme Jumelix est introuvable : la synchronisation ne peut pas "
        "être planifiée.";
  }
}

TPlanificateur TPlanificateur::PourListe(const std::string& liste) {
  return TPlanificateur(liste, platform::RepertoireXdg("XDG_CONFIG_HOME", ".config").value_or(""),
                        platform::CheminExecutable());
}

std::vector<TFichierUnite> TPlanificateur::Fichiers(const THoraire& horaire) const {
  if (!valide_) return {};
  return FichiersPlanification(unites_, horaire, liste_, executable_);
}

std::optional<THoraire> TPlanificateur::HoraireEcrit() const {
  if (!valide_) return std::nullopt;
  std::string texte;
  platform::TRefusPrive refus;
  if (platform::LireFichierPrive(unites_.horaire, texte, refus) != 0) return std::nullopt;
  return LireTexteHoraire(texte);
}

TResultatCommande TPlanificateur::Systemctl(std::vector<std::string> arguments) {
  std::vector<std::string> argv = {"systemctl", "--user"};
  for (std::string& a : arguments) argv.push_back(std::move(a));
  return executer_(argv);
}

bool TPlanificateur::GestionnaireDisponible(std::string& raison) {
  const TResultatCommande r = Systemctl({"is-system-running"});
  if (r.erreur_lancement == ENOENT) {
    raison =
        "La commande systemctl est introuvable : sans systemd, la synchronisation ne peut "
        "pas être planifiée ici.";
    return false;
  }
  if (r.erreur_lancement == 0 && EtatGestionnaireActif(Trim(r.sortie))) return true;
  raison =
      "Aucun gestionnaire systemd de l'utilisateur ne répond ici (session ouverte sans "
      "systemd, conteneur, connexion sans session)";
  raison += Detail(r);
  raison += " : la synchronisation ne peut pas être planifiée depuis cette session.";
  return false;
}

TIssuePlanification TPlanificateur::Activer(const THoraire& horaire) {
  if (!valide_) return Echec(erreur_);
  std::string raison;
  if (!GestionnaireDisponible(raison)) return Echec(raison + " Rien n'a été écrit.");

  for (const TFichierUnite& f : Fichiers(horaire)) {
    int err = platform::CreerRepertoiresPrives(Repertoire(f.chemin));
    if (err == 0) err = platform::EcrireFichierAtomique(f.chemin, f.texte, kModeUnite);
    if (err != 0) {
      SupprimerFichiers();
      std::string message = "Impossible d'écrire ";
      message += EchapperControles(f.chemin);
      message += " : ";
      message += platform::SystemErrorText(err);
      return Echec(message);
    }
  }
  TResultatCommande r = Systemctl({"daemon-reload"});
  if (!r.Reussie()) {
    SupprimerFichiers();
    return Echec("systemd n'a pas relu ses unités" + Detail(r) + " : rien n'est planifié.");
  }
  // The drop-ins amend the package's templates: without them the instance is not found.
  r = Systemctl({"show", "--property=LoadState", "--value", unites_.service, unites_.timer});
  if (!r.Reussie() || !DeuxUnitesChargees(r.sortie)) {
    SupprimerFichiers();
    Systemctl({"daemon-reload"});
    return Echec(
        "Les unités jumelix@.service et jumelix@.timer du paquet Jumelix sont introuvables "
        "pour systemd (paquet non installé ?) : rien n'est planifié.");
  }
  r = Systemctl({"enable", "--now", unites_.timer});
  if (!r.Reussie())
    return Echec("Le minuteur " + EchapperControles(unites_.timer) + " n'a pas pu être activé" +
                 Detail(r) + ".");
  std::string message = "Synchronisation de la liste planifiée ";
  message += DescriptionHoraire(horaire);
  message += " (minuteur ";
  message += EchapperControles(unites_.timer);
  message += ").";
  return {true, message};
}

TIssuePlanification TPlanificateur::Retirer() {
  if (!valide_) return Echec(erreur_);
  std::string raison;
  const bool gestionnaire = GestionnaireDisponible(raison);
  std::string echec;
  if (gestionnaire) {
    const TResultatCommande r = Systemctl({"disable", "--now", unites_.timer});
    if (!r.Reussie())
      echec = "Le minuteur " + EchapperControles(unites_.timer) + " n'a pas pu être désactivé" +
              Detail(r) + ". ";
  }
  const std::string restes = SupprimerFichiers();
  if (gestionnaire) Systemctl({"daemon-reload"});
  if (!restes.empty()) return Echec(echec + restes);
  if (!echec.empty()) return Echec(echec);
  if (!gestionnaire) return {true, "Fichiers de planification supprimés. " + raison};
  return {true, "Planification retirée : la liste n'est plus synchronisée à heure fixe."};
}

std::string TPlanificateur::SupprimerFichiers() {
  std::string restes;
  for (const std::string* chemin : {&unites_.horaire, &unites_.service_liste}) {
    if (chemin->empty()) continue;
    const int err = platform::SupprimerFichierChemin(*chemin);
    if (err != 0) {
      restes += "Impossible de supprimer ";
      restes += EchapperControles(*chemin);
      restes += " : ";
      restes += platform::SystemErrorText(err);
      restes += ". ";
      continue;
    }
    // The drop-in directory goes too, unless someone keeps other settings there.
    platform::SupprimerRepertoireVide(Repertoire(*chemin));
  }
  return Trim(restes);
}

}  // namespace jumelix
