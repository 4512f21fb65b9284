// The plan a comparison makes of a list, for a preview: per pair, each change a
// synchronisation would make (the engine's TAction, as the comparison tells it), with
// per-pair and total counts and bytes. The user may leave changes out: one, a folder with
// all below it, every change of one kind in a pair (all deletions, say). A synchronisation
// then follows the plan through the engine's SurChoix: what was left out stays as it is,
// and an entry that changed since the plan was made is left too, with a report line of the
// engine's, never acted on blindly. Not thread-safe; a plan outlives the runs given its
// Choix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/UDelta.h"

namespace jumelix {

class TPlanApercu {
 public:
  static constexpr size_t kAucun = static_cast<size_t>(-1);
  struct TChangement {
    TAction action;
    bool coche = true;  // to be made
    // A folder missing from the destination is one planned action: its content is kept
    // (the synchronisation asks about each entry) but folded into it. `dossier` is the
    // index of the folder an entry is folded into (kAucun: an action of its own); a folder
    // created counts here the entries below it and their bytes.
    size_t dossier = kAucun;
    size_t contenu = 0;
    int64_t octets_contenu = 0;
  };
  struct TPaire {
    std::string source, destination;
    int ligne = 0;                         // its grid row, when the window made the plan
    std::vector<TChangement> changements;  // in the walk's order
    std::vector<size_t> actions;           // the changes shown as actions, in that order
  };
  struct TTotaux {
    // Actions: a folder created counts once, whatever it holds.
    size_t creations = 0, remplacements = 0, attributs = 0, suppressions = 0;
    size_t recentes = 0;  // replacements of a destination file newer than its source
    size_t laisses = 0;   // actions left out
    int64_t octets = 0;   // of the files to copy, among the actions kept
    size_t entrees = 0;   // entries to change among the actions kept, folded ones included
    size_t Actions() const { return creations + remplacements + attributs + suppressions; }
  };

  // A pair begins; its changes follow through Ajouter. Returns its number.
  size_t AjouterPaire(std::string source, std::string destination, int ligne = 0);
  // The pair of the grid row `ligne`, or kAucun.
  size_t PaireDeLigne(int ligne) const;
  // One change of the last pair, as the comparison told it.
  void Ajouter(const TAction& action);
  // What a comparison's SurAction gives for the last pair.
  TSurAction Recepteur() {
    return [this](const TAction& a) { Ajouter(a); };
  }

  const std::vector<TPaire>& Paires() const { return paires_; }
  bool Vide() const { return paires_.empty(); }

  // Keeps (`coche`) or leaves out the change `i` of the pair `paire`; when it is a
  // directory's (created or deleted), the changes below that directory with it.
  void Cocher(size_t paire, size_t i, bool coche);
  // Keeps or leaves out every change of the kind `type` of the pair `paire`.
  void CocherType(size_t paire, TypeAction type, bool coche);

  TTotaux Totaux(size_t paire) const;
  TTotaux Totaux() const;
  // Actions left out in the whole plan.
  size_t NbLaisses() const { return Totaux().laisses; }
  // The action the change `i` of the pair `paire` belongs to (itself, or its folder).
  size_t ActionDe(size_t paire, size_t i) const;

  // The engine's choice for the synchronisation of the pair `paire` (null when the plan
  // has no such pair: every change is then made).
  TSurChoix Choix(size_t paire) const;

 private:
  std::vector<TPaire> paires_;
  // The last pair's created folders (every level) and the action each is folded into.
  std::unordered_map<std::string, size_t> dossiers_crees_;
};

}  // namespace jumelix
