// The changes of one walk as it tells them (TReglagesRun::SurAction) and, following a
// previewed plan, asks about them (TReglagesRun::SurChoix): what a synchronisation makes, or a
// comparison would make. A run with neither listener builds nothing. Used on the walk's
// thread only (engine/UDelta.cpp).
#pragma once

#include <string>

#include "engine/Archive.h"
#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

class TChangements {
 public:
  // `etat` and `archive` must outlive the object.
  TChangements(const TReglagesRun& etat, bool comparer, const TArchive& archive)
      : etat_(etat), comparer_(comparer), archive_(archive) {}

  // Whether anyone is told of or asked about the changes (the window's preview, the
  // terminal's itemised output).
  bool Ecoute() const { return etat_.SurAction || (!comparer_ && etat_.SurChoix); }
  bool Dit() const { return static_cast<bool>(etat_.SurAction); }

  // The change `type` of the destination entry `chemin` (from the source entry `e`, when
  // given); its old version would go to the archive when the settings keep one. Empty
  // when nobody listens.
  TAction Changement(TypeAction type, bool repertoire, const std::string& chemin,
                     const platform::EntreeRepertoire* e = nullptr,
                     bool cibleRecente = false) const;
  // The destination side of the change `a` to the entry `nom` of `rep`: the entry as it
  // stands before the change (one look at it, only when someone listens).
  TAction Cible(TAction a, platform::TSystemeFichiers& fs, const platform::TRepertoire& rep,
                const std::string& nom) const;
  // A change made: where its old version went, if the archive kept one.
  TAction Archivee(TAction a) const;
  void Dire(const TAction& a) const {
    if (etat_.SurAction) etat_.SurAction(a);
  }
  // Whether the change `a` is to be made: always in compare mode, and without a plan.
  TChoix Choisir(const TAction& a) const;

 private:
  const TReglagesRun& etat_;
  const bool comparer_;
  const TArchive& archive_;
};

}  // namespace jumelix
