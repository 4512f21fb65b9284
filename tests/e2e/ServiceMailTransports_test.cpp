// A service run that mails its report the two newer ways: logged in with an OAuth 2 token
// that a command prints (AUTH XOAUTH2 over STARTTLS, to a TLS server on 127.0.0.1), and
// handed to a sendmail-compatible program (msmtp, configured in the test's home and
// relaying to the test server). The real program with its settings file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "support/LancerProgramme.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TempTree;
using test::TSmtpServer;
using Lines = std::vector<std::string>;

class ServiceMailTransportsTest : public ::testing::Test {
 protected:
  test::TResultatProgramme LancerService() {
    arbre_.Fichier("s/f", "f");
    const std::string liste =
        arbre_.Fichier("l.ini", "Répertoire source\r\nRépertoire cible\r\n" + arbre_.Chemin("s") +
                                    "\r\n" + arbre_.Chemin("d") + "\r\n");
    return test::LancerProgramme(
        {"/S", liste},
        {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + arbre_.Chemin("home"),
         "XDG_STATE_HOME=" + arbre_.Chemin("etat"), "XDG_CONFIG_HOME=" + arbre_.Chemin("config"),
         "SSL_CERT_FILE=" + (Certificates().ok ? Certificates().ca : std::string())},
        arbre_.Racine());
  }
  void Reglages(const std::string& lignes) {
    arbre_.Repertoire("home");
    arbre_.Fichier("config/jumelix/JumelixConfig.dat", lignes + "QdApp=AJ\r\nQdServ=SCF\r\n");
  }

  TempTree arbre_;
};

TEST_F(ServiceMailTransportsTest, ReportLogsInWithAnAccessTokenOverStartTls) {
  if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  TSmtpServer::Options o;
  o.auth_required = true;
  o.token = "ya29.e2e";
  o.tls_cert = Certificates().server_cert;
  o.tls_key = Certificates().server_key;
  TSmtpServer serveur(o);
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  const std::string script = arbre_.Fichier(
      "bin/jeton un", "#!/bin/sh\n[ \"$1\" = \"--compte\" ] || exit 9\necho ya29.e2e\n");
  chmod(script.c_str(), 0755);
  Reglages("Addr=admin@example.org\r\nSMTP=localhost\r\nNOM=jumelix\r\nPort=" + serveur.PortText() +
           "\r\nJeton='" + script + "' --compte jumelix\r\n");
  test::TResultatProgramme s = LancerService();
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nMail envoyé.\n");
  ASSERT_TRUE(serveur.WaitForMessages(1, 10000));
  EXPECT_EQ(serveur.Messages()[0].auth_mechanism, "XOAUTH2");
  EXPECT_EQ(serveur.Messages()[0].auth_login, "jumelix");
  EXPECT_EQ(serveur.Commands(),
            (Lines{"EHLO plain", "STARTTLS plain", "EHLO tls", "AUTH tls", "MAIL tls"}));
  // The token is in no file the run wrote: neither its log nor its settings.
  for (const std::string& f : {arbre_.Chemin("etat/jumelix/jumelix.log"),
                               arbre_.Chemin("config/jumelix/JumelixConfig.dat")}) {
    EXPECT_EQ(TempTree::Lire(f).find("ya29.e2e"), std::string::npos) << f;
  }
}

TEST_F(ServiceMailTransportsTest, ReportGoesThroughTheSystemsMailer) {
  const char* kMsmtp = "/usr/bin/msmtp";
  if (access(kMsmtp, X_OK) != 0) GTEST_SKIP() << "msmtp absent (scripts/deps.sh l'installe)";
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  // The user's own mailer configuration, as msmtp reads it from the home directory.
  const std::string rc = arbre_.Fichier(
      "home/.msmtprc", "account default\nhost 127.0.0.1\nport " + serveur.PortText() +
                           "\nfrom jumelix@localhost\ntls off\nauth off\n");
  chmod(rc.c_str(), 0600);
  Reglages("Addr=admin@example.org;ops@example.org\r\nSMTP=\r\nTransport=sendmail\r\nSendmail=" +
           std::string(kMsmtp) + "\r\n");
  test::TResultatProgramme s = LancerService();
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(s.erreurs, "Envoi du compte-rendu par mail.\nMail envoyé.\n");
  ASSERT_TRUE(serveur.WaitForMessages(1, 10000));
  const TSmtpServer::Message m = serveur.Messages()[0];
  EXPECT_EQ(m.rcpt_to, (Lines{"admin@example.org", "ops@example.org"}));
  EXPECT_EQ(m.raw.find("Bcc:"), std::string::npos);  // the mailer removes it
  EXPECT_NE(m.raw.find("To: admin@example.org\r\n"), std::string::npos);
  EXPECT_NE(m.raw.find("Subject: Jumelix ["), std::string::npos);
  EXPECT_NE(m.raw.find("] : Ok\r\n"), std::string::npos);
  EXPECT_NE(m.raw.find("Synchronisation effectu"), std::string::npos);
}

}  // namespace
}  // namespace jumelix
