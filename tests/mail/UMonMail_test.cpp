#include "mail/UMonMail.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/Programme.h"
#include "app/UJumelix.h"
#include "shared/URoutines.h"
#include "mail/RapportMailSmtp.h"
#include "platform/System.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpServer.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {
namespace {

using test::TSmtpServer;

// Undoes quoted-printable as a reader would: "=" at the end of a line joins it to the
// next one, "=XX" is one byte.
std::string DecoderQuotedPrintable(const std::string& texte) {
  std::string sortie;
  for (size_t i = 0; i < texte.size(); ++i) {
    if (texte[i] != '=') {
      sortie += texte[i];
    } else if (texte.compare(i + 1, 2, "\r\n") == 0) {
      i += 2;
    } else if (i + 2 < texte.size()) {
      sortie += static_cast<char>(std::stoi(texte.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  return sortie;
}

// A received message cut into its header lines and body lines (decoded), with the raw
// body lines as they went on the wire.
struct TMailRecu {
  std::vector<std::string> entetes;
  std::vector<std::string> corps;
  std::vector<std::string> lignesBrutes;

  explicit TMailRecu(const std::string& brut) {
    size_t separation = brut.find("\r\n\r\n");
    entetes = DecouperLignes(brut.substr(0, separation));
    if (separation == std::string::npos) return;
    const std::string texte = brut.substr(separation + 4);
    lignesBrutes = DecouperLignes(texte);
    corps = Entete("Content-Transfer-Encoding") == "quoted-printable"
                ? DecouperLignes(DecoderQuotedPrintable(texte))
                : lignesBrutes;
  }
  std::string Entete(const std::string& nom) const {
    for (const std::string& l : entetes) {
      if (l.rfind(nom + ": ", 0) == 0) return l.substr(nom.size() + 2);
    }
    return "<absent>";
  }
};

// The first message the server received; empty when none came.
TSmtpServer::Message Premier(const TSmtpServer& serveur) {
  if (!serveur.WaitForMessages(1, 5000)) return {};
  return serveur.Messages().front();
}

TSmtpServer::Options Avec(void (*regler)(TSmtpServer::Options&)) {
  TSmtpServer::Options o;
  regler(o);
  return o;
}

class MonMailTest : public ::testing::Test {
 protected:
  void SetUp() override { CompteRendu().ViderCompteRendu(); }
  void TearDown() override {
    TMonMail::DefinirDelaiPourTests(30000);
    CompteRendu().ViderCompteRendu();
  }

  static TConfigMail Parametres(const TSmtpServer& serveur, const std::string& adresses) {
    TConfigMail p;
    p.AdresseMail = adresses;
    p.ServeurSMTP = "127.0.0.1";
    p.Port = std::to_string(serveur.Port());
    return p;
  }
};

TEST(TexteErreurClient, TheClientsOwnTextsBecomeFrenchAServersReplyStays) {
  const std::pair<const char*, const char*> cas[] = {
      {"500 ESocketException: connect: ResolvePort: Invalid Port.",
       "le port SMTP n'est pas valide (un nombre de 1 à 65535 est attendu)."},
      {"ResolveHost: 'x y' Invalid Hostname.", "le nom du serveur SMTP n'est pas valide."},
      {"SMTP component not connected", "échec interne de la session SMTP."},
      {"500 Exception: boom", "échec interne de la session SMTP."},
      {"RcptName list is empty", "aucun destinataire."},
      {"550 5.1.1 <x@y>: Recipient address rejected", "550 5.1.1 <x@y>: Recipient address rejected"},
  };
  for (const auto& [message, attendu] : cas)
    EXPECT_EQ(TMonMail::TexteErreurClient(message), attendu) << message;
}

TEST(PremiereAdresse, TextBeforeTheFirstSemicolonTrimmed) {
  EXPECT_EQ(TMonMail::PremiereAdresse("a@x.fr;b@y.fr"), "a@x.fr");
  EXPECT_EQ(TMonMail::PremiereAdresse(" \ta@x.fr ; b@y.fr"), "a@x.fr");
  EXPECT_EQ(TMonMail::PremiereAdresse("a@x.fr, b@y.fr"), "a@x.fr");
  EXPECT_EQ(TMonMail::PremiereAdresse(" a@x.fr ,b@y.fr; c@z.fr"), "a@x.fr");
  EXPECT_EQ(TMonMail::PremiereAdresse(";b@y.fr"), "");
  EXPECT_EQ(TMonMail::PremiereAdresse(""), "");
}

TEST_F(MonMailTest, ReportMailOfAFailingRunWithTheRuleOnErrorOnly) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr;b@y.fr");
  p.QuandApp = TQuandMail::qmSiErreur;
  TRapportMailSmtp rapport(p);
  test::TempTree arbre;
  TVueEnregistree vue;
  TJumelix jumelix(vue, rapport);
  jumelix.FormCreate(TLigneCommande{});
  jumelix.Grille().DefinirCellule(0, 1, arbre.Chemin("absent"));  // no such source
  jumelix.Grille().DefinirCellule(1, 1, arbre.Repertoire("cible"));
  jumelix.Executer(false);

  ASSERT_GE(vue.log.size(), 3u);
  EXPECT_EQ(vue.log[vue.log.size() - 2], "Envoi du compte-rendu par mail.");
  EXPECT_EQ(vue.log.back(), "Mail envoyé.");
  std::vector<std::string> erreurs(vue.log.begin(), vue.log.end() - 2);

  TSmtpServer::Message recu = Premier(serveur);
  TMailRecu mail(recu.raw);
  const std::string hote = NomOrdinateur();
  EXPECT_EQ(mail.Entete("Subject"), "Jumelix [" + hote + "] : AU MOINS UNE ERREUR");
  EXPECT_EQ(mail.Entete("From"), "Jumelix <a@x.fr>");
  EXPECT_EQ(mail.Entete("To"), "a@x.fr");
  EXPECT_EQ(mail.Entete("X-Mailer"), "Jumelix - Postaline");
  ASSERT_EQ(mail.corps.size(), erreurs.size() + 3);
  EXPECT_EQ(mail.corps[0].rfind("Synchronisation effectuée sur " + hote + " le ", 0), 0u)
      << mail.corps[0];
  for (size_t i = 0; i < erreurs.size(); ++i) EXPECT_EQ(mail.corps[i + 1], erreurs[i]);
  EXPECT_EQ(mail.corps[erreurs.size() + 1], "Synchronisation terminée.");
  EXPECT_EQ(mail.corps.back(), jumelix.TexteCompteurs());

  // Every recipient gets it; the first address is the envelope sender; HELO, no AUTH.
  EXPECT_EQ(recu.rcpt_to, (std::vector<std::string>{"a@x.fr", "b@y.fr"}));
  EXPECT_EQ(recu.mail_from, "a@x.fr");
  EXPECT_EQ(recu.helo, "Jumelix");
  EXPECT_EQ(recu.auth_login, "");
  EXPECT_TRUE(CompteRendu().Lignes().empty());  // the run empties the report
}

TEST_F(MonMailTest, CleanRunSendsNothingUnderTheRuleOnErrorOnly) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  p.QuandApp = TQuandMail::qmSiErreur;
  TRapportMailSmtp rapport(p);
  test::TempTree arbre;
  TVueEnregistree vue;
  TJumelix jumelix(vue, rapport);
  jumelix.FormCreate(TLigneCommande{});
  jumelix.Grille().DefinirCellule(0, 1, arbre.Repertoire("source"));
  jumelix.Grille().DefinirCellule(1, 1, arbre.Repertoire("cible"));
  jumelix.Executer(false);
  for (const std::string& l : vue.log) EXPECT_EQ(l.find("mail"), std::string::npos) << l;
  EXPECT_TRUE(serveur.Messages().empty());
}

TEST_F(MonMailTest, EveryTimeRuleSendsOkWithTheSubjectText) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  p.QuandApp = TQuandMail::qmChaqueFois;
  p.ComplementObjet = "  " + std::string(80, 'p');
  TRapportMailSmtp rapport(p);
  test::TempTree arbre;
  std::string source = arbre.Repertoire("source");
  std::string cible = arbre.Repertoire("cible");
  TVueEnregistree vue;
  TJumelix jumelix(vue, rapport);
  jumelix.FormCreate(TLigneCommande{});
  jumelix.Grille().DefinirCellule(0, 1, source);
  jumelix.Grille().DefinirCellule(1, 1, cible);
  jumelix.Executer(false);
  EXPECT_EQ(vue.log.back(), "Mail envoyé.");
  TMailRecu mail(Premier(serveur).raw);
  EXPECT_EQ(mail.Entete("Subject"),
            "Jumelix [" + NomOrdinateur() + "] : Ok - " + std::string(50, 'p'));
  ASSERT_EQ(mail.corps.size(), 4u);
  EXPECT_EQ(mail.corps[1], source + " et " + cible + " =");
  EXPECT_EQ(mail.corps[2], "Synchronisation terminée.");
}

TEST_F(MonMailTest, ReportLineOf2000BytesArrivesWholeWithinTheLineLimit) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  // ASCII only: the length alone asks for quoted-printable.
  std::string longue = "Impossible de copier le fichier /";
  while (longue.size() < 2000) longue += "dossier-profond/";
  longue.resize(2000);
  CompteRendu().AjouterErreur(longue);
  CompteRendu().AjouterMessage("=.");
  EXPECT_EQ(EnvoyerCompteRendu(p, "Sujet"), "");
  TSmtpServer::Message m = Premier(serveur);
  for (const std::string& l : DecouperLignes(m.raw)) EXPECT_LE(l.size(), 998u) << l;
  TMailRecu recu(m.raw);
  EXPECT_EQ(recu.Entete("Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_EQ(recu.corps, (std::vector<std::string>{longue, "=."}));

  // Short lines of plain ASCII go as they are, with no transfer encoding declared.
  CompteRendu().ViderCompteRendu();
  CompteRendu().AjouterMessage("court");
  EXPECT_EQ(EnvoyerCompteRendu(p, "Sujet"), "");
  ASSERT_TRUE(serveur.WaitForMessages(2, 5000));
  TMailRecu simple(serveur.Messages().at(1).raw);
  EXPECT_EQ(simple.Entete("Content-Transfer-Encoding"), "<absent>");
  EXPECT_EQ(simple.corps, std::vector<std::string>{"court"});
}

TEST_F(MonMailTest, AuthenticationPicksTheStrongestMechanism) {
  struct Cas {
    std::string annonces;
    std::string mecanisme;
  } cas[] = {
      {"", "CRAM-SHA1"},
      {"CRAM-MD5,LOGIN,PLAIN", "CRAM-MD5"},
      {"LOGIN,PLAIN", "LOGIN"},
      {"PLAIN", "PLAIN"},
  };
  for (const Cas& k : cas) {
    TSmtpServer::Options o;
    o.auth_required = true;
    o.mechanisms = k.annonces;
    TSmtpServer serveur(o);
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
    TConfigMail p = Parametres(serveur, "a@x.fr");
    p.AuthNom = "jumelix";
    p.AuthPass = "s3cret";
    CompteRendu().AjouterMessage("ligne");
    EXPECT_EQ(EnvoyerCompteRendu(p, "Sujet"), "") << k.mecanisme;
    TSmtpServer::Message recu = Premier(serveur);
    EXPECT_EQ(recu.auth_mechanism, k.mecanisme);
    EXPECT_EQ(recu.auth_login, "jumelix");
    EXPECT_EQ(recu.helo, "Jumelix");
  }
}

TEST_F(MonMailTest, WrongPasswordFailsWithTheServerReply) {
  TSmtpServer serveur(Avec([](TSmtpServer::Options& o) {
    o.auth_required = true;
    o.mechanisms = "LOGIN";
  }));
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  p.AuthNom = "jumelix";
  p.AuthPass = "faux";
  std::string erreur = EnvoyerCompteRendu(p, "");
  EXPECT_EQ(erreur.rfind("Erreur : 535", 0), 0u) << erreur;
}

TEST_F(MonMailTest, ServerThatRequiresAnAccountRefusesAnAnonymousSend) {
  TSmtpServer serveur(Avec([](TSmtpServer::Options& o) { o.auth_required = true; }));
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  std::string erreur = EnvoyerCompteRendu(p, "");
  EXPECT_EQ(erreur.rfind("Erreur : 530", 0), 0u) << erreur;
}

TEST_F(MonMailTest, RefusedRecipientFailsTheWholeSend) {
  TSmtpServer serveur(Avec([](TSmtpServer::Options& o) { o.reject_rcpt = {"b@y.fr"}; }));
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr;b@y.fr");
  EXPECT_EQ(EnvoyerCompteRendu(p, ""), "Erreur : 550 5.1.1 <b@y.fr>: Recipient address rejected");
  EXPECT_TRUE(serveur.Messages().empty());
}

TEST_F(MonMailTest, ServerDownGivesTheSystemText) {
  int port;
  {
    TSmtpServer serveur;
    port = serveur.Port();
    ASSERT_TRUE(serveur.Started()) << serveur.Error();
  }
  TConfigMail p;
  p.AdresseMail = "a@x.fr";
  p.ServeurSMTP = "127.0.0.1";
  p.Port = std::to_string(port);
  p.QuandApp = TQuandMail::qmChaqueFois;
  TRapportMailSmtp rapport(p);
  TVueEnregistree vue;
  TJumelix jumelix(vue, rapport);
  jumelix.FormCreate(TLigneCommande{});
  jumelix.Executer(false);
  ASSERT_FALSE(vue.log.empty());
  EXPECT_EQ(vue.log.back(), "Erreur mail : " + platform::SystemErrorText(ECONNREFUSED));
}

TEST_F(MonMailTest, SilentServerRunsOutOfTime) {
  TSmtpServer serveur(Avec([](TSmtpServer::Options& o) { o.never_answer = true; }));
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TMonMail::DefinirDelaiPourTests(300);
  TConfigMail p = Parametres(serveur, "a@x.fr");
  auto debut = std::chrono::steady_clock::now();
  EXPECT_EQ(EnvoyerCompteRendu(p, "x"), "Délai dépassé.");
  EXPECT_LT(std::chrono::steady_clock::now() - debut, std::chrono::seconds(5));
}

TEST_F(MonMailTest, CheckFailureAndMissingRecipientSendNothing) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "sans-arobase");
  EXPECT_EQ(EnvoyerCompteRendu(p, "x"), "L'adresse mail ne semble pas correcte");
  p.AdresseMail = "a@x.fr";
  p.AuthNom = "nom";
  EXPECT_NE(EnvoyerCompteRendu(p, "x").find("Le nom et le mot de passe"), std::string::npos);

  TMonMail mail(serveur.Port(), "Jumelix");
  mail.Serveur = "127.0.0.1";
  mail.Destinataires = " ; , ";
  EXPECT_FALSE(mail.Envoyer());
  EXPECT_EQ(mail.MessageErreur(), "Aucune adresse de destinataire.");
  EXPECT_TRUE(mail.Termine());
  EXPECT_TRUE(serveur.Messages().empty());
}

TEST_F(MonMailTest, BodyLinesSignatureAndHeaders) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TMonMail mail(serveur.Port(), "Prog");
  mail.Serveur = "127.0.0.1";
  mail.Objet = {"Première ligne", "seconde"};
  mail.Corps = {"un", "", ".", std::string(1500, 'l'), std::string(1021, 'm') + "é"};
  mail.Signature = {"--", "fin"};
  mail.NomExpediteur = "Mon Programme";
  mail.AdresseExpediteur = "exp@x.fr, autre@y.fr";  // "," ends the first address as ";" does
  mail.Destinataires = "dest@x.fr, copie@y.fr";
  EXPECT_TRUE(mail.Envoyer()) << mail.MessageErreur();
  EXPECT_EQ(mail.MessageErreur(), "");
  EXPECT_TRUE(mail.Termine());

