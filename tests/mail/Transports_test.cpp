// The two new ways out of the report mail: an OAuth 2 token printed by a command (then
// AUTH XOAUTH2 or OAUTHBEARER over TLS to a real server on 127.0.0.1), and the system's
// mailer (fake sendmail programs; the e2e tests use a real one).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
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

// A script line that starts `sleep 1000` in the background and writes its pid to `fichier`;
// `redirige`: the sleep does not hold the caller's pipes.
std::string SleepLaisse(const std::string& fichier, bool redirige) {
  return std::string("sleep 1000 ") + (redirige ? ">/dev/null 2>&1 </dev/null " : "") +
         "& echo $! > '" + fichier + "'\n";
}

// Waits up to 10 s for process `pid` (not a child of ours) to end; a pidfd becomes readable
// when it does, whether its new parent reaps it or not.
bool Termine(pid_t pid) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;
  pollfd p{fd, POLLIN, 0};
  const bool fini = ::poll(&p, 1, 10000) == 1;
  ::close(fd);
  return fini;
}

// True while `pid` runs and no SIGKILL is pending for it: a kill sent before the caller
// returned shows here even if the process has not died yet.
bool VivantSansKill(pid_t pid) {
  const std::string etat = TempTree::Lire("/proc/" + std::to_string(pid) + "/status");
  const size_t e = etat.find("\nState:\t");
  if (e == std::string::npos || etat[e + 8] == 'Z') return false;
  for (const char* champ : {"\nSigPnd:\t", "\nShdPnd:\t"}) {
    const size_t p = etat.find(champ);
    if (p == std::string::npos) return false;
    if (std::strtoull(etat.c_str() + p + 9, nullptr, 16) & (1ull << (SIGKILL - 1))) return false;
  }
  return true;
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
  const std::string echec = Script(arbre, "echec",
                                   "printf '\\n invalid_grant:\\t jeton expiré "
                                   "\\n{\"refresh_token\": \"1//x\"}\\n' >&2; exit 2");
  const std::string bavard = Script(arbre, "bavard", "printf '%0400d\\nsuite\\n' 0 >&2; exit 1");
  const std::string muet = Script(arbre, "muet", "echo rien a signaler >&2");
  const std::string bloque = Script(arbre, "bloque", "sleep 30");
  const std::string tue = Script(arbre, "tue", "kill -KILL $$");
  struct Cas {
    std::string commande;
    std::string attendu;
  } cas[] = {
      {echec, "Commande du jeton d'accès : échec (code de sortie 2) : invalid_grant: jeton expiré"},
      {bavard, "Commande du jeton d'accès : échec (code de sortie 1) : " + std::string(300, '0')},
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

TEST(JetonAcces, WhatTheCommandLeftRunningEndsWithIt) {
  TempTree arbre;
  const std::string pid = arbre.Chemin("pid");
  struct Cas {
    bool redirige;
    int code;
  } cas[] = {{true, 0}, {false, 0}, {true, 3}};
  for (const Cas& k : cas) {
    const std::string commande = Script(
        arbre, "jeton",
        SleepLaisse(pid, k.redirige) + "echo " + kJeton + "; exit " + std::to_string(k.code));
    std::remove(pid.c_str());
    TSecret jeton;
    const std::string erreur = ObtenirJetonAcces(commande, jeton);
    EXPECT_EQ(erreur.empty(), k.code == 0) << erreur;
    const pid_t laisse = std::atoi(TempTree::Lire(pid).c_str());
    ASSERT_GT(laisse, 0);
    const bool fini = Termine(laisse);
    EXPECT_TRUE(fini) << "redirigé " << k.redirige << ", code " << k.code;
    if (!fini) ::kill(laisse, SIGKILL);
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

// A mailer may leave its delivery running in the background (exim does): it is not ended.
TEST_F(SendmailTest, ADeliveryLeftInTheBackgroundGoesOn) {
  const std::string pid = arbre_.Chemin("pid");
  EXPECT_EQ(Envoyer(Script(arbre_, "sendmail", "cat >/dev/null\n" + SleepLaisse(pid, true))), "");
  const pid_t livraison = std::atoi(TempTree::Lire(pid).c_str());
  ASSERT_GT(livraison, 0);
  EXPECT_TRUE(VivantSansKill(livraison));
  ::kill(livraison, SIGKILL);
  EXPECT_TRUE(Termine(livraison));
}

}  // namespace
}  // namespace jumelix
