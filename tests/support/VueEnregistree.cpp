#include "support/VueEnregistree.h"

namespace jumelix {

void TVueEnregistree::ViderLog() {
  log.clear();
  ++nb_vidages_log;
}

void TVueEnregistree::AjouterLog(const std::string& ligne) { log.push_back(ligne); }

void TVueEnregistree::DefinirPanneau(int panneau, const std::string& texte) {
  if (panneau < 0 || panneau >= static_cast<int>(panneaux.size())) return;
  panneaux[panneau] = texte;
  if (panneau == 0) historique_panneau0.push_back(texte);
}

TReponseMessage TVueEnregistree::Message(const std::string& texte, const std::string& titre,
                                         TBoutonsMessage boutons, TIconeMessage icone) {
  messages.push_back({texte, titre, boutons, icone});
  if (!reponses.empty()) {
    TReponseMessage r = reponses.front();
    reponses.pop_front();
    return r;
  }
  if (boutons == TBoutonsMessage::OuiNon) return TReponseMessage::Non;
  return boutons == TBoutonsMessage::OuiNonAnnuler ? TReponseMessage::Annuler : TReponseMessage::Ok;
}

std::optional<std::string> TVueEnregistree::DialogueOuvrir(const TDialogueFichier& d) {
  dialogues.push_back(d);
  return reponse_ouvrir;
}

std::optional<std::string> TVueEnregistree::DialogueEnregistrer(const TDialogueFichier& d) {
  dialogues.push_back(d);
  return reponse_enregistrer;
}

std::optional<std::string> TVueEnregistree::ChoisirRepertoire(const std::string& titre) {
  titres_repertoire.push_back(titre);
  return reponse_repertoire;
}

void TVueEnregistree::TraiterEvenements() {
  ++nb_evenements;
  if (sur_evenements) sur_evenements();
}

}  // namespace jumelix
