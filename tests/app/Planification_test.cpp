// The texts of a schedule (escaping, calendar, unit files), the scheduler's writing and its
// systemctl commands against a recorded stand-in, the written units as systemd itself reads
// them (systemd-analyze verify, with the package's templates beside them), and the save
// that comes first.
#include "app/Planification.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "app/Planificateur.h"
#include "app/UJumelix.h"
#include "platform/Processus.h"
#include "platform/System.h"
#include "support/SystemctlEnregistre.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {

namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

const THoraire kQuotidien{TFrequence::Quotidienne, 0, 2, 30};
const THoraire kLundi{TFrequence::Hebdomadaire, 0, 18, 5};
const THoraire kDimanche{TFrequence::Hebdomadaire, 6, 0, 0};

bool Existe(const std::string& chemin) { return fs::exists(fs::symlink_status(chemin)); }

}  // namespace

TEST(EchapperSystemd, FollowsSystemdEscapeRules) {
  const std::pair<const char*, const char*> noms[] = {
      {"sauvegarde", "sauvegarde"},
      {"ma liste", "ma\\x20liste"},
      {"a-b", "a\\x2db"},
      {"a/b", "a-b"},
      {".cache", "\\x2ecache"},
      {"v1.2_x:y", "v1.2_x:y"},
      {"été", "\\xc3\\xa9t\\xc3\\xa9"},
      {"a\\b%c", "a\\x5cb\\x25c"},
  };
  for (const auto& [texte, attendu] : noms) EXPECT_EQ(EchapperNomSystemd(texte), attendu) << texte;

  const std::pair<const char*, const char*> chemins[] = {
      {"/home/u/liste.ini", "home-u-liste.ini"},
      {"//home//u/liste.ini/", "home-u-liste.ini"},
      {"/home/./u/Mes listes/a-b.ini", "home-u-Mes\\x20listes-a\\x2db.ini"},
      {"/", "-"},
      {"/.config/x", "\\x2econfig-x"},
  };
  for (const auto& [chemin, attendu] : chemins)
    EXPECT_EQ(EchapperCheminSystemd(chemin).value_or("<refusé>"), attendu) << chemin;
  EXPECT_FALSE(EchapperCheminSystemd("relatif/liste.ini"));
  EXPECT_FALSE(EchapperCheminSystemd("/home/u/../v/liste.ini"));
  EXPECT_FALSE(EchapperCheminSystemd(""));
}

TEST(EchapperSystemd, AgreesWithTheSystemdEscapeTool) {
  const V chemins = {"/home/u/Mes listes/a-b.ini", "/srv/.x/été ?.ini", "/a\\b/c%d$e.ini"};
  for (const std::string& chemin : chemins) {
    platform::TOptionsProcessus options;
    const auto r = platform::ExecuterProcessus({"systemd-escape", "--path", chemin}, options);
    if (r.erreurLancement != 0) GTEST_SKIP() << "systemd-escape absent : comparaison impossible";
    ASSERT_TRUE(r.Reussi()) << r.erreurs;
    EXPECT_EQ(EchapperCheminSystemd(chemin).value_or("<refusé>") + "\n", r.sortie.Copie())
        << chemin;
  }
}

TEST(OnCalendar, WritesAndReadsBackDailyAndWeeklyTimes) {
  const std::pair<THoraire, const char*> cas[] = {
      {kQuotidien, "*-*-* 02:30:00"},
      {kLundi, "Mon *-*-* 18:05:00"},
      {kDimanche, "Sun *-*-* 00:00:00"},
      {{TFrequence::Hebdomadaire, 4, 23, 59}, "Fri *-*-* 23:59:00"},
  };
  for (const auto& [h, attendu] : cas) {
    EXPECT_EQ(ExpressionOnCalendar(h), attendu);
    EXPECT_EQ(LireExpressionOnCalendar(attendu), h) << attendu;
  }
  EXPECT_EQ(DescriptionHoraire(kQuotidien), "chaque jour à 02:30");
  EXPECT_EQ(DescriptionHoraire(kLundi), "chaque lundi à 18:05");
  // Only what we write is read back: anything else leaves the dialog's defaults.
  for (const char* autre : {"daily", "Lun *-*-* 02:30:00", "*-*-* 24:00:00", "*-*-* 2:30:00",
                            "Mon..Fri *-*-* 02:30:00", "*-*-* 02:30:15"})
    EXPECT_FALSE(LireExpressionOnCalendar(autre)) << autre;
}