  TSmtpServer::Message message = Premier(serveur);
  TMailRecu recu(message.raw);
  EXPECT_EQ(recu.Entete("From"), "Mon Programme <exp@x.fr>");
  EXPECT_EQ(recu.Entete("Sender"), "Mon Programme <exp@x.fr>");
  EXPECT_EQ(recu.Entete("To"), "dest@x.fr");  // the first address; both get the mail
  EXPECT_EQ(recu.Entete("X-Mailer"), "Prog - Postaline");
  EXPECT_EQ(recu.Entete("Subject").rfind("Première ligne", 0), 0u);
  EXPECT_NE(recu.Entete("Subject").find("seconde"), std::string::npos);
  // Lines longer than SMTP allows and 8-bit text travel quoted-printable: whole once
  // decoded, no wire line past 76 bytes.
  EXPECT_EQ(recu.Entete("Content-Transfer-Encoding"), "quoted-printable");
  std::vector<std::string> attendu = {
      "un", "", ".", std::string(1500, 'l'), std::string(1021, 'm') + "é", "--", "fin"};
  EXPECT_EQ(recu.corps, attendu);
  for (const std::string& l : recu.lignesBrutes) EXPECT_LE(l.size(), 76u) << l;
  EXPECT_EQ(message.rcpt_to, (std::vector<std::string>{"dest@x.fr", "copie@y.fr"}));
  EXPECT_EQ(message.helo, "Mon_Programme");
  EXPECT_EQ(message.mail_from, "exp@x.fr");
}

