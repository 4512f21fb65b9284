#include "app/GrilleLignes.h"

#include <algorithm>
#include <utility>

#include "shared/URoutines.h"

namespace jumelix {

namespace {
const std::string kVide;
}  // namespace

TGrilleLignes::TGrilleLignes() {
  cellules_.resize(2);
  cellules_[0] = {kTitreSource, kTitreCible, kTitreEtat};
}

const std::string& TGrilleLignes::Cellule(int colonne, int ligne) const {
  if (!LigneValide(ligne) || colonne < 0 || colonne >= kNbColonnes) return kVide;
  return cellules_[ligne][colonne];
}

void TGrilleLignes::DefinirCellule(int colonne, int ligne, const std::string& texte) {
  if (!LigneValide(ligne) || colonne < 0 || colonne >= kNbColonnes) return;
  if (cellules_[ligne][colonne] == texte) return;
  cellules_[ligne][colonne] = texte;
  Modifiee(colonne, ligne);
}

bool TGrilleLignes::DefinirCelluleCourante(int colonne, int ligne) {
  if (colonne != kColSource && colonne != kColCible) return false;
  if (ligne < 1 || ligne >= NbLignes()) return false;
  ChangerCourante(colonne, ligne);
  return true;
}

void TGrilleLignes::ChangerCourante(int colonne, int ligne) {
  if (colonne == colonne_courante_ && ligne == ligne_courante_) return;
  colonne_courante_ = colonne;
  ligne_courante_ = ligne;
  if (observateur_) observateur_->CelluleCouranteModifiee(colonne, ligne);
}

void TGrilleLignes::Avant() {
  if (observateur_) observateur_->AvantChangementStructure();
}

void TGrilleLignes::Apres() {
  if (observateur_) observateur_->ApresChangementStructure();
}

void TGrilleLignes::Modifiee(int colonne, int ligne) {
  if (observateur_) observateur_->CelluleModifiee(colonne, ligne);
}

bool TGrilleLignes::LigneBlanche(int ligne) const {
  return EstBlanc(Cellule(kColSource, ligne)) && EstBlanc(Cellule(kColCible, ligne));
}

void TGrilleLignes::ViderLigne(int ligne) {
  if (!LigneValide(ligne)) return;
  for (int c = 0; c < kNbColonnes; ++c) DefinirCellule(c, ligne, "");
}

void TGrilleLignes::AjouterLigneVide() {
  Avant();
  cellules_.emplace_back();
  Apres();
  ChangerCourante(kColSource, DerniereLigne());
}

void TGrilleLignes::AjouterLigne() {
  if (ligne_courante_ != DerniereLigne()) {
    ChangerCourante(colonne_courante_, DerniereLigne());
    ChangerCourante(kColSource, ligne_courante_);
    return;
  }
  if (LigneBlanche(DerniereLigne())) return;
  AjouterLigneVide();
}

void TGrilleLignes::SupprimerLigne() {
  if (NbLignes() <= 2) {
    ViderLigne(1);
    return;
  }
  Avant();
  cellules_.erase(cellules_.begin() + ligne_courante_);
  Apres();
  if (ligne_courante_ > DerniereLigne()) ChangerCourante(colonne_courante_, DerniereLigne());
}

void TGrilleLignes::SupprimerToutesLesLignes() {
  for (int n = NbLignes(); n > 0; --n) SupprimerLigne();
}

void TGrilleLignes::Restaurer(const TInstantane& i) {
  // A snapshot always holds the title row and one data row; anything else is not one.
  if (i.cellules.size() < 2) return;
  Avant();
  cellules_ = i.cellules;
  ligne_courante_ = std::clamp(i.ligne, 1, DerniereLigne());
  colonne_courante_ = i.colonne == kColCible ? kColCible : kColSource;
  Apres();
}

void TGrilleLignes::InsererLigne(int ligne) {
  // The title row never moves: inserting there would turn the titles into a data row.
  if (ligne < 1 || ligne > DerniereLigne()) return;
  Avant();
  cellules_.insert(cellules_.begin() + ligne, TRangee{});
  Apres();
}

void TGrilleLignes::CelluleSuivante() {
  if (colonne_courante_ == kColSource) {
    ChangerCourante(kColCible, ligne_courante_);
    return;
  }
  ChangerCourante(kColSource, ligne_courante_);
  if (ligne_courante_ < DerniereLigne())
    ChangerCourante(kColSource, ligne_courante_ + 1);
  else
    AjouterLigne();
}

void TGrilleLignes::MarquerEtat(int ligne) {
  if (ligne < 1 || ligne > DerniereLigne()) return;
  DefinirCellule(kColEtat, ligne, LigneBlanche(ligne) ? "" : kEtatAFaire);
}

void TGrilleLignes::MarquerEtatTout() {
  for (int r = 1; r < NbLignes(); ++r) DefinirCellule(kColEtat, r, kEtatAFaire);
}

void TGrilleLignes::DefinirLignesReference(std::vector<std::string> lignes) {
  lignes_reference_ = std::move(lignes);
}

void TGrilleLignes::RetenirGrille() {
  lignes_reference_.clear();
  for (const TRangee& r : cellules_) {
    lignes_reference_.push_back(r[kColSource]);
    lignes_reference_.push_back(r[kColCible]);
  }
}

bool TGrilleLignes::GrilleModifiee() const {
  if (lignes_reference_.size() != 2 * cellules_.size()) return true;
  for (size_t r = 0; r < cellules_.size(); ++r) {
    if (lignes_reference_[2 * r] != cellules_[r][kColSource]) return true;
    if (lignes_reference_[2 * r + 1] != cellules_[r][kColCible]) return true;
  }
  return false;
}

bool TGrilleLignes::GrilleVide() const {
  for (int r = 1; r < NbLignes(); ++r)
    if (!LigneBlanche(r)) return false;
  return true;
}

std::vector<int> TGrilleLignes::LignesAMoitieRemplies() const {
  std::vector<int> lignes;
  for (int r = 1; r < NbLignes(); ++r) {
    if (EstBlanc(Cellule(kColSource, r)) != EstBlanc(Cellule(kColCible, r))) lignes.push_back(r);
  }
  return lignes;
}

std::vector<std::string> TGrilleLignes::LignesAEnregistrer() const {
  std::vector<std::string> lignes;
  for (const TRangee& r : cellules_) {
    if (r[kColSource].empty() || r[kColCible].empty()) continue;
    lignes.push_back(r[kColSource]);
    lignes.push_back(r[kColCible]);
  }
  return lignes;
}

TDecisionTouche TGrilleLignes::DecisionTouche(TTouche touche, bool editeur_ouvert) const {
  switch (touche) {
    case TTouche::Droite:
      if (!editeur_ouvert) return {TActionTouche::CelluleSuivante, false};
      return {TActionTouche::Aucune, true};
    case TTouche::Bas:
      if (!editeur_ouvert && ligne_courante_ == DerniereLigne())
        return {TActionTouche::AjouterLigne, false};
      return {TActionTouche::Aucune, true};
    case TTouche::Inser:
      return {TActionTouche::InsererLigne, true};
    case TTouche::Autre:
      break;
  }
  return {TActionTouche::Aucune, true};
}

bool TGrilleLignes::AppliquerTouche(TTouche touche, bool editeur_ouvert) {
  TDecisionTouche d = DecisionTouche(touche, editeur_ouvert);
  switch (d.action) {
    case TActionTouche::CelluleSuivante:
      CelluleSuivante();
      break;
    case TActionTouche::AjouterLigne:
      AjouterLigne();
      break;
    case TActionTouche::InsererLigne:
      InsererLigne(ligne_courante_);
      break;
    case TActionTouche::Aucune:
      break;
  }
  return d.transmettre;
}

}  // namespace jumelix
