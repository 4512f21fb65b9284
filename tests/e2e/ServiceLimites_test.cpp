// The real program in service mode under the limits a real machine sets: the night still
// ends with its closing lines and the right status.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "support/BilanParcours.h"
#include "support/LancerProgramme.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;

TEST(ServiceLimites, ALowDescriptorLimitStillEndsTheNightRight) {
  // 800 directories at a limit of 256 descriptors (ulimit -n 256): what the walk makes
  // ahead shrinks to the limit instead of failing with "Too many open files".
  TempTree t;
  for (int i = 0; i < 40; ++i) {
    for (int j = 0; j < 20; ++j) {
      t.Fichier("s/" + std::to_string(i) + "/" + std::to_string(j) + "/f", "x");
    }
  }
  t.Fichier("d/en-trop/f", "x");
  const std::string s = t.Chemin("s"), d = t.Chemin("d"), etat = t.Chemin("etat");
  const std::string liste =
      t.Fichier("liste.ini", "Répertoire source\r\nRépertoire cible\r\n" + s + "\r\n" + d + "\r\n");
  const std::string home = t.Repertoire("home"), travail = t.Repertoire("travail");
  auto code = test::ExecuterDansFils(
      [] {
        struct rlimit lim {
          256, 256
        };
        setrlimit(RLIMIT_NOFILE, &lim);
      },
      [&] {
        return std::to_string(test::LancerProgramme({"/S", liste},
                                                    {"PATH=/usr/bin:/bin", "LC_ALL=C",
                                                     "HOME=" + home, "XDG_STATE_HOME=" + etat},
                                                    travail)
                                  .code);
      },
      120);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, "0");
  const std::string journal = TempTree::Lire(etat + "/jumelix/jumelix.log");
  EXPECT_NE(journal.find(s + " et " + d + " ="), std::string::npos) << journal;
  EXPECT_NE(journal.find("Synchronisation terminée. Nombre d'erreurs 0"), std::string::npos);
  EXPECT_NE(journal.find("Nombre de fichiers copiés 800 ; Supprimés 1"), std::string::npos);
  EXPECT_EQ(test::EcartsRsync(s, d, "--exclude=/.jumelix-archive"), "");
}

}  // namespace
}  // namespace jumelix
