// A headless main window for the tests: records everything the run controller shows (log
// area, status panels, button caption, message boxes, dialogs, event processing) and
// answers message boxes and dialogs from a script. A hook runs at every event processing,
// where a test plays the user pressing a button in the middle of a walk.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/VueJumelix.h"

namespace jumelix {

class TVueEnregistree : public IVueJumelix {
 public:
  struct TMessage {
    std::string texte;
    std::string titre;
    TBoutonsMessage boutons;
    TIconeMessage icone;
  };

  // What the window would show now.
  std::vector<std::string> log;  // the log area's lines
  std::array<std::string, 5> panneaux;
  std::vector<std::string> historique_panneau0;  // every text put into panel 0
  std::string legende;
  // What happened.
  int nb_vidages_log = 0;
  int nb_repeintures_barre = 0;
  int nb_repeintures_grille = 0;
  int nb_evenements = 0;
  int nb_fermetures = 0;
  std::vector<bool> curseurs;
  std::vector<TMessage> messages;
  std::vector<TDialogueFichier> dialogues;
  std::vector<std::string> titres_repertoire;
  std::optional<int> hauteur_demandee;
  std::vector<size_t> lots_log;              // size of every batch of log lines
  std::vector<bool> runs;                    // every RunEnCours
  std::vector<TAvancementRun> avancements;  // every AfficherAvancement
  int nb_listes_changees = 0;

  // Scripted answers. A message box with no scripted answer gets Ok, or Annuler (Non for
  // Oui/Non) when Ok is not offered.
  std::deque<TReponseMessage> reponses;
  std::optional<std::string> reponse_ouvrir;
  std::optional<std::string> reponse_enregistrer;
  std::optional<std::string> reponse_repertoire;
  std::function<void()> sur_evenements;  // runs inside TraiterEvenements
  std::string credit = "credit-test";

  void ViderLog() override;
  void AjouterLignesLog(const std::vector<std::string>& lignes) override {
    lots_log.push_back(lignes.size());
    log.insert(log.end(), lignes.begin(), lignes.end());
  }
  void RunEnCours(bool en_cours) override { runs.push_back(en_cours); }
  void AfficherAvancement(const TAvancementRun& a) override { avancements.push_back(a); }
  void ListeChangee() override { ++nb_listes_changees; }
  void AjouterLog(const std::string& ligne) override;
  void DefinirPanneau(int panneau, const std::string& texte) override;
  void RepeindreBarreEtat() override { ++nb_repeintures_barre; }
  void RepeindreGrille() override { ++nb_repeintures_grille; }
  void DefinirLegendeFermer(const std::string& l) override { legende = l; }
  TReponseMessage Message(const std::string& texte, const std::string& titre,
                          TBoutonsMessage boutons, TIconeMessage icone) override;
  std::optional<std::string> DialogueOuvrir(const TDialogueFichier& d) override;
  std::optional<std::string> DialogueEnregistrer(const TDialogueFichier& d) override;
  std::optional<std::string> ChoisirRepertoire(const std::string& titre) override;
  void TraiterEvenements() override;
  void CurseurAttente(bool actif) override { curseurs.push_back(actif); }
  void AjusterHauteurGrille(int nb_paires) override { hauteur_demandee = nb_paires; }
  std::string TexteCredit() override { return credit; }
  void FermerFenetre() override { ++nb_fermetures; }
};

}  // namespace jumelix
