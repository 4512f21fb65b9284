// A service run that mails its report over STARTTLS with an account, as a provider on
// port 587 wants it: the real program, its settings file ("Securite=Exige"), a TLS server
// on 127.0.0.1 named localhost, and the test's authority made known the way any OpenSSL
// program learns one (SSL_CERT_FILE).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "mail/UCryptePass.h"
#include "support/LancerProgramme.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TempTree;
using test::TSmtpServer;

using Sortie = test::TResultatProgramme;

// A service run with the test's own home, state and configuration directories.
Sortie LancerService(TempTree& arbre, const std::string& liste) {
  return test::LancerProgramme(
      {"/S", liste},
      {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + arbre.Chemin("home"),
       "XDG_STATE_HOME=" + arbre.Chemin("etat"), "XDG_CONFIG_HOME=" + arbre.Chemin("config"),
       "SSL_CERT_FILE=" + Certificates().ca},
      arbre.Racine());
}

class ServiceMailTlsTest : public ::testing::Test {
 protected:
  void Preparer(bool bonNom) {
    TSmtpServer::Options o;
    o.auth_required = true;
    o.tls_cert = bonNom ? Certificates().server_cert : Certificates().wrong_cert;
    o.tls_key = bonNom ? Certificates().server_key : Certificates().wrong_key;
    serveur_ = std::make_unique<TSmtpServer>(o);
    ASSERT_TRUE(serveur_->Started()) << serveur_->Error();
    arbre_.Repertoire("home");
    arbre_.Fichier("config/jumelix/JumelixConfig.dat",
                   "Addr=admin@example.org\r\nSMTP=localhost\r\nNOM=jumelix\r\nPASS=" +
                       CrypterMotDePasse("s3cret") + "\r\nPort=" + serveur_->PortText() +
                       "\r\nQdApp=AJ\r\nQdServ=SCF\r\nSecurite=Exige\r\n");
    arbre_.Fichier("s/f", "f");
  }
  std::string Liste() {
    return arbre_.Fichier("l.ini", "Répertoire source\r\nRépertoire cible\r\n" +
                                       arbre_.Chemin("s") + "\r\n" + arbre_.Chemin("d") + "\r\n");
  }

  std::unique_ptr<TSmtpServer> serveur_;
  TempTree arbre_;
};

TEST_F(ServiceMailTlsTest, ReportGoesThroughStartTlsWithTheAccount) {
  if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  Preparer(true);
  Sortie s = LancerService(arbre_, Liste());
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nMail envoyé.\n");
  ASSERT_TRUE(serveur_->WaitForMessages(1, 10000));
  const TSmtpServer::Message m = serveur_->Messages()[0];
  EXPECT_EQ(m.auth_login, "jumelix");
  EXPECT_EQ(m.rcpt_to, std::vector<std::string>{"admin@example.org"});
  EXPECT_EQ(serveur_->Commands(), (std::vector<std::string>{"EHLO plain", "STARTTLS plain",
                                                            "EHLO tls", "AUTH tls", "MAIL tls"}));
}

TEST_F(ServiceMailTlsTest, CertificateForAnotherNameIsReportedAndNothingIsSent) {
  if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  Preparer(false);
  Sortie s = LancerService(arbre_, Liste());
  EXPECT_EQ(s.code, 1);  // the run itself went well, but the due mail failed
  EXPECT_EQ(s.erreurs,
            "Envoi du compte-rendu par mail.\nErreur mail : Erreur : Le nom du certificat ne "
            "correspond pas au serveur localhost\n");
  EXPECT_TRUE(serveur_->Messages().empty());
  EXPECT_EQ(serveur_->Commands(), (std::vector<std::string>{"EHLO plain", "STARTTLS plain"}));
}

}  // namespace
}  // namespace jumelix
