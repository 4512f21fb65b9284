// A service run that mails its report to a real SMTP server on 127.0.0.1, with the mail
// settings file of the user's configuration directory: the service rule decides, the
// subject says whether the report holds an error, and the outcome goes to standard error.
// Then servers that misbehave: the run still ends in time, and its exit status says
// whether the due mail went out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "shared/URoutines.h"
#include "support/LancerProgramme.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using test::TSmtpServer;

using Sortie = test::TResultatProgramme;

// A service run with the test's own home, state and configuration directories.
Sortie LancerServiceMail(TempTree& arbre, const std::string& liste) {
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
  Sortie s = LancerServiceMail(arbre_, Liste(arbre_.Chemin("s/copie")));
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
  Sortie s = LancerServiceMail(arbre_, Liste(arbre_.Chemin("d")));
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "");
  EXPECT_EQ(TempTree::Lire(arbre_.Chemin("d/f")), "f");
  // Anything sent would have been stored before the program heard the server's 250.
  EXPECT_TRUE(serveur_.Messages().empty());
}

TEST_F(ServiceMailTest, UnreachableServerIsReportedAndTheRunStillEnds) {
  serveur_.Stop();
  Sortie s = LancerServiceMail(arbre_, Liste(arbre_.Chemin("s/copie")));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs.rfind("Envoi du compte-rendu par mail.\nErreur mail : ", 0), 0u) << s.erreurs;
}

// The mail step against a scripted server that misbehaves. The report is mailed every
// time, so a clean run's exit status tells the mail's outcome alone.
class ServiceMailHostileTest : public ::testing::Test {
 protected:
  using Horloge = std::chrono::steady_clock;

  void SetUp() override {
    arbre_.Repertoire("home");
    arbre_.Fichier(
        "config/jumelix/JumelixConfig.dat",
        "Addr=admin@example.org\r\nSMTP=127.0.0.1\r\nPort=" + std::to_string(pair_.Port()) +
            "\r\nQdApp=AJ\r\nQdServ=SCF\r\nSecurite=Aucune\r\n");
    arbre_.Fichier("s/f", "f");
    liste_ = arbre_.Fichier("l.ini", "Répertoire source\r\nRépertoire cible\r\n" +
                                         arbre_.Chemin("s") + "\r\n" + arbre_.Chemin("d") + "\r\n");
  }
  pid_t Demarrer(const std::vector<std::string>& plus = {}) {
    pair_.Start();
    std::vector<std::string> environnement = {
        "PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + arbre_.Chemin("home"),
        "XDG_STATE_HOME=" + arbre_.Chemin("etat"), "XDG_CONFIG_HOME=" + arbre_.Chemin("config")};
    environnement.insert(environnement.end(), plus.begin(), plus.end());
    return test::DemarrerProgramme({"/S", liste_}, environnement, arbre_.Racine());
  }

  test::TScriptedPeer pair_;
  TempTree arbre_;
  std::string liste_;
};

TEST_F(ServiceMailHostileTest, EndlessFloodEndsWithAMailErrorAndStatusOne) {
  pair_.Flood("220-encore et encore\r\n");
  const auto debut = Horloge::now();
  Sortie s = test::AttendreProgramme(Demarrer(), arbre_.Racine());
  EXPECT_LT(Horloge::now() - debut, std::chrono::seconds(35));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs,
            "Envoi du compte-rendu par mail.\nErreur mail : Erreur : Réponse du serveur trop "
            "longue : plus de 200 lignes\n");
  EXPECT_EQ(TempTree::Lire(arbre_.Chemin("d/f")), "f");  // the run itself went well
}

TEST_F(ServiceMailHostileTest, TrickleRunsIntoTheTimeLimit) {
  // A server too slow to ever finish a line: bytes keep coming, yet the limit holds. The
  // limit is shortened from its 30 s, the way only the tests can.
  pair_.Trickle("220-lent\r\n", 200);
  const auto debut = Horloge::now();
  Sortie s = test::AttendreProgramme(Demarrer({"JUMELIX_DELAI_MAIL_MS=3000"}), arbre_.Racine());
  const auto duree = Horloge::now() - debut;
  EXPECT_GE(duree, std::chrono::seconds(3));
  EXPECT_LT(duree, std::chrono::seconds(10));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nErreur mail : Délai dépassé.\n");
}

TEST_F(ServiceMailHostileTest, StopSignalDuringTheMailAbandonsItAtOnce) {
  pair_.Reply("220 pret").Expect("HELO Jumelix").WaitSignal();  // then silence
  const pid_t pid = Demarrer();
  ASSERT_TRUE(pair_.WaitForReceived(1, 10000)) << "the program never greeted the server";
  const auto signal = Horloge::now();
  kill(pid, SIGTERM);
  Sortie s = test::AttendreProgramme(pid, arbre_.Racine());
  pair_.Signal();
  EXPECT_LT(Horloge::now() - signal, std::chrono::seconds(3));  // the limit is 30 s
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs,
            "Envoi du compte-rendu par mail.\nErreur mail : Envoi abandonné : arrêt demandé.\n");
}

TEST_F(ServiceMailHostileTest, MailTakenByTheServerIsSentEvenWithoutAReplyToQuit) {
  pair_.Reply("220 pret").Expect("HELO Jumelix").Reply("250 ok");
  pair_.Expect("MAIL FROM:<admin@example.org>").Reply("250 ok");
  pair_.Expect("RCPT TO:<admin@example.org>").Reply("250 ok");
  pair_.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 recu");
  pair_.Expect("QUIT").WaitForClose();
  pair_.SetReadTimeout(15000);  // the program gives the reply to QUIT a few seconds
  Sortie s = test::AttendreProgramme(Demarrer(), arbre_.Racine());
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nMail envoyé.\n");
  EXPECT_TRUE(pair_.Problems().empty());
}

TEST_F(ServiceMailTest, FailedMailOfACleanRunExitsOne) {
  arbre_.Fichier("config/jumelix/JumelixConfig.dat",
                 "Addr=admin@example.org\r\nSMTP=127.0.0.1\r\nPort=" + serveur_.PortText() +
                     "\r\nQdApp=AJ\r\nQdServ=SCF\r\n");
  serveur_.Stop();
  Sortie s = LancerServiceMail(arbre_, Liste(arbre_.Chemin("d")));
  EXPECT_EQ(s.code, 1);
  EXPECT_EQ(s.erreurs.rfind("Envoi du compte-rendu par mail.\nErreur mail : ", 0), 0u) << s.erreurs;
  EXPECT_EQ(TempTree::Lire(arbre_.Chemin("d/f")), "f");
}

}  // namespace
}  // namespace jumelix