TEST_F(MonMailTest, EmptyReportSendsAHeaderWithoutBody) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  EXPECT_EQ(EnvoyerCompteRendu(p, ""), "");
  TMailRecu mail(Premier(serveur).raw);
  EXPECT_EQ(mail.Entete("Subject"), "Jumelix");
  EXPECT_TRUE(mail.corps.empty());
}

TEST_F(MonMailTest, TestMessage) {
  TSmtpServer serveur;
  ASSERT_TRUE(serveur.Started()) << serveur.Error();
  TConfigMail p = Parametres(serveur, "a@x.fr");
  p.ComplementObjet = "Poste 3";
  EXPECT_EQ(EnvoyerMessageTest(p), "");
  TMailRecu mail(Premier(serveur).raw);
  EXPECT_EQ(mail.Entete("Subject"), "Jumelix [" + NomOrdinateur() + "] : Test - Poste 3");
  std::vector<std::string> attendu = {
      "Ce message a été envoyé par Jumelix.",
      "Adresse e-mail du destinataire : a@x.fr",
      "Serveur SMTP utilisé : 127.0.0.1",
      "Port SMTP : " + std::to_string(serveur.Port()),
      "--------------------",
      "Ce message a été envoyé en cliquant sur \"Tester\"",
  };
  EXPECT_EQ(mail.corps, attendu);
}

