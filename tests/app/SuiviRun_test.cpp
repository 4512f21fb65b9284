// The texts and estimates of a run's progress and report.
#include "app/SuiviRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace jumelix {
namespace {

TEST(SuiviRun, EstimatesTheTimeLeftOnlyOnceItMeansSomething) {
  struct Cas {
    uint32_t ecoule;
    uint64_t fait, total;
    int64_t attendu;
  };
  for (const Cas& c : std::vector<Cas>{
           {10000, 25, 100, 30000},  // a quarter in 10 s: 30 s more
           {kDelaiEstimationMs, 50, 100, kDelaiEstimationMs},
           {kDelaiEstimationMs - 1, 50, 100, -1},  // too early
           {60000, 0, 100, -1},                    // nothing done yet
           {60000, 10, 0, -1},                     // no total
           {60000, 100, 100, 0},                   // all done
           {60000, 120, 100, 0},                   // more than planned (a file grew)
       }) {
    EXPECT_EQ(EstimerRestantMs(c.ecoule, c.fait, c.total), c.attendu)
        << c.ecoule << " " << c.fait << " " << c.total;
  }
  // Terabytes after an hour: no overflow on the way.
  EXPECT_EQ(EstimerRestantMs(3600000, 1000000000000ull, 4000000000000ull), 3 * 3600000);
}

TEST(SuiviRun, TellsDurationsInWords) {
  const std::vector<std::pair<int64_t, std::string>> cas = {{1, "1 s"},
                                                            {999, "1 s"},
                                                            {45000, "45 s"},
                                                            {59001, "1 min 00 s"},
                                                            {200000, "3 min 20 s"},
                                                            {3900000, "1 h 05 min"}};
  for (const auto& [ms, texte] : cas) EXPECT_EQ(TexteDuree(ms), texte) << ms;
}

TEST(SuiviRun, ProgressTextIsHonestAboutAnUnknownTotal) {
  TAvancementRun a;
  a.entrees = 120;
  EXPECT_EQ(TexteProgression(a), "120 éléments traités (total inconnu)");
  a.volume = "12,5 Mo à 3,1 Mo/s";
  EXPECT_EQ(TexteProgression(a), "120 éléments traités (total inconnu) · 12,5 Mo à 3,1 Mo/s");
  // A plan gave the totals: what is done out of them, and the time left once known.
  a.changements = 40;
  a.changements_total = 800;
  EXPECT_EQ(TexteProgression(a), "40 / 800 éléments");
  a.octets = 1200000;
  a.octets_total = 40000000;
  a.restant_ms = 200000;
  EXPECT_EQ(TexteProgression(a), "40 / 800 éléments · 1,2 Mo / 40,0 Mo · reste environ 3 min 20 s");
}

TEST(SuiviRun, SumsUpAPlan) {
  TPlanApercu::TTotaux t;
  EXPECT_EQ(TexteTotaux(t), "Aucun changement");
  t.creations = 3;
  t.remplacements = 1;
  t.recentes = 1;
  t.suppressions = 2;
  t.octets = 12500000;
  t.laisses = 1;
  EXPECT_EQ(TexteTotaux(t),
            "3 à créer, 1 à remplacer (1 cible(s) plus récente(s)), 2 à supprimer · 12,5 Mo à "
            "copier · 1 laissé(s) de côté");
  TPlanApercu::TTotaux u;
  u.attributs = 2;
  EXPECT_EQ(TexteTotaux(u), "2 attributs à corriger");
}

TEST(SuiviRun, FindsTheRunsFolderOfAnArchivedEntry) {
  const std::vector<std::pair<std::string, std::string>> cas = {
      {"/m/dst/.jumelix-archive/2026-12-09 013000/docs/a.txt",
       "/m/dst/.jumelix-archive/2026-12-09 013000"},
      {"/m/dst/.jumelix-archive/2026-12-09 013000-2/a",
       "/m/dst/.jumelix-archive/2026-12-09 013000-2"},
      {"/m/dst/.jumelix-archive/2026-12-09 013000", "/m/dst/.jumelix-archive/2026-12-09 013000"},
      {"/m/dst/docs/a.txt", ""},
      {"", ""},
  };
  for (const auto& [archive, dossier] : cas)
    EXPECT_EQ(DossierArchiveDe(archive), dossier) << archive;
}

}  // namespace
}  // namespace jumelix
