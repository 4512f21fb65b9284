#include "platform/Processus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/System.h"

namespace jumelix::platform {
namespace {

using Args = std::vector<std::string>;

TEST(DecouperLigneCommande, SplitsLikeAShellWithoutExpansion) {
  struct Cas {
    std::string ligne;
    Args attendu;
  } cas[] = {
      {"", {}},
      {"  jeton   --compte a@b  ", {"jeton", "--compte", "a@b"}},
      {R"(prog "deux mots" 'un $HOME' \"x\")", {"prog", "deux mots", "un $HOME", "\"x\""}},
      {R"(p "a\"b\\c\d" e\ f)", {"p", "a\"b\\c\\d", "e f"}},
      {R"(p ""  '' a""b)", {"p", "", "", "ab"}},
      {"p $(rm -rf x);ls|cat", {"p", "$(rm", "-rf", "x);ls|cat"}},
  };
  for (const Cas& k : cas) {
    Args a;
    std::string erreur;
    EXPECT_TRUE(DecouperLigneCommande(k.ligne, a, erreur)) << k.ligne;
    EXPECT_EQ(a, k.attendu) << k.ligne;
  }
  Args a;
  std::string erreur;
  EXPECT_FALSE(DecouperLigneCommande("p 'ouvert", a, erreur));
  EXPECT_EQ(erreur, "Apostrophe non fermée dans la commande");
  EXPECT_FALSE(DecouperLigneCommande("p \"ouvert", a, erreur));
  EXPECT_EQ(erreur, "Guillemet non fermé dans la commande");
}

TEST(ExecuterProcessus, FeedsInputAndKeepsBothOutputs) {
  TOptionsProcessus o;
  o.entree = std::string(200000, 'x') + "\nfin\n";  // more than a pipe holds
  TResultatProcessus r = ExecuterProcessus({"sh", "-c", "wc -c; echo oups >&2; exit 3"}, o);
  EXPECT_EQ(r.erreurLancement, 0);
  EXPECT_EQ(r.statut, 3);
  EXPECT_FALSE(r.Reussi());
  EXPECT_EQ(r.sortie.View(), "200005\n");
  EXPECT_EQ(r.erreurs, "oups\n");

  r = ExecuterProcessus({"true"}, {});
  EXPECT_TRUE(r.Reussi());

  // A program that stops reading early does not kill this process with SIGPIPE.
  o.entree = std::string(1 << 20, 'y');
  r = ExecuterProcessus({"sh", "-c", "exit 0"}, o);
  EXPECT_EQ(r.statut, 0);
}

TEST(ExecuterProcessus, DelayAndStopKillTheWholeGroup) {
  TOptionsProcessus o;
  o.delaiMs = 300;
  int appels = 0;
  o.pendant = [&] { ++appels; };
  uint32_t debut = TickCount();
  // The grandchild holds the pipes open: it must die with its parent.
  TResultatProcessus r = ExecuterProcessus({"sh", "-c", "sleep 30 & sleep 30"}, o);
  EXPECT_TRUE(r.delaiDepasse);
  EXPECT_LT(TickCount() - debut, 5000u);
  EXPECT_GT(appels, 0);

  o.delaiMs = 30000;
  o.arret = [&] { return TickCount() - debut > 200; };
  debut = TickCount();
  r = ExecuterProcessus({"sleep", "30"}, o);
  EXPECT_TRUE(r.arrete);
  EXPECT_LT(TickCount() - debut, 5000u);
}

}  // namespace
}  // namespace jumelix::platform