TEST(UnitesDeListe, PackageInstanceForItsOwnDirectoryEscapedPathElsewhere) {
  const std::string config = "/home/u/.config";
  struct Cas {
    std::string liste;
    std::string instance;
    bool drop_in_service;
  };
  const Cas cas[] = {
      {"/home/u/.config/jumelix/sauvegarde.ini", "sauvegarde", false},
      {"/home/u/.config/jumelix/ma-liste_2.0.ini", "ma-liste_2.0", false},
      // The package's service would look for "ma\x20liste.ini".
      {"/home/u/.config/jumelix/ma liste.ini", "home-u-.config-jumelix-ma\\x20liste.ini", true},
      {"/home/u/.config/jumelix/sous/x.ini", "home-u-.config-jumelix-sous-x.ini", true},
      {"/home/u/.config/jumelix/notes.txt", "home-u-.config-jumelix-notes.txt", true},
      {"/home/u/Documents/liste.ini", "home-u-Documents-liste.ini", true},
  };
  for (const Cas& c : cas) {
    TUnitesListe u;
    std::string erreur;
    ASSERT_TRUE(UnitesDeListe(c.liste, config, u, erreur)) << erreur;
    EXPECT_EQ(u.instance, c.instance) << c.liste;
    EXPECT_EQ(u.timer, "jumelix@" + c.instance + ".timer");
    EXPECT_EQ(u.horaire, config + "/systemd/user/jumelix@" + c.instance + ".timer.d/horaire.conf");
    EXPECT_EQ(u.service_liste.empty(), !c.drop_in_service) << c.liste;
    if (c.drop_in_service) {
      EXPECT_EQ(u.service_liste,
                config + "/systemd/user/jumelix@" + c.instance + ".service.d/liste.conf");
    }
  }

  TUnitesListe u;
  std::string erreur;
  EXPECT_FALSE(UnitesDeListe("liste.ini", config, u, erreur));
  EXPECT_NE(erreur.find("chemin absolu"), std::string::npos) << erreur;
  EXPECT_FALSE(UnitesDeListe("/a/liste.ini", "", u, erreur));
  EXPECT_FALSE(UnitesDeListe("/" + std::string(250, 'x') + ".ini", config, u, erreur));
  EXPECT_NE(erreur.find("trop long"), std::string::npos) << erreur;
}

TEST(TextesUnites, CommandLineQuotesTheListAndTimerOverridesThePackageTime) {
  EXPECT_EQ(ArgumentExecStart("/home/u/Mes listes/a.ini"), "\"/home/u/Mes listes/a.ini\"");
  EXPECT_EQ(ArgumentExecStart("/a\"b\\c%d$e"), "\"/a\\\"b\\\\c%%d$$e\"");
  EXPECT_EQ(ArgumentExecStart("/a\nb"), "\"/a\\x0ab\"");

  const std::string service = TexteServiceListe("/usr/bin/jumelix", "/srv/liste 1.ini");
  EXPECT_NE(service.find("[Service]\nExecStart=\nExecStart=\"/usr/bin/jumelix\" /S "
                         "\"/srv/liste 1.ini\"\n"),
            std::string::npos)
      << service;
  const std::string timer = TexteHoraire(kLundi, "/srv/liste 1.ini");
  EXPECT_NE(timer.find("[Timer]\n"), std::string::npos);
  EXPECT_NE(timer.find("\nOnCalendar=\n"), std::string::npos) << "resets the package's time";
  EXPECT_NE(timer.find("\nOnCalendar=Mon *-*-* 18:05:00\n"), std::string::npos) << timer;
  EXPECT_EQ(LireTexteHoraire(timer), kLundi);
  // A path with a line end cannot start a line of its own in the comment.
  const std::string piege = TexteHoraire(kQuotidien, "/a\nOnCalendar=hourly");
  EXPECT_EQ(piege.find("\nOnCalendar=hourly"), std::string::npos) << piege;
  EXPECT_EQ(LireTexteHoraire(piege), kQuotidien);
  EXPECT_FALSE(LireTexteHoraire("[Timer]\nOnCalendar=hourly\n"));
  EXPECT_FALSE(LireTexteHoraire(""));
}