// A TMonMail aimed at a scripted peer, with two recipients and no account. Security off
// unless asked: these dialogues are the plain ones (HELO without an account).
std::string EnvoyerA(test::TScriptedPeer& pair, const std::string& utilisateur = "",
                     TSecuriteMail securite = TSecuriteMail::smAucune) {
  pair.Start();
  std::string erreur;
  {
    TMonMail mail(pair.Port(), "Jumelix");
    mail.Securite = securite;
    mail.Serveur = "127.0.0.1";
    mail.Objet = {"Sujet"};
    mail.Corps = {"ligne"};
    mail.NomExpediteur = "Jumelix";
    mail.AdresseExpediteur = mail.AdresseA = mail.Destinataires = "a@x.fr;b@y.fr";
    mail.Utilisateur = utilisateur;
    mail.MotDePasse = "pass";
    bool ok = mail.Envoyer();
    erreur = mail.MessageErreur();
    EXPECT_EQ(ok, erreur.empty());
    EXPECT_TRUE(mail.MotDePasse.empty());  // handed over, then wiped
  }  // the connection goes with the object
  pair.WaitDone(5000);
  return erreur;
}

TEST_F(MonMailTest, DialogueWithoutAccount) {
  test::TScriptedPeer pair;
  pair.Reply("220 pret")
      .Expect("HELO Jumelix")
      .Reply("250 ok")
      .Expect("MAIL FROM:<a@x.fr>")
      .Reply("250 ok")
      .Expect("RCPT TO:<a@x.fr>")
      .Reply("250 ok")
      .Expect("RCPT TO:<b@y.fr>")
      .Reply("251 ailleurs")
      .Expect("DATA")
      .Reply("354 go")
      .ReadUntilDot()
      .Reply("250 recu")
      .Expect("QUIT")
      .Reply("221 bye")
      .Close();
  EXPECT_EQ(EnvoyerA(pair), "");
  EXPECT_TRUE(pair.Problems().empty()) << pair.Problems().front();
}

