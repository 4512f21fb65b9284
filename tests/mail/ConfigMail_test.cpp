#include "mail/ConfigMail.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "mail/UCryptePass.h"
#include "support/ProcessusFils.h"

namespace jumelix {
namespace {

namespace fs = std::filesystem;

// Points XDG_CONFIG_HOME at a fresh temporary directory for the life of the test.
class ConfigMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* ancien = std::getenv("XDG_CONFIG_HOME")) ancien_ = ancien;
    std::string t = (fs::temp_directory_path() / "jumelix-config-XXXXXX").string();
    racine_ = mkdtemp(t.data());
    setenv("XDG_CONFIG_HOME", racine_.c_str(), 1);
    chemin_ = racine_ + "/jumelix/JumelixConfig.dat";
  }
  void TearDown() override {
    if (ancien_) {
      setenv("XDG_CONFIG_HOME", ancien_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    fs::remove_all(racine_);
  }

  void EcrireFichier(const std::string& octets) {
    fs::create_directories(racine_ + "/jumelix");
    std::ofstream(chemin_, std::ios::binary) << octets;
  }
  std::string LireFichier() const {
    std::ifstream f(chemin_, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  TConfigMail Lu(const std::string& octets) {
    EcrireFichier(octets);
    TConfigMail c;
    c.LireConfig();
    return c;
  }

  std::optional<std::string> ancien_;
  std::string racine_;
  std::string chemin_;
};

TEST_F(ConfigMailTest, PathFollowsXdgConfigHome) {
  EXPECT_EQ(TConfigMail().CheminConfig(), chemin_);
  setenv("XDG_CONFIG_HOME", "relatif/config", 1);  // not absolute: ignored
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  if (!home.empty()) {
    EXPECT_EQ(TConfigMail().CheminConfig(), home + "/.config/jumelix/JumelixConfig.dat");
  }
}

TEST_F(ConfigMailTest, DefaultsAndMissingFile) {
  TConfigMail c;
  c.LireConfig();  // no file: nothing happens
  EXPECT_EQ(c.AdresseMail, "");
  EXPECT_EQ(c.ServeurSMTP, "");
  EXPECT_EQ(c.Port, "25");
  EXPECT_EQ(c.QuandApp, TQuandMail::qmJamais);
  EXPECT_EQ(c.QuandServ, TQuandMail::qmSiErreur);
  EXPECT_FALSE(c.MailAEnvoyer(true));
  EXPECT_FALSE(fs::exists(chemin_));
}

TEST_F(ConfigMailTest, WriterProducesEveryLineInOrder) {
  TConfigMail c;
  c.AdresseMail = "a@x.fr;b@y.fr";
  c.ServeurSMTP = "smtp.x.fr";
  c.AuthNom = " jean ";  // as typed, not trimmed
  c.AuthPass = "pâss";
  c.Port = "587";
  c.QuandApp = TQuandMail::qmChaqueFois;
  c.QuandServ = TQuandMail::qmJamais;
  c.ComplementObjet = "  serveur de Lyon  ";
  ASSERT_EQ(c.EnregistrerConfig(), "");

  std::vector<std::string> lignes = DecouperLignes(LireFichier());
  ASSERT_EQ(lignes.size(), 8u);
  EXPECT_EQ(lignes[0], "Addr=a@x.fr;b@y.fr");
  EXPECT_EQ(lignes[1], "SMTP=smtp.x.fr");
  EXPECT_EQ(lignes[2], "NOM= jean ");
  ASSERT_EQ(lignes[3].rfind("PASS=", 0), 0u);
  EXPECT_EQ(DecrypterMotDePasse(lignes[3].substr(5)), "pâss");
  EXPECT_EQ(lignes[4], "Port=587");
  EXPECT_EQ(lignes[5], "QdApp=ACF");
  EXPECT_EQ(lignes[6], "QdServ=SJ");
  EXPECT_EQ(lignes[7], "CO=serveur de Lyon");
  // Every line, the last included, ends with CR LF.
  std::string octets = LireFichier();
  EXPECT_EQ(octets.substr(octets.size() - 2), "\r\n");
  EXPECT_EQ(octets.find("Addr=a@x.fr;b@y.fr\r\nSMTP="), 0u);

  struct stat st {};
  ASSERT_EQ(stat(chemin_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // the file holds the password
}

TEST_F(ConfigMailTest, TheSettingsDirectoryIsCreatedPrivateWhateverTheUmask) {
  const mode_t ancien = umask(0022);
  TConfigMail c;
  c.AdresseMail = "a@x.fr";
  c.ServeurSMTP = "smtp";
  const std::string erreur = c.EnregistrerConfig();
  umask(ancien);
  EXPECT_EQ(erreur, "");
  struct stat st {};
  ASSERT_EQ(stat((racine_ + "/jumelix").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);  // it holds the password's file
  ASSERT_EQ(stat(chemin_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(ConfigMailTest, WriterWithoutAccountNorSubjectWritesFiveLines) {
  TConfigMail c;
  c.AdresseMail = "a@x.fr";
  c.ServeurSMTP = "smtp";
  c.Port = "abc";
  c.ComplementObjet = " \t ";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  EXPECT_EQ(LireFichier(), "Addr=a@x.fr\r\nSMTP=smtp\r\nPort=25\r\nQdApp=AJ\r\nQdServ=SSE\r\n");

  c.QuandApp = TQuandMail::qmSiErreur;
  c.QuandServ = TQuandMail::qmChaqueFois;
  c.ComplementObjet = std::string(49, 'x') + "éé";  // cut at 50 characters, not bytes
  ASSERT_EQ(c.EnregistrerConfig(), "");
  std::vector<std::string> lignes = DecouperLignes(LireFichier());
  ASSERT_EQ(lignes.size(), 6u);
  EXPECT_EQ(lignes[3], "QdApp=ASE");
  EXPECT_EQ(lignes[4], "QdServ=SCF");
  EXPECT_EQ(lignes[5], "CO=" + std::string(49, 'x') + "é");
}

TEST_F(ConfigMailTest, ALineEndInsideAValueCannotAddAKey) {
  TConfigMail c;
  c.AdresseMail = "a@x.fr";
  c.ServeurSMTP = "smtp\r\nPort=99";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  TConfigMail relu;
  relu.LireConfig();
  EXPECT_EQ(relu.ServeurSMTP, "smtp  Port=99");
  EXPECT_EQ(relu.Port, "25");
}

TEST_F(ConfigMailTest, SaveAndReloadKeepEverySetting) {
  TConfigMail c;
  c.AdresseMail = "élodie@exemple.fr";
  c.ServeurSMTP = "mail.exemple.fr";
  c.AuthNom = "élodie";
  c.AuthPass = "mot de passe à l'été";
  c.Port = "2525";
  c.QuandApp = TQuandMail::qmSiErreur;
  c.QuandServ = TQuandMail::qmChaqueFois;
  c.ComplementObjet = "Poste 3";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  TConfigMail relu;
  relu.LireConfig();
  EXPECT_EQ(relu.AdresseMail, c.AdresseMail);
  EXPECT_EQ(relu.ServeurSMTP, c.ServeurSMTP);
  EXPECT_EQ(relu.AuthNom, c.AuthNom);
  EXPECT_EQ(relu.AuthPass, c.AuthPass);
  EXPECT_EQ(relu.Port, "2525");
  EXPECT_EQ(relu.QuandApp, TQuandMail::qmSiErreur);
  EXPECT_EQ(relu.QuandServ, TQuandMail::qmChaqueFois);
  EXPECT_EQ(relu.ComplementObjet, "Poste 3");
}

TEST_F(ConfigMailTest, SavingTwiceScramblesDifferently) {
  TConfigMail c;
  c.AuthNom = "n";
  c.AuthPass = "même";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  std::string premier = DecouperLignes(LireFichier())[3];
  ASSERT_EQ(c.EnregistrerConfig(), "");
  std::string second = DecouperLignes(LireFichier())[3];
  EXPECT_NE(premier, second);
  EXPECT_EQ(DecrypterMotDePasse(premier.substr(5)), "même");
  EXPECT_EQ(DecrypterMotDePasse(second.substr(5)), "même");
}

TEST_F(ConfigMailTest, ReadingRules) {
  // Case-sensitive keys, nothing trimmed, "=" inside a value, last one wins.
  TConfigMail c =
      Lu("addr=minuscule@x\r\nAddr =blanc@x\r\n Addr=devant@x\r\nsans egal\r\n"
         "Inconnu=1\r\nAddr=a@x=b\r\nSMTP= serveur \r\nSMTP=premier\nSMTP=dernier\r"
         "Port=abc\r\n");
  EXPECT_EQ(c.AdresseMail, "a@x=b");
  EXPECT_EQ(c.ServeurSMTP, "dernier");
  EXPECT_EQ(c.Port, "abc");  // kept as written, checked only when used
  EXPECT_EQ(c.PortSMTP(), 25);

  c = Lu("SMTP= serveur \r\n");
  EXPECT_EQ(c.ServeurSMTP, " serveur ");
}

TEST_F(ConfigMailTest, ChoiceValues) {
  struct Cas {
    std::string fichier;
    TQuandMail app, serv;
  } cas[] = {
      {"QdApp=ACF\r\nQdServ=SCF\r\n", TQuandMail::qmChaqueFois, TQuandMail::qmChaqueFois},
      {"QdApp=ASE\r\nQdServ=SSE\r\n", TQuandMail::qmSiErreur, TQuandMail::qmSiErreur},
      {"QdApp=AJ\r\nQdServ=SJ\r\n", TQuandMail::qmJamais, TQuandMail::qmJamais},
      // Any other value means never; the application and service codes do not mix.
      {"QdApp=SCF\r\nQdServ=ACF\r\n", TQuandMail::qmJamais, TQuandMail::qmJamais},
      {"QdApp=acf\r\nQdServ=SSE \r\n", TQuandMail::qmJamais, TQuandMail::qmJamais},
      // Absent keys leave the start-up choices.
      {"Addr=x@y\r\n", TQuandMail::qmJamais, TQuandMail::qmSiErreur},
  };
  for (const Cas& k : cas) {
    TConfigMail c = Lu(k.fichier);
    EXPECT_EQ(c.QuandApp, k.app) << k.fichier;
    EXPECT_EQ(c.QuandServ, k.serv) << k.fichier;
  }
}

TEST_F(ConfigMailTest, AbsentKeysKeepTheFields) {
  EcrireFichier("Addr=a@x\r\nSMTP=s\r\n");
  TConfigMail c;
  c.AuthNom = "tapé";
  c.AuthPass = "secret";
  c.Port = "587";
  c.ComplementObjet = "objet";
  c.QuandServ = TQuandMail::qmJamais;
  c.LireConfig();
  EXPECT_EQ(c.AdresseMail, "a@x");
  EXPECT_EQ(c.AuthNom, "tapé");
  EXPECT_EQ(c.AuthPass, "secret");
  EXPECT_EQ(c.Port, "587");
  EXPECT_EQ(c.ComplementObjet, "objet");
  EXPECT_EQ(c.QuandServ, TQuandMail::qmJamais);
}

TEST_F(ConfigMailTest, PasswordValues) {
  struct Cas {
    std::string valeur, attendu;
  } cas[] = {
      {"", ""},
      {"0000", ""},
      {CrypterMotDePasse("bon"), "bon"},
      {CrypterMotDePasse("bon").substr(1), ""},
      {CrypterMotDePasse("bon").substr(0, 8) + "ZZZZ" + "0000", ""},
      {CrypterMotDePasse("bon").substr(0, 12) + "FFFF", ""},
  };
  for (const Cas& k : cas) {
    TConfigMail c;
    c.AuthPass = "avant";
    EcrireFichier("PASS=" + k.valeur + "\r\n");
    c.LireConfig();
    EXPECT_EQ(c.AuthPass, k.attendu) << k.valeur;
  }
}

TEST_F(ConfigMailTest, WindowsFilesStillLoad) {
  // A file written on Windows: Windows-1252 text, password scrambled from
  // Windows-1252 bytes; both arrive as UTF-8.
  TConfigMail c = Lu("Addr=h\xE9l\xE8ne@x.fr\r\nPASS=" + CrypterMotDePasse("\xE9t\xE9") +
                     "\r\nCO=Ann\xE9\x65\r\n");
  EXPECT_EQ(c.AdresseMail, "hélène@x.fr");
  EXPECT_EQ(c.AuthPass, "été");
  EXPECT_EQ(c.ComplementObjet, "Année");
}

TEST_F(ConfigMailTest, SubjectTextIsCutAtFiftyCharacters) {
  TConfigMail c = Lu("CO=" + std::string(60, 'a') + "\r\n");
  EXPECT_EQ(c.ComplementObjet, std::string(50, 'a'));
  c = Lu("CO=" + std::string(45, 'a') + "éèàùçôî\r\n");
  EXPECT_EQ(c.ComplementObjet, std::string(45, 'a') + "éèàùç");
  c.ComplementObjet = "  " + std::string(80, 'b') + "  ";
  EXPECT_EQ(c.ComplementPourObjet(), " - " + std::string(50, 'b'));
  c.ComplementObjet = "   ";
  EXPECT_EQ(c.ComplementPourObjet(), "");
}

TEST_F(ConfigMailTest, FailedSaveReportsAndLeavesTheOldFile) {
  EcrireFichier("Addr=ancien@x\r\nSMTP=ancien\r\n");
  std::string avant = LireFichier();
  // Even root cannot write past RLIMIT_FSIZE: the save runs in a child with a tiny limit.
  std::optional<std::string> resultat = test::ExecuterDansFils(
      [] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{8, 8};
        setrlimit(RLIMIT_FSIZE, &lim);
      },
      [] {
        TConfigMail c;
        c.AdresseMail = std::string(100, 'n') + "@x";
        c.ServeurSMTP = "nouveau";
        return c.EnregistrerConfig();
      });
  ASSERT_TRUE(resultat.has_value());
  const std::string& message = *resultat;
  EXPECT_EQ(message,
            "Erreur en enregistrant le fichier " + chemin_ + "\n" + MessageErreurSysteme(EFBIG));
  EXPECT_EQ(LireFichier(), avant);
  // No temporary file is left beside it.
  int entrees = 0;
  for (auto& e : fs::directory_iterator(racine_ + "/jumelix")) {
    (void)e;
    ++entrees;
  }
  EXPECT_EQ(entrees, 1);
}

TEST_F(ConfigMailTest, DirectoryThatCannotBeMadeIsReported) {
  std::ofstream(racine_ + "/jumelix") << "un fichier, pas un répertoire";
  TConfigMail c;
  std::string message = c.EnregistrerConfig();
  EXPECT_EQ(message.rfind("Erreur en enregistrant le fichier " + chemin_ + "\n", 0), 0u) << message;
  EXPECT_GT(message.size(), ("Erreur en enregistrant le fichier " + chemin_ + "\n").size());
}

TEST(ConfigMailSaisie, PortRule) {
  struct Cas {
    std::string texte;
    int port;
  } cas[] = {{"", 25},    {"abc", 25},    {"0", 25},   {"587", 587}, {"-5", 25},
             {"25x", 25}, {" 465 ", 465}, {"+26", 26}, {"+-3", 25},  {"99999999999", 25},
             {"65535", 65535}, {"65536", 25}};
  for (const Cas& k : cas) {
    TConfigMail c;
    c.Port = k.texte;
    EXPECT_EQ(c.PortSMTP(), k.port) << "'" << k.texte << "'";
  }
}

TEST(ConfigMailSaisie, VerifierSaisie) {
  const std::string kNomEtPass =
      "Le nom et le mot de passe doivent être tous les deux vides (pas d'authentification) ou "
      "tous les deux non vides (authentification)";
  struct Cas {
    std::string adresse, serveur, nom, pass;
    bool arretPermis;
    std::string attendu;
  } cas[] = {
      {"a@x", "smtp", "", "", false, ""},
      {"", "smtp", "", "", false, ""},  // no recipient is acceptable
      {"pas-d-arobase", "smtp", "", "", false, "L'adresse mail ne semble pas correcte"},
      {"pas-d-arobase", "", "", "", false, "L'adresse mail ne semble pas correcte"},
      {"a@x", "  ", "", "", false, "Il manque le serveur SMTP"},
      {"", "", "", "", false, "Il manque le serveur SMTP"},
      {"", "", "", "", true, ""},  // the mail is switched off
      {"a@x", "", "", "", true, "Il manque le serveur SMTP"},
      {"a@x", "smtp", "nom", "", false, kNomEtPass},
      {"a@x", "smtp", "", "pass", false, kNomEtPass},
      {"a@x", "smtp", " ", "p", false, ""},  // a blank name counts as filled
      {"", "", "nom", "", true, kNomEtPass},
  };
  for (const Cas& k : cas) {
    TConfigMail c;
    c.AdresseMail = k.adresse;
    c.ServeurSMTP = k.serveur;
    c.AuthNom = k.nom;
    c.AuthPass = k.pass;
    EXPECT_EQ(c.VerifierSaisie(k.arretPermis), k.attendu)
        << k.adresse << "|" << k.serveur << "|" << k.nom << "|" << k.pass;
  }
}

TEST(ConfigMailSaisie, VerifierSaisieTrimsAndRewritesThePort) {
  TConfigMail c;
  c.AdresseMail = " \ta@x.fr ;b@y.fr\r\n";
  c.ServeurSMTP = "  smtp.x.fr ";
  c.AuthNom = " n ";
  c.AuthPass = " p ";
  c.Port = "lettres";
  EXPECT_EQ(c.VerifierSaisie(), "");
  EXPECT_EQ(c.AdresseMail, "a@x.fr ;b@y.fr");
  EXPECT_EQ(c.ServeurSMTP, "smtp.x.fr");
  EXPECT_EQ(c.AuthNom, " n ");  // never trimmed
  EXPECT_EQ(c.AuthPass, " p ");
  EXPECT_EQ(c.Port, "25");
  c.Port = "0";
  c.VerifierSaisie();
  EXPECT_EQ(c.Port, "25");
}

TEST(ConfigMailSaisie, MailAEnvoyer) {
  struct Cas {
    TQuandMail quand;
    bool erreur;
    bool attendu;
  } cas[] = {
      {TQuandMail::qmChaqueFois, false, true}, {TQuandMail::qmChaqueFois, true, true},
      {TQuandMail::qmSiErreur, false, false},  {TQuandMail::qmSiErreur, true, true},
      {TQuandMail::qmJamais, false, false},    {TQuandMail::qmJamais, true, false},
  };
  for (const Cas& k : cas) {
    CompteRendu().ViderCompteRendu();
    if (k.erreur) CompteRendu().AjouterErreur("");
    TConfigMail c;
    c.AdresseMail = "a@x";
    c.ServeurSMTP = "smtp";
    c.QuandApp = k.quand;
    c.QuandServ = TQuandMail::qmJamais;
    EXPECT_EQ(c.MailAEnvoyer(false), k.attendu);
    EXPECT_FALSE(c.MailAEnvoyer(true));
    std::swap(c.QuandApp, c.QuandServ);
    EXPECT_EQ(c.MailAEnvoyer(true), k.attendu);
    EXPECT_FALSE(c.MailAEnvoyer(false));
    // Without a server or a recipient no mail is ever due.
    c.QuandApp = c.QuandServ = TQuandMail::qmChaqueFois;
    c.ServeurSMTP.clear();
    EXPECT_FALSE(c.MailAEnvoyer(false));
    c.ServeurSMTP = "smtp";
    c.AdresseMail.clear();
    EXPECT_FALSE(c.MailAEnvoyer(true));
  }
  CompteRendu().ViderCompteRendu();
}

// The transport and token keys: absent at their defaults (files stay readable by older
// versions), written and read back otherwise, and back to the defaults for a file
// without them.
TEST_F(ConfigMailTest, TransportAndTokenKeysRoundTrip) {
  TConfigMail c;
  c.AdresseMail = "a@x.fr";
  c.ServeurSMTP = "smtp";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  EXPECT_EQ(LireFichier().find("Transport"), std::string::npos);
  EXPECT_EQ(LireFichier().find("Sendmail"), std::string::npos);
  EXPECT_EQ(LireFichier().find("Jeton"), std::string::npos);

  c.Transport = TTransportMail::tmSendmail;
  c.Sendmail = " /usr/local/bin/msmtp ";
  c.Jeton = R"(  oauth2-jeton --compte "Élodie D" \\partage  )";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  std::vector<std::string> lignes = DecouperLignes(LireFichier());
  ASSERT_EQ(lignes.size(), 8u);
  EXPECT_EQ(lignes[5], "Transport=sendmail");
  EXPECT_EQ(lignes[6], "Sendmail=/usr/local/bin/msmtp");
  EXPECT_EQ(lignes[7], R"(Jeton=oauth2-jeton --compte "Élodie D" \\partage)");
  TConfigMail relu;
  relu.LireConfig();
  EXPECT_EQ(relu.Transport, TTransportMail::tmSendmail);
  EXPECT_EQ(relu.Sendmail, "/usr/local/bin/msmtp");
  EXPECT_EQ(relu.Jeton, R"(oauth2-jeton --compte "Élodie D" \\partage)");

  // The default path is never written; an unknown transport or an empty path is the default.
  relu.Sendmail = kSendmailParDefaut;
  EXPECT_EQ(relu.LignesConfig().size(), 7u);
  TConfigMail autre = Lu("Addr=a@x\r\nTransport=pigeon\r\nSendmail=\r\nJeton=x\r\n");
  EXPECT_EQ(autre.Transport, TTransportMail::tmSmtp);
  EXPECT_EQ(autre.Sendmail, kSendmailParDefaut);
  // Reading a file without the keys (an older one) restores the defaults.
  EcrireFichier("Addr=a@x\r\nSMTP=s\r\n");
  relu.LireConfig();
  EXPECT_EQ(relu.Transport, TTransportMail::tmSmtp);
  EXPECT_EQ(relu.Sendmail, kSendmailParDefaut);
  EXPECT_EQ(relu.Jeton, "");
  EXPECT_EQ(relu.AdresseMail, "a@x");
}

TEST_F(ConfigMailTest, ArchiveDaysKeyIsWrittenOnlyWhenNotTheDefault) {
  TConfigMail c;
  EXPECT_EQ(c.JoursArchive, 30);
  c.AdresseMail = "a@x.fr";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  EXPECT_EQ(LireFichier().find("JoursArchive"), std::string::npos);
  for (int jours : {0, 7, kJoursArchiveMax}) {
    c.JoursArchive = jours;
    ASSERT_EQ(c.EnregistrerConfig(), "");
    EXPECT_EQ(DecouperLignes(LireFichier()).back(), "JoursArchive=" + std::to_string(jours));
    TConfigMail relu;
    relu.LireConfig();
    EXPECT_EQ(relu.JoursArchive, jours);
    EXPECT_EQ(relu.AdresseMail, "a@x.fr");
  }
  // A value that is not a number of days in range keeps the archive at its default, as
  // does a file without the key (an older one, or the Windows program's).
  struct {
    const char* texte;
    int jours;
  } cas[] = {{"JoursArchive= 12 ", 12}, {"JoursArchive=-1", 30},    {"JoursArchive=", 30},
             {"JoursArchive=abc", 30},  {"JoursArchive=36501", 30}, {"JoursArchive=5j", 30},
             {"Addr=a@x", 30}};
  for (const auto& k : cas) {
    TConfigMail lu;
    lu.JoursArchive = 3;
    EcrireFichier(std::string(k.texte) + "\r\n");
    lu.LireConfig();
    EXPECT_EQ(lu.JoursArchive, k.jours) << k.texte;
  }
}

TEST_F(ConfigMailTest, IgnoredCachesKeyIsWrittenOnlyWhenOn) {
  TConfigMail c;
  EXPECT_FALSE(c.IgnorerCaches);
  c.AdresseMail = "a@x.fr";
  ASSERT_EQ(c.EnregistrerConfig(), "");
  EXPECT_EQ(LireFichier().find("IgnorerCaches"), std::string::npos);
  c.IgnorerCaches = true;
  ASSERT_EQ(c.EnregistrerConfig(), "");
  EXPECT_EQ(DecouperLignes(LireFichier()).back(), "IgnorerCaches=1");
  TConfigMail relu;
  relu.LireConfig();
  EXPECT_TRUE(relu.IgnorerCaches);
  EXPECT_EQ(relu.AdresseMail, "a@x.fr");
  // A file without the key (an older one), or with another value, means off.
  for (const char* texte : {"Addr=a@x", "IgnorerCaches=0", "IgnorerCaches=oui"}) {
    EcrireFichier(std::string(texte) + "\r\n");
    relu.LireConfig();
    EXPECT_FALSE(relu.IgnorerCaches) << texte;
  }
}

TEST(ConfigMailSaisie, VerifierSaisieForTheNewTransports) {
  struct Cas {
    TTransportMail transport;
    std::string adresse, serveur, nom, pass, jeton;
    bool arretPermis;
    std::string attendu;
  } cas[] = {
      // The system's mailer needs no server and no account.
      {TTransportMail::tmSendmail, "a@x", "", "", "", "", false, ""},
      {TTransportMail::tmSendmail, "a@x", "", "nom", "", "", false, ""},
      {TTransportMail::tmSendmail, "", "", "", "", "", false,
       "Il manque l'adresse mail du destinataire"},
      {TTransportMail::tmSendmail, "", "", "", "", "", true, ""},
      {TTransportMail::tmSendmail, "sans-arobase", "", "", "", "", false,
       "L'adresse mail ne semble pas correcte"},
      // A token replaces the password but needs the account's name.
      {TTransportMail::tmSmtp, "a@x", "smtp", "a@x", "", "jeton", false, ""},
      {TTransportMail::tmSmtp, "a@x", "smtp", "", "", "jeton", false,
       "Avec une commande de jeton d'accès, le nom d'utilisateur (l'adresse du compte) est "
       "nécessaire"},
      {TTransportMail::tmSmtp, "a@x", "", "a@x", "", "jeton", false, "Il manque le serveur SMTP"},
  };
  for (const Cas& k : cas) {
    TConfigMail c;
    c.Transport = k.transport;
    c.AdresseMail = k.adresse;
    c.ServeurSMTP = k.serveur;
    c.AuthNom = k.nom;
    c.AuthPass = k.pass;
    c.Jeton = k.jeton;
    EXPECT_EQ(c.VerifierSaisie(k.arretPermis), k.attendu) << k.adresse << "|" << k.jeton;
  }
  // A mail through the system's mailer is due without any server.
  CompteRendu().ViderCompteRendu();
  TConfigMail c;
  c.Transport = TTransportMail::tmSendmail;
  c.AdresseMail = "a@x";
  c.QuandServ = TQuandMail::qmChaqueFois;
  EXPECT_TRUE(c.MailAEnvoyer(true));
  c.AdresseMail.clear();
  EXPECT_FALSE(c.MailAEnvoyer(true));
}

}  // namespace
}  // namespace jumelix
