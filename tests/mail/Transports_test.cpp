// The two new ways out of the report mail: an OAuth 2 token printed by a command (then
// AUTH XOAUTH2 or OAUTHBEARER over TLS to a real server on 127.0.0.1), and the system's
// mailer (fake sendmail programs; the e2e tests use a real one).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "shared/URoutines.h"
#include "mail/ConfigMail.h"
#include "mail/JetonAcces.h"
#include "mail/UMonMail.h"
#include "platform/System.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TempTree;
using test::TSmtpServer;
using Lines = std::vector<std::string>;

constexpr const char* kJeton = "ya29.jeton-de-test";

// An executable shell script in `arbre`.
std::string Script(TempTree& arbre, const std::string& nom, const std::string& corps) {
  std::string chemin = arbre.Fichier(nom, "#!/bin/sh\n" + corps + "\n");
  chmod(chemin.c_str(), 0755);
  return chemin;
}

TEST(JetonAcces, FirstLineOfTheOutputIsTheToken) {
  TempTree arbre;
  const std::string ok = Script(arbre, "ok", "printf '  %s\\r\\nsuite\\n' \"$2\"; echo info >&2");
  TSecret jeton;
  EXPECT_EQ(ObtenirJetonAcces("'" + ok + "' --jeton \"ya29 x\"", jeton), "");
  EXPECT_EQ(jeton.View(), "ya29 x");
}

TEST(JetonAcces, FailuresBecomeFrenchTexts) {
  TempTree arbre;
  const std::string echec =
      Script(arbre, "echec", "echo 'invalid_grant:' >&2; echo '  jeton expiré ' >&2; exit 2");
  const std::string muet = Script(arbre, "muet", "echo rien a signaler >&2");
  const std::string bloque = Script(arbre, "bloque", "sleep 30");
  const std::string tue = Script(arbre, "tue", "kill -KILL $$");
  struct Cas {
    std::string commande;
    std::string attendu;
  } cas[] = {
      {echec, "Commande du jeton d'accès : échec (code de sortie 2) : invalid_grant: jeton expiré"},
      {muet, "Commande du jeton d'accès : aucun jeton sur sa sortie : rien a signaler"},
      {bloque, "Commande du jeton d'accès : pas de réponse en 1 secondes, arrêtée"},
      {tue, "Commande du jeton d'accès : arrêtée par le signal 9 (Killed)"},
      {arbre.Chemin("absent"), "Commande du jeton d'accès : impossible de lancer " +
                                   arbre.Chemin("absent") + " (" +
                                   platform::SystemErrorText(ENOENT) + ")"},
      {"   ", "Commande du jeton d'accès : la commande est vide"},
      {"jeton 'ouvert", "Commande du jeton d'accès : Apostrophe non fermée dans la commande"},
  };
  for (const Cas& k : cas) {
    TSecret jeton("ancien");
    const uint32_t debut = platform::TickCount();
    EXPECT_EQ(ObtenirJetonAcces(k.commande, jeton, {}, 1000), k.attendu);
    EXPECT_TRUE(jeton.empty());
    EXPECT_LT(platform::TickCount() - debut, 5000u);
  }
}

// ---- OAuth 2 over SMTP ------------------------------------------------------------------------

class OAuthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
    commande_ = Script(arbre_, "jeton", std::string("echo ") + kJeton);
  }
  TSmtpServer::Options Serveur(const std::string& mecanismes = "") {
    TSmtpServer::Options o;
    o.auth_required = true;
    o.token = kJeton;
    o.mechanisms = mecanismes;
    o.tls_cert = Certificates().server_cert;
    o.tls_key = Certificates().server_key;
    return o;
  }
  std::string Envoyer(const TSmtpServer& serveur, const std::string& commande,
                      TSecuriteMail securite = TSecuriteMail::smStartTlsSiPropose) {
    TMonMail mail(serveur.Port(), "Jumelix");
    mail.Serveur = "127.0.0.1";
    mail.Securite = securite;
    mail.TlsCaFile = Certificates().ca;
    mail.Utilisateur = "jumelix";
    mail.CommandeJeton = commande;
    mail.Objet = {"Sujet"};
    mail.Corps = {"ligne du compte rendu"};
    mail.NomExpediteur = "Jumelix";
    mail.AdresseExpediteur = mail.AdresseA = mail.Destinataires = "a@x.fr";
    mail.Envoyer();
    return mail.MessageErreur();
  }
  TempTree arbre_;
  std::string commande_;
};

TEST_F(OAuthTest, XOAuth2OrOAuthBearerOverStartTls) {
  for (const std::string m : {"", "PLAIN,LOGIN,OAUTHBEARER"}) {
    SCOPED_TRACE(m);
    TSmtpServer serveur(Serveur(m));
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
    EXPECT_EQ(Envoyer(serveur, commande_), "");
    ASSERT_TRUE(serveur.WaitForMessages(1, 5000));
    EXPECT_EQ(serveur.Messages()[0].auth_login, "jumelix");
    EXPECT_EQ(serveur.Messages()[0].auth_mechanism, m.empty() ? "XOAUTH2" : "OAUTHBEARER");
    EXPECT_EQ(serveur.Commands(),
              (Lines{"EHLO plain", "STARTTLS plain", "EHLO tls", "AUTH tls", "MAIL tls"}));
  }
}

