// TJumelix's preview side (app/UJumelix.h): the plan a comparison from the window makes,
// the synchronisation that follows it, the runs of selected rows, the per-pair report of
// what a synchronisation did, and the window's own run log.
#include <algorithm>
#include <utility>

#include "app/Journal.h"
#include "app/SuiviRun.h"
#include "app/UJumelix.h"

namespace jumelix {

std::vector<std::pair<std::string, std::string>> TJumelix::CouplesGrille() const {
  std::vector<std::pair<std::string, std::string>> couples;
  for (int l = 1; l < grille_.NbLignes(); ++l)
    couples.emplace_back(grille_.Cellule(kColSource, l), grille_.Cellule(kColCible, l));
  return couples;
}

void TJumelix::AbandonnerPlan() {
  if (plan_.Vide() && couples_plan_.empty()) return;
  plan_ = TPlanApercu();
  couples_plan_.clear();
  ++generation_plan_;
}

void TJumelix::ListeChangee() {
  // During a run the walk holds the plan's pairs; the rows cannot change then anyway.
  if (!en_cours_ && !plan_.Vide() && CouplesGrille() != couples_plan_) AbandonnerPlan();
  vue_.ListeChangee();
}

void TJumelix::JournalFenetre(const std::string& texte) {
  if (mode_service_ || comparaison_) return;
  if (journal_fenetre_) {
    journal_fenetre_(texte);
    return;
  }
  const std::string chemin = CheminJournalFenetre();
  if (!chemin.empty()) JournaliserDans(chemin, texte);
}

void TJumelix::DebutRunApercu(bool ComparerSeulement) {
  nb_erreurs_fenetre_ = 0;
  suivre_plan_ = false;
  paire_plan_ = TPlanApercu::kAucun;
  changements_run_ = changements_debut_paire_ = 0;
  octets_debut_paire_ = 0;
  totaux_suivis_ = {};
  if (mode_service_) return;
  if (ComparerSeulement) {
    AbandonnerPlan();
    couples_plan_ = CouplesGrille();
    ++generation_plan_;
    return;
  }
  // Nothing left out: the synchronisation runs as if there were no plan, and only its
  // totals serve the progress display.
  suivre_plan_ = plan_.NbLaisses() > 0;
  for (size_t p = 0; p < plan_.Paires().size(); ++p) {
    if (!LigneRetenue(plan_.Paires()[p].ligne)) continue;
    const TPlanApercu::TTotaux t = plan_.Totaux(p);
    totaux_suivis_.entrees += t.entrees;
    totaux_suivis_.octets += t.octets;
  }
  // The walk tells what it does, for the report and the progress.
  etat_.SurAction = [this](const TAction& a) { SurActionRun(a); };
}

void TJumelix::PreparerCouple(int ligne, const std::string& source,
                              const std::string& destination) {
  if (mode_service_) return;
  changements_debut_paire_ = changements_run_;
  octets_debut_paire_ = etat_.OctetsCopies;
  if (comparaison_) {
    plan_.AjouterPaire(source, destination, ligne);
    TSurAction recepteur = plan_.Recepteur();
    etat_.SurAction = sur_action_ ? TSurAction([this, recepteur](const TAction& a) {
      sur_action_(a);
      recepteur(a);
    })
                                  : recepteur;
    return;
  }
  paire_plan_ = plan_.PaireDeLigne(ligne);
  // A plan made before the rows' paths changed is dropped with them: this is its pair.
  if (paire_plan_ != TPlanApercu::kAucun &&
      (plan_.Paires()[paire_plan_].source != source ||
       plan_.Paires()[paire_plan_].destination != destination))
    paire_plan_ = TPlanApercu::kAucun;
  totaux_paire_ =
      paire_plan_ == TPlanApercu::kAucun ? TPlanApercu::TTotaux{} : plan_.Totaux(paire_plan_);
  etat_.SurChoix =
      suivre_plan_ && paire_plan_ != TPlanApercu::kAucun ? plan_.Choix(paire_plan_) : TSurChoix();
}

void TJumelix::SurActionRun(const TAction& a) {
  if (sur_action_) sur_action_(a);
  ++changements_run_;
  if (bilan_courant_ < 0) return;
  TBilanCouple& b = bilan_[bilan_courant_];
  if (a.type == TypeAction::Remplacement) ++b.remplaces;
  if (a.archivee) {
    ++b.archives;
    if (b.dossier_archive.empty()) b.dossier_archive = DossierArchiveDe(a.archive);
  }
}

void TJumelix::CompleterAvancement(TAvancementRun& a) const {
  a.changements = changements_run_;
  if (comparaison_ || plan_.Vide() || mode_service_) return;
  a.changements_total = static_cast<int64_t>(totaux_suivis_.entrees);
  a.octets_total = totaux_suivis_.octets;
  if (paire_plan_ != TPlanApercu::kAucun) {
    const bool par_octets = totaux_paire_.octets > 0;
    const uint64_t fait = par_octets
                              ? a.octets - octets_debut_paire_
                              : static_cast<uint64_t>(changements_run_ - changements_debut_paire_);
    const uint64_t total =
        par_octets ? static_cast<uint64_t>(totaux_paire_.octets) : totaux_paire_.entrees;
    a.pour_mille_paire =
        total == 0 ? 1000 : static_cast<int>(std::min<uint64_t>(fait * 1000 / total, 1000));
  }
  a.restant_ms =
      a.octets_total > 0
          ? EstimerRestantMs(a.ecoule_ms, a.octets, static_cast<uint64_t>(a.octets_total))
          : EstimerRestantMs(a.ecoule_ms, static_cast<uint64_t>(a.changements),
                             static_cast<uint64_t>(a.changements_total));
}

void TJumelix::FinRunApercu() {
  etat_.SurChoix = {};
  if (mode_service_) return;
  // A stopped comparison saw part of the trees only: following its plan would leave the
  // rest as "changed since the preview". A synchronisation outdates the plan it followed.
  if (!comparaison_ || etat_.Abandon) {
    AbandonnerPlan();
  } else {
    ++generation_plan_;
  }
}

void TJumelix::ExecuterSelection(const std::vector<int>& lignes, bool ComparerSeulement) {
  if (en_cours_ || lignes.empty()) return;
  std::vector<int> avant;
  avant.swap(lignes_retenues_);
  lignes_retenues_ = lignes;
  std::sort(lignes_retenues_.begin(), lignes_retenues_.end());
  if (ComparerSeulement)
    ButtonComparerClick();
  else
    ButtonSynchroniserClick();
  lignes_retenues_.swap(avant);
}

void TJumelix::ComparerSelectionClick(const std::vector<int>& lignes) {
  ExecuterSelection(lignes, true);
}

void TJumelix::SynchroniserSelectionClick(const std::vector<int>& lignes) {
  ExecuterSelection(lignes, false);
}

}  // namespace jumelix
