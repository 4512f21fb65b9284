// A service run that mails its report to a real SMTP server on 127.0.0.1, with the mail
// settings file of the user's configuration directory: the service rule decides, the
// subject says whether the report holds an error, and the outcome goes to standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "shared/URoutines.h"
#include "support/LancerProgramme.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using test::TSmtpServer;

using Sortie = test::TResultatProgramme;

// A service run with the test's own home, state and configuration directories.
Sortie LancerService(TempTree& arbre, const std::string& liste) {
  return test::LancerProgramme(
      {"/S", liste},
      {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + arbre.Chemin("home"),
       "XDG_STATE_HOME=" + arbre.Chemin("etat"), "XDG_CONFIG_HOME=" + arbre.Chemin("config")},
      arbre.Racine());
}

class ServiceMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(serveur_.Started()) << serveur_.Error();
    arbre_.Repertoire("home");
    arbre_.Fichier("config/jumelix/JumelixConfig.dat",
                   "Addr=admin@example.org\r\nSMTP=127.0.0.1\r\nPort=" + serveur_.PortText() +
                       "\r\nQdApp=AJ\r\nQdServ=SSE\r\n");
    arbre_.Fichier("s/f", "f");
  }
  std::string Liste(const std::string& destination) {
    return arbre_.Fichier("l.ini", "Répertoire source\r\nRépertoire cible\r\n" +
                                       arbre_.Chemin("s") + "\r\n" + destination + "\r\n");
  }

  TSmtpServer serveur_;
  TempTree arbre_;
};

TEST_F(ServiceMailTest, ErrorRunIsMailedWithTheErrorSubject) {
  // A destination inside its source: the pair is refused, one error line.
  Sortie s = LancerService(arbre_, Liste(arbre_.Chemin("s/copie")));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nMail envoyé.\n");
  ASSERT_TRUE(serveur_.WaitForMessages(1, 10000));
  const TSmtpServer::Message m = serveur_.Messages()[0];
  EXPECT_EQ(m.rcpt_to, std::vector<std::string>{"admin@example.org"});
  EXPECT_NE(m.raw.find("Jumelix [" + NomOrdinateur() + "] : AU MOINS UNE ERREUR"),
            std::string::npos)
      << m.raw;
  EXPECT_NE(m.raw.find("Nombre d'erreurs 1"), std::string::npos) << m.raw;
  // The mail lines stay out of the log file.
  const std::string journal = TempTree::Lire(arbre_.Chemin("etat/jumelix/jumelix.log"));
  EXPECT_EQ(journal.find("mail"), std::string::npos) << journal;
}

TEST_F(ServiceMailTest, RunWithoutErrorSendsNothingUnderTheErrorOnlyRule) {
  Sortie s = LancerService(arbre_, Liste(arbre_.Chemin("d")));
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "");
  EXPECT_EQ(TempTree::Lire(arbre_.Chemin("d/f")), "f");
  EXPECT_FALSE(serveur_.WaitForMessages(1, 300));
}

TEST_F(ServiceMailTest, UnreachableServerIsReportedAndTheRunStillEnds) {
  serveur_.Stop();
  Sortie s = LancerService(arbre_, Liste(arbre_.Chemin("s/copie")));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs.rfind("Envoi du compte-rendu par mail.\nErreur mail : ", 0), 0u) << s.erreurs;
}

}  // namespace
}  // namespace jumelix
