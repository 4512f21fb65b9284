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

  // Scripted answers. A message box with no scripted answer gets Ok, or Annuler when Ok
  // is not offered.
  std::deque<TReponseMessage> reponses;
  std::optional<std::string> reponse_ouvrir;
  std::optional<std::string> reponse_enregistrer;
  std::optional<std::string> reponse_repertoire;
  std::function<void()> sur_evenements;  // runs inside TraiterEvenements
  std::string credit = "credit-test";

  void ViderLog() override;
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