TEST_F(MonMailTest, ServerRefusalsEndTheSendWithTheirText) {
  {  // a greeting other than 220: the server's line, not a system text
    test::TScriptedPeer pair;
    pair.Reply("554 pas de mail ici").WaitForClose();
    EXPECT_EQ(EnvoyerA(pair), "Erreur : 554 pas de mail ici");
  }
  {  // the connection ends in the middle of the session
    test::TScriptedPeer pair;
    pair.Reply("220 pret").Expect("HELO Jumelix").Reply("250 ok").ReadLine().Close();
    EXPECT_EQ(EnvoyerA(pair), "Erreur : connexion fermée par le serveur.");
  }
  {  // a reply without a code
    test::TScriptedPeer pair;
    pair.Reply("220 pret").Expect("HELO Jumelix").Reply("bonjour").WaitForClose();
    EXPECT_EQ(EnvoyerA(pair), "Erreur : 20600");
  }
  {  // with an account a refused EHLO does not fall back to HELO
    test::TScriptedPeer pair;
    pair.Reply("220 pret").Expect("EHLO Jumelix").Reply("502 inconnu").WaitForClose();
    EXPECT_EQ(EnvoyerA(pair, "moi"), "Erreur : 502 inconnu");
    EXPECT_EQ(pair.Received().size(), 1u);
  }
}

