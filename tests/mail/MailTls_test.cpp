// The report mail's security setting: its place in the settings file, the session mode it
// gives for a port, and whole sends to a real TLS server on 127.0.0.1 (STARTTLS), with
// the test's own certificate authority.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "shared/URoutines.h"
#include "mail/ConfigMail.h"
#include "mail/UMonMail.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TempTree;
using test::TSmtpServer;
using Lines = std::vector<std::string>;

// ---- The settings file --------------------------------------------------------------------

class SecuriteConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* ancien = std::getenv("XDG_CONFIG_HOME");
    if (ancien != nullptr) ancien_ = ancien;
    setenv("XDG_CONFIG_HOME", arbre_.Chemin("config").c_str(), 1);
  }
  void TearDown() override {
    if (ancien_.empty()) {
      unsetenv("XDG_CONFIG_HOME");
    } else {
      setenv("XDG_CONFIG_HOME", ancien_.c_str(), 1);
    }
  }
  void Ecrire(const std::string& contenu) {
    arbre_.Fichier("config/jumelix/JumelixConfig.dat", contenu);
  }
  std::string Lire() { return TempTree::Lire(arbre_.Chemin("config/jumelix/JumelixConfig.dat")); }

  TempTree arbre_;
  std::string ancien_;
};

TEST_F(SecuriteConfigTest, WrittenOnlyWhenNotTheDefaultAndReadBack) {
  const std::string base =
      "Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nPort=587\r\nQdApp=AJ\r\nQdServ=SSE\r\n";
  struct Cas {
    TSecuriteMail securite;
    std::string ligne;
  } cas[] = {{TSecuriteMail::smStartTlsSiPropose, ""},
             {TSecuriteMail::smTlsExige, "Securite=Exige\r\n"},
             {TSecuriteMail::smAucune, "Securite=Aucune\r\n"}};
  for (const Cas& k : cas) {
    SCOPED_TRACE(k.ligne);
    TConfigMail c;
    c.AdresseMail = "a@x.fr";
    c.ServeurSMTP = "smtp.x.fr";
    c.Port = "587";
    c.Securite = k.securite;
    ASSERT_EQ(c.EnregistrerConfig(), "");
    EXPECT_EQ(Lire(), base + k.ligne);
    TConfigMail relu;
    relu.Securite =
        TSecuriteMail::smAucune == k.securite ? TSecuriteMail::smTlsExige : TSecuriteMail::smAucune;
    relu.LireConfig();
    EXPECT_EQ(relu.Securite, k.securite);
  }
}

TEST_F(SecuriteConfigTest, FileWithoutTheKeyOrWithAnUnknownValueMeansTheDefault) {
  TConfigMail c;
  c.Securite = TSecuriteMail::smAucune;  // e.g. chosen in the dialog, then cancelled
  Ecrire("Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nPort=25\r\n");  // as older versions write it
  c.LireConfig();
  EXPECT_EQ(c.Securite, TSecuriteMail::smStartTlsSiPropose);
  EXPECT_EQ(c.ServeurSMTP, "smtp.x.fr");

  c.Securite = TSecuriteMail::smAucune;
  Ecrire("Addr=a@x.fr\r\nSecurite=Plus-tard\r\n");
  c.LireConfig();
  EXPECT_EQ(c.Securite, TSecuriteMail::smStartTlsSiPropose);

  // No file at all: nothing changes, like every other field.
  std::remove(arbre_.Chemin("config/jumelix/JumelixConfig.dat").c_str());
  c.Securite = TSecuriteMail::smTlsExige;
  c.LireConfig();
  EXPECT_EQ(c.Securite, TSecuriteMail::smTlsExige);
}

