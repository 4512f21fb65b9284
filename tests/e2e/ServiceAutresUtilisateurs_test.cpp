// The real program in service mode run by root with settings, state and log in places
// another user controls (sudo keeps the caller's HOME; XDG directories under /tmp): such
// settings are refused before anything runs, and such a log is not written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/LancerProgramme.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;

class ServiceAutresUtilisateurs : public ::testing::Test {
 protected:
  void SetUp() override {
    // The mail goes through a "mailer" that only leaves a mark: a refused settings file
    // must never get it run.
    const std::string mailer = t.Fichier("bin/mailer", "#!/bin/sh\ntouch '" + t.Chemin("marque") +
                                                           "'\ncat >/dev/null\n");
    chmod(mailer.c_str(), 0755);
    reglages = t.Fichier("home/.config/jumelix/JumelixConfig.dat",
                         "Addr=admin@example.org\r\nTransport=sendmail\r\nSendmail=" + mailer +
                             "\r\nQdApp=AJ\r\nQdServ=SCF\r\n");
    chmod(reglages.c_str(), 0600);
    t.Fichier("s/f", "f");
    liste = t.Fichier("liste.ini", "Répertoire source\r\nRépertoire cible\r\n" + t.Chemin("s") +
                                       "\r\n" + t.Chemin("d") + "\r\n");
  }
  test::TResultatProgramme Lancer() {
    return test::LancerProgramme({"/S", liste},
                                 {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + t.Chemin("home"),
                                  "XDG_STATE_HOME=" + t.Chemin("etat")},
                                 t.Repertoire("travail"));
  }
  TempTree t;
  std::string reglages, liste;
};

TEST_F(ServiceAutresUtilisateurs, SettingsAnotherUserCouldWriteAreRefusedAndNothingRuns) {
  const bool root = geteuid() == 0;
  const std::string rep = t.Chemin("home/.config/jumelix");
  const std::string exclusions = rep + "/exclusions";
  const std::string uid = std::to_string(geteuid());
  struct Cas {
    std::string nom, chemin;  // the entry given away or opened to others
    bool autre_proprietaire;
    mode_t mode;
    std::string attendu;
  };
  const std::vector<Cas> cas = {
      {"répertoire à un autre", rep, true, 0700,
       "le répertoire " + rep + " appartient à un autre utilisateur (uid 65534) que celui qui "
       "lance Jumelix (uid " + uid + ")."},
      {"réglages à un autre", reglages, true, 0600,
       "le fichier " + reglages + " appartient à un autre utilisateur (uid 65534) que celui qui "
       "lance Jumelix (uid " + uid + ")."},
      {"réglages ouverts à tous", reglages, false, 0666,
       "le fichier " + reglages +
           " est modifiable par d'autres utilisateurs que son propriétaire (droits 0666)."},
      {"exclusions ouvertes au groupe", exclusions, false, 0620,
       "le fichier " + exclusions +
           " est modifiable par d'autres utilisateurs que son propriétaire (droits 0620)."},
      {"répertoire ouvert au groupe", rep, false, 0770,
       "le répertoire " + rep +
           " est modifiable par d'autres utilisateurs que son propriétaire (droits 0770)."},
  };
  for (const Cas& c : cas) {
    if (c.autre_proprietaire && !root) continue;  // giving a file away needs root
    if (!TempTree::Existe(c.chemin)) t.Fichier("home/.config/jumelix/exclusions", "*.tmp\n");
    struct stat avant {};
    ASSERT_EQ(stat(c.chemin.c_str(), &avant), 0);
    ASSERT_EQ(chmod(c.chemin.c_str(), c.mode), 0);
    if (c.autre_proprietaire) {
      ASSERT_EQ(chown(c.chemin.c_str(), test::kIdNobody, -1), 0);
    }
    const test::TResultatProgramme r = Lancer();
    EXPECT_EQ(r.code, 1) << c.nom;
    EXPECT_EQ(r.erreurs, "jumelix : ERREUR : Réglages refusés : " + c.attendu +
                             " Aucun couple n'est synchronisé.\n")
        << c.nom;
    EXPECT_FALSE(TempTree::Existe(t.Chemin("d"))) << c.nom;
    EXPECT_FALSE(TempTree::Existe(t.Chemin("marque"))) << c.nom;
    ASSERT_EQ(chown(c.chemin.c_str(), avant.st_uid, -1), 0);
    ASSERT_EQ(chmod(c.chemin.c_str(), avant.st_mode & 07777), 0);
  }
  // The same settings, private: the run happens and its mailer is run.
  const test::TResultatProgramme r = Lancer();
  EXPECT_EQ(r.code, 0) << r.erreurs;
  EXPECT_EQ(TempTree::Lire(t.Chemin("d/f")), "f");
  EXPECT_TRUE(TempTree::Existe(t.Chemin("marque")));
}

TEST_F(ServiceAutresUtilisateurs, ALogThatIsALinkOrAnotherUsersIsNotWritten) {
  const std::string journal = t.Chemin("etat/jumelix/jumelix.log");
  const std::string dehors = t.Fichier("dehors", "à root\n");
  t.Repertoire("etat/jumelix");
  chmod(t.Chemin("etat/jumelix").c_str(), 0700);
  t.Lien("etat/jumelix/jumelix.log", dehors);
  test::TResultatProgramme r = Lancer();
  EXPECT_EQ(r.code, 0) << r.erreurs;
  EXPECT_EQ(TempTree::Lire(dehors), "à root\n");
  EXPECT_NE(r.erreurs.find("jumelix : Journal non écrit : " + journal + " est un lien symbolique.\n"),
            std::string::npos)
      << r.erreurs;
  EXPECT_EQ(TempTree::Lire(t.Chemin("d/f")), "f");  // the run itself went on

  if (geteuid() != 0) return;
  ASSERT_EQ(unlink(journal.c_str()), 0);
  t.Fichier("etat/jumelix/jumelix.log", "d'un autre\n");
  ASSERT_EQ(chown(journal.c_str(), test::kIdNobody, test::kIdNobody), 0);
  r = Lancer();
  EXPECT_EQ(TempTree::Lire(journal), "d'un autre\n");
  EXPECT_NE(r.erreurs.find("jumelix : Journal non écrit : le fichier " + journal +
                           " appartient à un autre utilisateur (uid 65534)"),
            std::string::npos)
      << r.erreurs;
  // Its own log again: written.
  ASSERT_EQ(unlink(journal.c_str()), 0);
  r = Lancer();
  EXPECT_EQ(r.erreurs.find("Journal non écrit"), std::string::npos) << r.erreurs;
  EXPECT_NE(TempTree::Lire(journal).find("Debut synchronisation"), std::string::npos);
}

}  // namespace
}  // namespace jumelix