TEST_F(MonMailTest, DefaultSecurityAsksEhloAndFallsBackToHeloWithoutAccount) {
  // EHLO looks for STARTTLS; a server that does not know EHLO still gets the mail.
  test::TScriptedPeer pair;
  pair.Reply("220 pret")
      .Expect("EHLO Jumelix")
      .Reply("502 inconnu")
      .Expect("HELO Jumelix")
      .Reply("250 ok")
      .Expect("MAIL FROM:<a@x.fr>")
      .Reply("250 ok")
      .Expect("RCPT TO:<a@x.fr>")
      .Reply("250 ok")
      .Expect("RCPT TO:<b@y.fr>")
      .Reply("250 ok")
      .Expect("DATA")
      .Reply("354 go")
      .ReadUntilDot()
      .Reply("250 recu")
      .Expect("QUIT")
      .Reply("221 bye")
      .Close();
  EXPECT_EQ(EnvoyerA(pair, "", TSecuriteMail::smStartTlsSiPropose), "");
  EXPECT_TRUE(pair.Problems().empty()) << pair.Problems().front();
}

TEST_F(MonMailTest, MailTakenByTheServerIsSentWhateverQuitGives) {
  // The server keeps the connection open after 221: the reply to QUIT ends the send.
  test::TScriptedPeer pair;
  pair.Reply("220 pret")
      .Expect("HELO Jumelix")
      .Reply("250 ok")
      .ReadLine()
      .Reply("250 ok")
      .ReadLine()
      .Reply("250 ok")
      .ReadLine()
      .Reply("250 ok")
      .Expect("DATA")
      .Reply("354 go")
      .ReadUntilDot()
      .Reply("250 recu")
      .Expect("QUIT")
      .Reply("221 bye")
      .WaitForClose();
  const auto debut = std::chrono::steady_clock::now();
  EXPECT_EQ(EnvoyerA(pair), "");
  EXPECT_LT(std::chrono::steady_clock::now() - debut, std::chrono::seconds(3));
  EXPECT_TRUE(pair.WaitDone(3000));
  EXPECT_TRUE(pair.ClientClosed());
}

TEST_F(MonMailTest, UnknownHostGivesTheResolverText) {
  TMonMail mail(25, "Jumelix");
  mail.Serveur = "nom-inexistant.invalid";
  mail.Destinataires = "a@x.fr";
  EXPECT_FALSE(mail.Envoyer());
  // Without any DNS the resolver may answer "try again" rather than "no such name".
  std::vector<std::string> attendus;
  for (int code : {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA}) {
    attendus.push_back(gai_strerror(code));
  }
  EXPECT_NE(std::find(attendus.begin(), attendus.end(), mail.MessageErreur()), attendus.end())
      << mail.MessageErreur();
}

// ---- Hostile or broken servers: the send always ends, in time, and says why ----

using Horloge = std::chrono::steady_clock;

struct TServeurHostile {
  const char* nom;
  void (*script)(test::TScriptedPeer&);
  const char* utilisateur;  // non-empty: EHLO then AUTH
  const char* erreur;
};

// The usual dialogue up to the server's 250 to the end of the data.
void JusquAuMessageAccepte(test::TScriptedPeer& p) {
  p.Reply("220 pret").Expect("HELO Jumelix").Reply("250 ok");
  p.ReadLine().Reply("250 ok").ReadLine().Reply("250 ok").ReadLine().Reply("250 ok");
  p.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 recu");
}

std::string LignesAuth() {
  std::string ligne = "250-AUTH";
  for (int i = 0; ligne.size() < 1000; ++i) ligne += " MECA" + std::to_string(i);
  return ligne + "\r\n";
}