TEST_F(OAuthTest, NeverInClearAndAWrongTokenGivesTheServersReason) {
  {
    TSmtpServer serveur(Serveur());
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
    // Security off: the token is still not sent, even to this machine.
    EXPECT_EQ(Envoyer(serveur, commande_, TSecuriteMail::smAucune),
              "Erreur : Le jeton d'accès n'est envoyé que sur une connexion chiffrée : la "
              "connexion avec le serveur 127.0.0.1 n'est pas chiffrée (STARTTLS non proposé, ou "
              "sécurité « Aucune »)");
    EXPECT_EQ(serveur.Commands(), Lines{"EHLO plain"});
  }
  {
    TSmtpServer serveur(Serveur());
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
    const std::string faux = Script(arbre_, "faux", "echo mauvais-jeton");
    const std::string erreur = Envoyer(serveur, faux);
    EXPECT_EQ(erreur.rfind("Erreur : 535", 0), 0u) << erreur;
    EXPECT_NE(erreur.find("("
                          R"({"status":"401","schemes":"bearer"})"
                          ")"),
              std::string::npos)
        << erreur;
    EXPECT_TRUE(serveur.Messages().empty());
  }
}

// ---- The system's mailer ------------------------------------------------------------------

class SendmailTest : public ::testing::Test {
 protected:
  void TearDown() override { TMonMail::DefinirDelaiPourTests(30000); }

  std::string Envoyer(const std::string& sendmail, const std::string& destinataires = "a@x.fr") {
    TConfigMail p;
    p.Transport = TTransportMail::tmSendmail;
    p.Sendmail = sendmail;
    p.AdresseMail = destinataires;
    p.ComplementObjet = "Poste 3";
    CompteRendu().ViderCompteRendu();
    CompteRendu().AjouterErreur("Fichier non copié : /données/été.txt");
    CompteRendu().AjouterMessage(".ligne qui commence par un point");
    std::string erreur = EnvoyerCompteRendu(p, "Jumelix [poste] : AU MOINS UNE ERREUR");
    CompteRendu().ViderCompteRendu();
    return erreur;
  }
  TempTree arbre_;
};

TEST_F(SendmailTest, TheComposedMessageGoesToSendmailTI) {
  const std::string sortie = arbre_.Chemin("recu");
  const std::string faux =
      Script(arbre_, "sendmail", "echo \"$@\" > '" + sortie + ".args'; cat > '" + sortie + "'");
  EXPECT_EQ(Envoyer(faux, "a@x.fr; b@y.fr, c@z.fr"), "");
  EXPECT_EQ(TempTree::Lire(sortie + ".args"), "-t -i\n");
  const std::string m = TempTree::Lire(sortie);
  for (const char* attendu : {"From: Jumelix <a@x.fr>\n", "To: a@x.fr\n", "Bcc: b@y.fr, c@z.fr\n",
                              "Subject: Jumelix [poste] : AU MOINS UNE ERREUR - Poste 3\n",
                              "Content-Type: text/plain; "
                              "charset=\"utf-8\"\nContent-Transfer-Encoding: quoted-printable\n",
                              "X-Mailer: Jumelix - Postaline\n",
                              "\n\nFichier non copi=C3=A9 : /donn=C3=A9es/=C3=A9t=C3=A9.txt\n",
                              "\n.ligne qui commence par un point\n"}) {
    EXPECT_NE(m.find(attendu), std::string::npos) << attendu << "\n" << m;
  }
  EXPECT_EQ(m.find('\r'), std::string::npos);
}

TEST_F(SendmailTest, FailuresAndTheDelay) {
  TMonMail::DefinirDelaiPourTests(1000);
  const std::string refuse = Script(
      arbre_, "refuse", "cat >/dev/null; echo 'sendmail: destinataire inconnu' >&2; exit 67");
  const std::string bloque = Script(arbre_, "bloque", "sleep 30");
  EXPECT_EQ(Envoyer(refuse), "Erreur : " + refuse +
                                 " a échoué (code de sortie 67) : sendmail: destinataire inconnu");
  const uint32_t debut = platform::TickCount();
  EXPECT_EQ(Envoyer(bloque), "Délai dépassé. (" + bloque + " arrêté)");
  EXPECT_LT(platform::TickCount() - debut, 5000u);
  EXPECT_EQ(Envoyer(arbre_.Chemin("absent")), "Erreur : impossible de lancer " +
                                                  arbre_.Chemin("absent") + " (" +
                                                  platform::SystemErrorText(ENOENT) + ")");
}

}  // namespace
}  // namespace jumelix
