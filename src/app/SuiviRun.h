// How a run's progress and outcome are told: the time left, the progress strip's counters,
// the archive folder of a pair. Pure functions of their inputs; no state, any thread.
#pragma once

#include <cstdint>
#include <string>

#include "app/PlanApercu.h"
#include "app/VueJumelix.h"

namespace jumelix {

// Before this much time, a rate says little about the rest of a run.
inline constexpr uint32_t kDelaiEstimationMs = 3000;

// The time left when `fait` of `total` took `ecoule_ms`, at the same rate; -1 while it
// cannot be estimated (too early, nothing done yet, no total), 0 once all is done.
int64_t EstimerRestantMs(uint32_t ecoule_ms, uint64_t fait, uint64_t total);

// "45 s", "3 min 20 s", "1 h 05 min".
std::string TexteDuree(int64_t ms);

// The progress strip's counters: "120 / 800 éléments · 1,2 Mo / 40,0 Mo · reste
// environ 3 min 20 s" when a plan gave the totals, else "120 éléments traités (total
// inconnu)" with the copied volume and rate when there is one.
std::string TexteProgression(const TAvancementRun& a);

// A plan's totals: "3 à créer, 1 à remplacer (1 cible plus récente), 2 à supprimer ·
// 12,5 Mo à copier · 1 laissé(s) de côté"; "Aucun changement" when there is nothing to do.
std::string TexteTotaux(const TPlanApercu::TTotaux& t);

// A planned action's kind as the preview names it: "Créer", "Remplacer", "Attributs",
// "Supprimer".
const char* TexteTypeAction(TypeAction type);

// The folder of the run in a destination's archive that holds `archive` (an archived
// entry's new path: <destination>/.jumelix-archive/<folder>/...); empty when it is none.
std::string DossierArchiveDe(const std::string& archive);

}  // namespace jumelix