const TServeurHostile kServeursHostiles[] = {
    {"EndlessContinuedBanner", [](test::TScriptedPeer& p) { p.Flood("220-encore\r\n"); }, "",
     "Erreur : Réponse du serveur trop longue : plus de 200 lignes"},
    {"LineWithoutEnd", [](test::TScriptedPeer& p) { p.Flood("x"); }, "",
     "Erreur : Réponse du serveur trop longue : une ligne de plus de 4096 octets"},
    {"MultiMegabyteEhloThenTrickle",
     [](test::TScriptedPeer& p) {
       p.Reply("220 pret").Expect("EHLO Jumelix");
       p.Flood(LignesAuth(), 5u << 20).Trickle("250-AUTH X\r\n", 20);
     },
     "u", "Erreur : Réponse du serveur trop longue : plus de 65536 octets"},
    {"Trickle", [](test::TScriptedPeer& p) { p.Trickle("220-lent\r\n", 50); }, "",
     "Délai dépassé."},
    {"EndlessReplyToQuitAfterTheMessageWasTaken",
     [](test::TScriptedPeer& p) {
       JusquAuMessageAccepte(p);
       p.Expect("QUIT").Flood("221-encore\r\n");
     },
     "", ""},
    {"NoReplyToQuitAfterTheMessageWasTaken",
     [](test::TScriptedPeer& p) {
       JusquAuMessageAccepte(p);
       p.Expect("QUIT").WaitForClose();
     },
     "", ""},
};

class ServeurHostileTest : public MonMailTest,
                           public ::testing::WithParamInterface<TServeurHostile> {};

TEST_P(ServeurHostileTest, SendEndsWithinItsDeadline) {
  constexpr uint32_t kDelaiMs = 1500;
  TMonMail::DefinirDelaiPourTests(kDelaiMs);
  const TServeurHostile& cas = GetParam();
  test::TScriptedPeer pair;
  cas.script(pair);
  const auto debut = Horloge::now();
  EXPECT_EQ(EnvoyerA(pair, cas.utilisateur), cas.erreur);
  // A bound with a generous margin (the peer must also have seen the connection end),
  // not a speed test. A QUIT left unanswered is awaited a few seconds at most.
  EXPECT_LT(Horloge::now() - debut,
            std::chrono::milliseconds(std::max(kDelaiMs, TMonMail::kDelaiQuitMs) + 3000));
  EXPECT_TRUE(pair.Done());
}

INSTANTIATE_TEST_SUITE_P(Cas, ServeurHostileTest, ::testing::ValuesIn(kServeursHostiles),
                         [](const auto& info) { return std::string(info.param.nom); });

volatile sig_atomic_t g_arret = 0;
extern "C" void NoterArret(int) { g_arret = 1; }

TEST_F(MonMailTest, StopSignalAbandonsTheWaitAtOnce) {
  struct sigaction sa {
  }, ancienne{};
  sa.sa_handler = NoterArret;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // as the service installs it: the wait must still wake up
  ASSERT_EQ(sigaction(SIGTERM, &sa, &ancienne), 0);
  g_arret = 0;
  test::TScriptedPeer pair;
  pair.Reply("220 pret").Expect("HELO Jumelix").WaitSignal();  // then silence
  pair.Start();
  TMonMail mail(pair.Port(), "Jumelix");
  mail.Securite = TSecuriteMail::smAucune;
  mail.Serveur = "127.0.0.1";
  mail.Destinataires = "a@x.fr";
  mail.Arret = [] { return g_arret != 0; };
  // The signal comes once the server has the greeting: the send is then in its wait.
  std::thread tueur([&pair] {
    pair.WaitForReceived(1, 10000);
    kill(getpid(), SIGTERM);
  });
  const auto debut = Horloge::now();
  EXPECT_FALSE(mail.Envoyer());
  const auto duree = Horloge::now() - debut;
  tueur.join();
  sigaction(SIGTERM, &ancienne, nullptr);
  pair.Signal();
  EXPECT_EQ(mail.MessageErreur(), TMonMail::kTexteAbandon);
  EXPECT_LT(duree, std::chrono::milliseconds(1500));  // the deadline is 30 s

  // A stop asked before the send contacts nobody.
  g_arret = 1;
  test::TScriptedPeer personne;
  TMonMail autre(personne.Port(), "Jumelix");
  autre.Serveur = "127.0.0.1";
  autre.Destinataires = "a@x.fr";
  autre.Arret = [] { return g_arret != 0; };
  EXPECT_FALSE(autre.Envoyer());
  EXPECT_EQ(autre.MessageErreur(), TMonMail::kTexteAbandon);
  g_arret = 0;
}

}  // namespace
}  // namespace jumelix