TEST(SecuriteSession, Port465MeansTlsFromTheFirstByteUnlessSecurityIsOff) {
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smStartTlsSiPropose, 25),
            smtpSecStartTlsIfOffered);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smStartTlsSiPropose, 587),
            smtpSecStartTlsIfOffered);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smStartTlsSiPropose, 465), smtpSecImplicitTls);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smTlsExige, 587), smtpSecStartTlsRequired);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smTlsExige, 465), smtpSecImplicitTls);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smAucune, 465), smtpSecNone);
  EXPECT_EQ(TMonMail::SecuriteSession(TSecuriteMail::smAucune, 587), smtpSecNone);
}

// ---- Whole sends ----------------------------------------------------------------------------

class MailTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  }

  // One report mail with an account, the given setting and the test's CA.
  static std::string Envoyer(const TSmtpServer& serveur, TSecuriteMail securite,
                             const std::string& hote = "127.0.0.1") {
    TMonMail mail(serveur.Port(), "Jumelix");
    mail.Serveur = hote;
    mail.Securite = securite;
    mail.TlsCaFile = Certificates().ca;
    mail.Utilisateur = "jumelix";
    mail.MotDePasse = "s3cret";
    mail.Objet = {"Sujet"};
    mail.Corps = {"ligne du compte rendu"};
    mail.NomExpediteur = "Jumelix";
    mail.AdresseExpediteur = mail.AdresseA = mail.Destinataires = "a@x.fr";
    const bool ok = mail.Envoyer();
    EXPECT_EQ(ok, mail.MessageErreur().empty());
    return mail.MessageErreur();
  }

  static TSmtpServer::Options AvecStartTls(bool bonNom = true) {
    TSmtpServer::Options o;
    o.auth_required = true;
    o.tls_cert = bonNom ? Certificates().server_cert : Certificates().wrong_cert;
    o.tls_key = bonNom ? Certificates().server_key : Certificates().wrong_key;
    return o;
  }
};

TEST_F(MailTlsTest, DefaultAndRequiredSecurityDeliverThroughStartTls) {
  for (TSecuriteMail s : {TSecuriteMail::smStartTlsSiPropose, TSecuriteMail::smTlsExige}) {
    TSmtpServer serveur(AvecStartTls());
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
    EXPECT_EQ(Envoyer(serveur, s, "localhost"), "");
    ASSERT_TRUE(serveur.WaitForMessages(1, 5000));
    EXPECT_EQ(serveur.Messages()[0].auth_login, "jumelix");
    EXPECT_NE(serveur.Messages()[0].raw.find("ligne du compte rendu"), std::string::npos);
    EXPECT_EQ(serveur.Commands(),
              (Lines{"EHLO plain", "STARTTLS plain", "EHLO tls", "AUTH tls", "MAIL tls"}));
  }
}

TEST_F(MailTlsTest, RequiredSecurityWithoutStartTlsStopsBeforeThePassword) {
  TSmtpServer serveur;  // no TLS
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  EXPECT_EQ(Envoyer(serveur, TSecuriteMail::smTlsExige),
            "Erreur : Le serveur 127.0.0.1 ne propose pas STARTTLS");
  EXPECT_EQ(serveur.Commands(), Lines{"EHLO plain"});
  EXPECT_TRUE(serveur.Messages().empty());
}

TEST_F(MailTlsTest, CertificateForAnotherNameEndsTheSendWithItsReason) {
  TSmtpServer serveur(AvecStartTls(false));
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  EXPECT_EQ(Envoyer(serveur, TSecuriteMail::smStartTlsSiPropose),
            "Erreur : Le nom du certificat ne correspond pas au serveur 127.0.0.1");
  EXPECT_EQ(serveur.Commands(), (Lines{"EHLO plain", "STARTTLS plain"}));
}

TEST_F(MailTlsTest, NoSecurityIsTheUsersChoiceEvenWithAPassword) {
  TSmtpServer serveur(AvecStartTls());
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  EXPECT_EQ(Envoyer(serveur, TSecuriteMail::smAucune), "");
  EXPECT_EQ(serveur.Commands(), (Lines{"EHLO plain", "AUTH plain", "MAIL plain"}));
}

}  // namespace
}  // namespace jumelix