// The scheduler against the recorded systemctl, writing under this binary's own
// $XDG_CONFIG_HOME (tests/support/MainTests.cpp).
class PlanificateurTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = std::getenv("XDG_CONFIG_HOME");
    fs::remove_all(config_ + "/systemd");
    liste_ = arbre_.Fichier("Mes listes/nuit-1.ini", "Répertoire source\nRépertoire cible\n");
  }
  TPlanificateur Planificateur(const std::string& liste) {
    return TPlanificateur(liste, config_, "/usr/bin/jumelix", systemctl_.Executeur());
  }

  test::TempTree arbre_;
  std::string config_;
  std::string liste_;
  test::TSystemctlEnregistre systemctl_;
};

TEST_F(PlanificateurTest, ActiverWritesTheDropInsThenReloadsAndEnablesTheTimer) {
  TPlanificateur p = Planificateur(liste_);
  ASSERT_TRUE(p.Valide()) << p.Erreur();
  EXPECT_FALSE(p.HoraireEcrit());
  const TIssuePlanification issue = p.Activer(kLundi);
  EXPECT_TRUE(issue.reussie) << issue.message;
  EXPECT_NE(issue.message.find("chaque lundi à 18:05"), std::string::npos) << issue.message;

  const std::vector<TFichierUnite> fichiers = p.Fichiers(kLundi);
  ASSERT_EQ(fichiers.size(), 2u);
  for (const TFichierUnite& f : fichiers) {
    EXPECT_EQ(test::TempTree::Lire(f.chemin), f.texte) << f.chemin;
    struct stat st {};
    ASSERT_EQ(::stat(f.chemin.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << f.chemin;
  }
  const std::string& timer = p.Unites().timer;
  EXPECT_EQ(systemctl_.commandes,
            (std::vector<V>{{"is-system-running"},
                            {"daemon-reload"},
                            {"show", "--property=LoadState", "--value", p.Unites().service, timer},
                            {"enable", "--now", timer}}));
  EXPECT_EQ(p.HoraireEcrit(), kLundi);

  // A new time replaces the old one.
  EXPECT_TRUE(p.Activer(kDimanche).reussie);
  EXPECT_EQ(p.HoraireEcrit(), kDimanche);
  EXPECT_EQ(Planificateur(liste_).HoraireEcrit(), kDimanche) << "read back by a new dialog";
}

TEST_F(PlanificateurTest, ListInThePackageDirectoryGetsOnlyTheTimerDropIn) {
  const std::string liste = config_ + "/jumelix/sauvegarde.ini";
  TPlanificateur p = Planificateur(liste);
  ASSERT_TRUE(p.Activer(kQuotidien).reussie);
  EXPECT_EQ(p.Unites().timer, "jumelix@sauvegarde.timer");
  EXPECT_TRUE(Existe(config_ + "/systemd/user/jumelix@sauvegarde.timer.d/horaire.conf"));
  EXPECT_FALSE(Existe(config_ + "/systemd/user/jumelix@sauvegarde.service.d"));
}

TEST_F(PlanificateurTest, WithoutUserManagerNothingIsWrittenAndTheUserIsTold) {
  struct Cas {
    std::string etat, erreurs;
    int erreur_lancement;
    const char* attendu;
  };
  const Cas cas[] = {
      {"offline\n", "Failed to connect to bus: No medium found", 0,
       "Aucun gestionnaire systemd de l'utilisateur"},
      {"", "", ENOENT, "systemctl est introuvable"},
  };
  for (const Cas& c : cas) {
    systemctl_ = {};
    systemctl_.etat = c.etat;
    systemctl_.erreurs_etat = c.erreurs;
    systemctl_.erreur_lancement = c.erreur_lancement;
    TPlanificateur p = Planificateur(liste_);
    const TIssuePlanification issue = p.Activer(kQuotidien);
    EXPECT_FALSE(issue.reussie);
    EXPECT_NE(issue.message.find(c.attendu), std::string::npos) << issue.message;
    EXPECT_NE(issue.message.find("Rien n'a été écrit"), std::string::npos) << issue.message;
    if (!c.erreurs.empty()) {
      EXPECT_NE(issue.message.find(c.erreurs), std::string::npos) << issue.message;
    }
    EXPECT_EQ(systemctl_.Verbes(), V{"is-system-running"});
    EXPECT_FALSE(Existe(config_ + "/systemd"));
  }
}

TEST_F(PlanificateurTest, WithoutThePackageTemplatesTheDropInsAreTakenBack) {
  systemctl_.chargement = "loaded\n\nnot-found\n";
  TPlanificateur p = Planificateur(liste_);
  const TIssuePlanification issue = p.Activer(kQuotidien);
  EXPECT_FALSE(issue.reussie);
  EXPECT_NE(issue.message.find("jumelix@.service et jumelix@.timer"), std::string::npos)
      << issue.message;
  EXPECT_EQ(systemctl_.Verbes(),
            (V{"is-system-running", "daemon-reload", "show", "daemon-reload"}));
  EXPECT_FALSE(Existe(p.Unites().horaire));
  EXPECT_FALSE(Existe(p.Unites().service_liste));
  EXPECT_FALSE(Existe(config_ + "/systemd/user/" + p.Unites().timer + ".d"));
}

TEST_F(PlanificateurTest, FailedCommandsSayWhatSystemctlSaid) {
  for (const char* verbe : {"daemon-reload", "enable"}) {
    systemctl_ = {};
    systemctl_.verbes_en_echec = {verbe};
    const TIssuePlanification issue = Planificateur(liste_).Activer(kQuotidien);
    EXPECT_FALSE(issue.reussie) << verbe;
    EXPECT_NE(issue.message.find(systemctl_.erreurs_echec), std::string::npos) << issue.message;
  }
}

TEST_F(PlanificateurTest, RetirerDisablesTheTimerAndDeletesOnlyItsOwnFiles) {
  TPlanificateur p = Planificateur(liste_);
  ASSERT_TRUE(p.Activer(kLundi).reussie);
  // The user's own settings for the same service stay, with their directory.
  const std::string dossier_service = config_ + "/systemd/user/" + p.Unites().service + ".d";
  std::ofstream(dossier_service + "/perso.conf") << "[Service]\nNice=5\n";
  systemctl_.commandes.clear();

  const TIssuePlanification issue = p.Retirer();
  EXPECT_TRUE(issue.reussie) << issue.message;
  EXPECT_EQ(systemctl_.commandes,
            (std::vector<V>{
                {"is-system-running"}, {"disable", "--now", p.Unites().timer}, {"daemon-reload"}}));
  EXPECT_FALSE(Existe(config_ + "/systemd/user/" + p.Unites().timer + ".d"));
  EXPECT_FALSE(Existe(p.Unites().service_liste));
  EXPECT_TRUE(Existe(dossier_service + "/perso.conf"));
  EXPECT_FALSE(p.HoraireEcrit());

  // Without a manager the files still go, and the message says the manager is missing.
  ASSERT_TRUE(p.Activer(kLundi).reussie);
  systemctl_.etat = "offline\n";
  const TIssuePlanification sans = p.Retirer();
  EXPECT_TRUE(sans.reussie);
  EXPECT_NE(sans.message.find("Aucun gestionnaire systemd"), std::string::npos) << sans.message;
  EXPECT_FALSE(Existe(p.Unites().horaire));
}

TEST_F(PlanificateurTest, RefusesAListItCannotName) {
  TPlanificateur p = Planificateur("liste.ini");
  EXPECT_FALSE(p.Valide());
  EXPECT_TRUE(p.Fichiers(kQuotidien).empty());
  const TIssuePlanification issue = p.Activer(kQuotidien);
  EXPECT_FALSE(issue.reussie);
  EXPECT_EQ(issue.message, p.Erreur());
  EXPECT_TRUE(systemctl_.commandes.empty());
  EXPECT_FALSE(TPlanificateur(liste_, config_, "", systemctl_.Executeur()).Valide());
}

// systemd reads the package's templates with our drop-ins as a user manager would: any
// setting it refuses, a calendar it cannot parse or a command that is not executable
// fails the check.
TEST_F(PlanificateurTest, SystemdAnalyzeVerifyAcceptsTheWrittenUnits) {
  const std::string unites = config_ + "/systemd/user";
  const std::string executable = platform::CheminExecutable();  // any real program
  const V listes = {liste_, arbre_.Fichier("a%b $c \"d\".ini"), config_ + "/jumelix/nuit.ini"};
  for (const std::string& liste : listes) {
    fs::remove_all(config_ + "/systemd");
    TPlanificateur p(liste, config_, executable, systemctl_.Executeur());
    ASSERT_TRUE(p.Activer(kLundi).reussie) << liste;
    // The package's templates, as the install configures them.
    std::ifstream in(std::string(JUMELIX_TEST_SUPPORT_DIR) +
                     "/../../packaging/systemd/jumelix@.service.in");
    std::string service((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    service = std::regex_replace(service, std::regex("@JUMELIX_UNIT_BINARY@"), executable);
    service = std::regex_replace(service, std::regex("@JUMELIX_UNIT_DURCISSEMENT@"), "/x");
    std::ofstream(unites + "/jumelix@.service") << service;
    fs::copy_file(std::string(JUMELIX_TEST_SUPPORT_DIR) + "/../../packaging/systemd/jumelix@.timer",
                  unites + "/jumelix@.timer");

    platform::TOptionsProcessus options;
    options.delaiMs = 60000;
    const auto r = platform::ExecuterProcessus(
        {"systemd-analyze", "--user", "--man=no", "verify", unites + "/" + p.Unites().timer,
         unites + "/" + p.Unites().service},
        options);
    if (r.erreurLancement == ENOENT) GTEST_SKIP() << "systemd-analyze absent (paquet systemd)";
    if (r.erreurs.find("Failed to initialize manager") != std::string::npos)
      GTEST_SKIP() << "systemd-analyze ne peut pas fonctionner ici : " << r.erreurs;
    EXPECT_TRUE(r.Reussi()) << liste << "\n" << r.erreurs;
    EXPECT_EQ(r.erreurs, "") << liste;
  }
}

// "Planifier..." schedules the list file: a list the grid has changed since, or one never
// saved, is saved first.
TEST(PreparerListePourPlanifier, AsksToSaveAnUnsavedListFirst) {
  test::TempTree arbre;
  TVueEnregistree vue;
  TPasDeRapportMail mail;
  TJumelix j(
      vue, mail, [](const std::string&) {}, [] { return 0u; }, "");
  j.Grille().DefinirCellule(kColSource, 1, "/a");
  j.Grille().DefinirCellule(kColCible, 1, "/b");

  // No file yet: refused, or the save dialog cancelled, opens nothing.
  vue.reponses = {TReponseMessage::Non};
  EXPECT_FALSE(PreparerListePourPlanifier(j, vue));
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte, kTexteListeAEnregistrer);
  EXPECT_TRUE(vue.dialogues.empty());
  vue.reponses = {TReponseMessage::Oui};
  EXPECT_FALSE(PreparerListePourPlanifier(j, vue));
  EXPECT_EQ(vue.dialogues.size(), 1u);

  // Saved where the user says: the dialog may open on it.
  vue.reponses = {TReponseMessage::Oui};
  vue.reponse_enregistrer = arbre / "liste.ini";
  EXPECT_TRUE(PreparerListePourPlanifier(j, vue));
  EXPECT_EQ(j.FichierListe(), arbre / "liste.ini");
  EXPECT_NE(test::TempTree::Lire(arbre / "liste.ini").find("/a\r\n/b\r\n"), std::string::npos);

  // Saved and unchanged: no question.
  vue.messages.clear();
  EXPECT_TRUE(PreparerListePourPlanifier(j, vue));
  EXPECT_TRUE(vue.messages.empty());

  // Changed since: asked again, and saved in place.
  j.Grille().DefinirCellule(kColCible, 1, "/c");
  vue.reponses = {TReponseMessage::Oui};
  EXPECT_TRUE(PreparerListePourPlanifier(j, vue));
  EXPECT_EQ(vue.messages.size(), 1u);
  EXPECT_NE(test::TempTree::Lire(arbre / "liste.ini").find("/a\r\n/c\r\n"), std::string::npos);
}

}  // namespace jumelix
