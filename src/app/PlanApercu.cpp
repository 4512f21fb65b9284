#include "app/PlanApercu.h"

#include <utility>

namespace jumelix {

namespace {

// True when the change `vu` the walk is about to make is the one planned as `prevu`: same
// kind of change and of entry; for a file copied or fixed the same source (size and
// last-write time); for a file replaced, fixed or deleted the same destination file (someone
// may have changed the mirror since).
bool MemeChangement(const TAction& prevu, const TAction& vu) {
  if (prevu.type != vu.type || prevu.repertoire != vu.repertoire) return false;
  if (vu.repertoire) return true;
  if (vu.type != TypeAction::Creation &&
      (prevu.octetsCible != vu.octetsCible || prevu.secondesCible != vu.secondesCible))
    return false;
  if (vu.type == TypeAction::Suppression) return true;
  return prevu.octets == vu.octets && prevu.secondes == vu.secondes && prevu.nanos == vu.nanos;
}

bool Sous(const std::string& chemin, const std::string& dossier) {
  return chemin.size() > dossier.size() && chemin.compare(0, dossier.size(), dossier) == 0 &&
         chemin[dossier.size()] == '/';
}

}  // namespace

size_t TPlanApercu::AjouterPaire(std::string source, std::string destination, int ligne) {
  paires_.push_back({std::move(source), std::move(destination), ligne, {}, {}});
  dossiers_crees_.clear();
  return paires_.size() - 1;
}

size_t TPlanApercu::PaireDeLigne(int ligne) const {
  for (size_t p = 0; p < paires_.size(); ++p)
    if (paires_[p].ligne == ligne) return p;
  return kAucun;
}

void TPlanApercu::Ajouter(const TAction& action) {
  if (paires_.empty()) return;
  TPaire& paire = paires_.back();
  const size_t i = paire.changements.size();
  TChangement c{action, true};
  // A created folder's content follows it in the walk, not always right after it: each is
  // found by its parent, which is a created folder too.
  const size_t fin = action.chemin.rfind('/');
  if (action.type == TypeAction::Creation && fin != std::string::npos && !dossiers_crees_.empty()) {
    const auto trouve = dossiers_crees_.find(action.chemin.substr(0, fin));
    if (trouve != dossiers_crees_.end()) c.dossier = trouve->second;
  }
  if (c.dossier == kAucun) {
    paire.actions.push_back(i);
  } else {
    TChangement& dossier = paire.changements[c.dossier];
    ++dossier.contenu;
    dossier.octets_contenu += action.octets;
  }
  if (action.type == TypeAction::Creation && action.repertoire)
    dossiers_crees_.emplace(action.chemin, c.dossier == kAucun ? i : c.dossier);
  paire.changements.push_back(std::move(c));
}

size_t TPlanApercu::ActionDe(size_t paire, size_t i) const {
  if (paire >= paires_.size() || i >= paires_[paire].changements.size()) return kAucun;
  const size_t dossier = paires_[paire].changements[i].dossier;
  return dossier == kAucun ? i : dossier;
}

void TPlanApercu::Cocher(size_t paire, size_t i, bool coche) {
  if (paire >= paires_.size() || i >= paires_[paire].changements.size()) return;
  std::vector<TChangement>& c = paires_[paire].changements;
  c[i].coche = coche;
  if (!c[i].action.repertoire) return;
  const std::string dossier = c[i].action.chemin;
  for (TChangement& autre : c) {
    if (Sous(autre.action.chemin, dossier)) autre.coche = coche;
  }
}

void TPlanApercu::CocherType(size_t paire, TypeAction type, bool coche) {
  if (paire >= paires_.size()) return;
  // One pass, folded entries with their folder: a plan may hold many thousand folders.
  std::vector<TChangement>& c = paires_[paire].changements;
  for (TChangement& e : c) {
    const TChangement& action = e.dossier == kAucun ? e : c[e.dossier];
    if (action.action.type == type) e.coche = coche;
  }
}

TPlanApercu::TTotaux TPlanApercu::Totaux(size_t paire) const {
  TTotaux t;
  if (paire >= paires_.size()) return t;
  for (size_t i : paires_[paire].actions) {
    const TChangement& c = paires_[paire].changements[i];
    if (!c.coche) {
      ++t.laisses;
      continue;
    }
    t.entrees += 1 + c.contenu;
    t.octets += c.octets_contenu;
    switch (c.action.type) {
      case TypeAction::Creation:
        ++t.creations;
        break;
      case TypeAction::Remplacement:
        ++t.remplacements;
        if (c.action.cibleRecente) ++t.recentes;
        break;
      case TypeAction::Attributs:
        ++t.attributs;
        break;
      case TypeAction::Suppression:
        ++t.suppressions;
        break;
    }
    t.octets += c.action.octets;
  }
  return t;
}

TPlanApercu::TTotaux TPlanApercu::Totaux() const {
  TTotaux t;
  for (size_t p = 0; p < paires_.size(); ++p) {
    const TTotaux u = Totaux(p);
    t.creations += u.creations;
    t.remplacements += u.remplacements;
    t.attributs += u.attributs;
    t.suppressions += u.suppressions;
    t.recentes += u.recentes;
    t.laisses += u.laisses;
    t.octets += u.octets;
    t.entrees += u.entrees;
  }
  return t;
}

TSurChoix TPlanApercu::Choix(size_t paire) const {
  if (paire >= paires_.size()) return {};
  const std::vector<TChangement>* changements = &paires_[paire].changements;
  auto index = std::make_shared<std::unordered_map<std::string, size_t>>();
  for (size_t i = 0; i < changements->size(); ++i) index->emplace((*changements)[i].action.chemin, i);
  return [changements, index](const TAction& vu) {
    const auto trouve = index->find(vu.chemin);
    if (trouve == index->end()) return TChoix::Imprevu;
    const TChangement& c = (*changements)[trouve->second];
    if (!MemeChangement(c.action, vu)) return TChoix::Imprevu;
    return c.coche ? TChoix::Faire : TChoix::Laisser;
  };
}

}  // namespace jumelix
