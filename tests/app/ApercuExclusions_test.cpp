// The preview of what the exclusion patterns leave out, on real trees, and the reading and
// saving of the global patterns file.
#include "app/ApercuExclusions.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/GrilleLignes.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;

TEST(ApercuExclusions, MotifsGlobauxEtImbriquesNegationEtRepertoireCompteUneFois) {
  TempTree t;
  t.Fichier("src/a.txt");
  t.Fichier("src/b.swp");
  t.Fichier("src/garde.swp");
  t.Fichier("src/.cache/x/1");
  t.Fichier("src/.cache/2.swp");                   // would count again if .cache were entered
  t.Fichier("src/.cache/.jumelixignore", "!1\n");  // never read: the directory is left out
  t.Fichier("src/.jumelixignore", "!garde.swp\n");
  t.Fichier("src/doc/.jumelixignore", "*.log\n");
  t.Fichier("src/doc/n.log");
  t.Fichier("src/doc/sous/m.log");
  t.Fichier("src/n.log");  // the file in doc/ applies below doc/ only
  t.Lien("src/lien", "doc");

  const TApercu a = CompterExclusions(t / "src", "*.swp\n.cache/\n", 1000);
  EXPECT_EQ(a.erreur, 0);
  EXPECT_EQ(a.exclues, 4u);  // .cache, b.swp, doc/n.log, doc/sous/m.log
  EXPECT_EQ(a.premiere, ".cache");
  EXPECT_FALSE(a.borne);
  EXPECT_EQ(a.fichiersSource, (std::vector<std::string>{".jumelixignore", "doc/.jumelixignore"}));
  EXPECT_EQ(TexteApercu(t / "src", a), "4 entrées laissées de côté, dont .cache");

  const TApercu seul = CompterExclusions(t / "src", "", 1000);
  EXPECT_EQ(seul.exclues, 2u);
  EXPECT_EQ(seul.premiere, "doc/n.log");
  EXPECT_EQ(LireMotifsSource(t / "src"), "!garde.swp\n");

  // A patterns file that cannot be read is where a run would stop: said, and passed over.
  t.Lien("src/doc/sous/.jumelixignore", "ailleurs");
  const TApercu illisible = CompterExclusions(t / "src", "", 1000);
  EXPECT_EQ(illisible.exclues, 2u);
  EXPECT_EQ(TexteApercu("s", illisible),
            "2 entrées laissées de côté, dont doc/n.log. Le fichier doc/sous/.jumelixignore ne "
            "peut être lu : la synchronisation de ce couple s'arrêtera là");
}

TEST(ApercuExclusions, LaLimiteArreteLeParcoursEtLeDit) {
  TempTree t;
  for (int i = 0; i < 30; ++i) t.Fichier("src/d/f" + std::to_string(100 + i) + ".o");
  t.Fichier("src/z");

  const TApercu tout = CompterExclusions(t / "src", "*.o\n", 1000);
  EXPECT_EQ(tout.exclues, 30u);
  EXPECT_FALSE(tout.borne);

  const TApercu borne = CompterExclusions(t / "src", "*.o\n", 10);
  EXPECT_TRUE(borne.borne);
  EXPECT_EQ(borne.exclues, 9u);  // d itself is the first entry looked at
  EXPECT_TRUE(borne.premiere.starts_with("d/f")) << borne.premiere;
  EXPECT_EQ(TexteApercu("s", borne), "Au moins 9 entrées laissées de côté, dont " + borne.premiere);

  // Exactly as many entries as the limit: all were looked at.
  EXPECT_FALSE(CompterExclusions(t / "src", "*.o\n", 32).borne);
}

TEST(ApercuExclusions, TextesSansSourceSourceAbsenteEtNombres) {
  TempTree t;
  const TApercu absente = CompterExclusions(t / "absente", "*\n", 10);
  EXPECT_EQ(absente.erreur, ENOENT);
  EXPECT_EQ(TexteApercu("/x/absente", absente), "Le répertoire source /x/absente n'existe pas");
  EXPECT_EQ(TexteApercu("", TApercu{}), "Aucun répertoire source sur la ligne en cours");
  TGrilleLignes g;
  g.DefinirCellule(kColSource, 1, "  /home/moi  ");
  EXPECT_EQ(SourceLigneCourante(g), "/home/moi");
  EXPECT_EQ(TexteApercu("s", TApercu{}), "Aucune entrée laissée de côté");
  EXPECT_EQ(TexteApercu("s", TApercu{1, "a", false, 0, {}, {}}), "1 entrée laissée de côté : a");
  EXPECT_EQ(TexteApercu("s", TApercu{1234567, "a", false, 0, {}, {}}),
            "1\u00a0234\u00a0567 entrées laissées de côté, dont a");
}

TEST(ApercuExclusions, LInfobulleDUneSourceNommeSesPropresMotifs) {
  TempTree t;
  t.Fichier("avec/.jumelixignore", "*.o\n");
  t.Fichier("sans/.jumelixignore.bak");
  t.Fichier("sans/sous/.jumelixignore");  // deeper files are the live preview's business
  const std::string note = "Motifs d'exclusion propres à cette source : " + (t / "avec") +
                           "/.jumelixignore";
  const std::string ancien = std::getenv("HOME");
  setenv("HOME", t.Racine().c_str(), 1);
  const struct {
    std::string cellule, attendu;
  } cas[] = {
      {t / "avec", note},
      {"  " + (t / "avec") + "//  ", note},
      {"~/avec", note},
      {t / "sans", ""},
      {t / "absente", ""},
      {"avec", ""},  // relative: names nothing the run would walk
      {"", ""},
  };
  for (const auto& c : cas) EXPECT_EQ(NoteMotifsSource(c.cellule), c.attendu) << c.cellule;
  TGrilleLignes g;
  g.DefinirCellule(kColSource, 1, " ~/avec ");
  EXPECT_EQ(SourceLigneCourante(g), t / "avec");
  setenv("HOME", ancien.c_str(), 1);
}

TEST(ApercuExclusions, FichierGlobalLuEtEnregistreEnEntier) {
  TempTree t;
  const std::string chemin = t / "config/jumelix/exclusions";
  std::string texte = "reste";
  EXPECT_EQ(LireExclusionsGlobales(chemin, texte), "");
  EXPECT_EQ(texte, "");  // no file yet: no pattern

  EXPECT_EQ(EnregistrerExclusionsGlobales(chemin, "*.tmp\n"), "");
  struct stat st {};
  ASSERT_EQ(stat(chemin.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((t / "config/jumelix").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(LireExclusionsGlobales(chemin, texte), "");
  EXPECT_EQ(texte, "*.tmp\n");

  t.Repertoire("config/jumelix/exclusions.d");
  EXPECT_EQ(LireExclusionsGlobales(chemin + ".d", texte),
            "Erreur en lisant le fichier " + chemin + ".d\nCe n'est pas un fichier ordinaire");
  EXPECT_TRUE(EnregistrerExclusionsGlobales(chemin + ".d", "x")
                  .starts_with("Erreur en enregistrant le fichier " + chemin + ".d\n"));
}

}  // namespace
}  // namespace jumelix
