// Every window fits the small screens people have: a 1366x768 laptop at scale 1 and a
// 1600x1000 screen at scale 2 (800x500 for the program). The offscreen platform is given
// each screen in turn, in a process of its own; every window is shown as the program shows
// it and must fit in the room a desktop leaves (its panel, the window's title bar), with
// its buttons whole and its wrapped texts uncut.
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QtTest>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/ExclusionsDialog.h"
#include "gui/HelpWindow.h"
#include "gui/MailDialog.h"
#include "gui/MainWindow.h"
#include "gui/OptionsDialog.h"
#include "mail/ConfigMail.h"
#include "shared/URoutines.h"
#include "support/MainQtTest.h"
#include "support/TempTree.h"

namespace jumelix {

namespace {

// What a desktop takes from the screen's height (a panel, the window's title bar) and
// from its width (window borders), in the program's pixels.
constexpr int kReserveHauteur = 72;
constexpr int kReserveLargeur = 16;

bool DansUneZoneDefilante(QWidget* w, QWidget* fenetre) {
  for (QWidget* p = w->parentWidget(); p != nullptr && p != fenetre; p = p->parentWidget())
    if (qobject_cast<QScrollArea*>(p) != nullptr) return true;
  return false;
}

// Shows `fenetre` and checks it fits the screen, its buttons in view and whole (those of a
// scrolled area excepted), and no wrapped text cut short.
void VerifierQueTient(QWidget* fenetre) {
  fenetre->show();
  QVERIFY(QTest::qWaitForWindowExposed(fenetre));
  const QRect place = fenetre->screen()->availableGeometry();
  const QString taille = QStringLiteral("%1 : %2x%3 pour %4x%5")
                             .arg(QString::fromLatin1(fenetre->metaObject()->className()))
                             .arg(fenetre->width())
                             .arg(fenetre->height())
                             .arg(place.width())
                             .arg(place.height());
  QVERIFY2(fenetre->width() <= place.width() - kReserveLargeur, qPrintable(taille));
  QVERIFY2(fenetre->height() <= place.height() - kReserveHauteur, qPrintable(taille));
  QVERIFY2(place.contains(fenetre->frameGeometry()), qPrintable(taille));
  for (QAbstractButton* b : fenetre->findChildren<QAbstractButton*>()) {
    if (!b->isVisibleTo(fenetre) || DansUneZoneDefilante(b, fenetre)) continue;
    const QRect r(b->mapTo(fenetre, QPoint()), b->size());
    QVERIFY2(fenetre->rect().contains(r), qPrintable(taille + QStringLiteral(" : ") + b->text()));
    QVERIFY2(b->height() >= b->minimumSizeHint().height(), qPrintable(b->text()));
  }
  for (QLabel* l : fenetre->findChildren<QLabel*>()) {
    if (!l->isVisibleTo(fenetre) || !l->wordWrap() || l->text().isEmpty()) continue;
    QVERIFY2(l->height() >= l->heightForWidth(l->width()),
             qPrintable(QStringLiteral("%1 (%2 pour %3)")
                            .arg(l->text())
                            .arg(l->height())
                            .arg(l->heightForWidth(l->width()))));
  }
}

}  // namespace

class TaillesEcranTest : public QObject {
  Q_OBJECT

 private slots:
  void laFenetrePrincipale() {
    TFormJumelix f;
    f.FormCreate(TLigneCommande{});
    f.Centrer();
    VerifierQueTient(&f);
    // A long list grows the grid, never the window past the screen.
    test::TempTree arbre;
    std::vector<std::string> lignes = {"Répertoire source", "Répertoire cible"};
    for (int i = 0; i < 60; ++i) {
      lignes.push_back("/s" + std::to_string(i));
      lignes.push_back("/d" + std::to_string(i));
    }
    QCOMPARE(EcrireLignesFichier(arbre / "longue.ini", lignes), 0);
    f.Jumelix().OuvrirFichierListe(arbre / "longue.ini");
    VerifierQueTient(&f);
  }

  void leDialogueDuCourrier() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    VerifierQueTient(&dlg);
    // Sendmail shows other fields: still in view.
    dlg.ComboTransport()->setCurrentIndex(1);
    VerifierQueTient(&dlg);
  }

  void lesAutresDialogues() {
    TConfigMail p;
    TFormOptions options(nullptr, p);
    VerifierQueTient(&options);
    TFormExclusions exclusions(nullptr, std::string());
    VerifierQueTient(&exclusions);
    TFormAide aide;
    aide.ChargerAide();
    VerifierQueTient(&aide);
  }
};

}  // namespace jumelix

// One process per screen: the platform reads its screen and scale when it starts.
int main(int argc, char** argv) {
  struct Ecran {
    int largeur, hauteur;
    const char* echelle;
  } ecrans[] = {{1366, 768, "1"}, {1600, 1000, "2"}};
  int echecs = 0;
  for (const Ecran& e : ecrans) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
      char config[] = "/tmp/jumelix-ecran-XXXXXX";
      const int fd = mkstemp(config);
      if (fd < 0) _exit(1);
      const std::string json =
          "{\"screens\": [{\"name\": \"ecran\", \"x\": 0, \"y\": 0, \"width\": " +
          std::to_string(e.largeur) + ", \"height\": " + std::to_string(e.hauteur) +
          ", \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}";
      const bool ecrit = write(fd, json.data(), json.size()) == static_cast<ssize_t>(json.size());
      close(fd);
      if (!ecrit) _exit(1);
      setenv("QT_QPA_PLATFORM", (std::string("offscreen:configfile=") + config).c_str(), 1);
      setenv("QT_SCALE_FACTOR", e.echelle, 1);
      std::printf("Ecran %dx%d, échelle %s\n", e.largeur, e.hauteur, e.echelle);
      const int r = jumelix::test::LancerQTest<jumelix::TaillesEcranTest>(argc, argv);
      unlink(config);
      std::fflush(nullptr);
      _exit(r);
    }
    int statut = 0;
    if (waitpid(pid, &statut, 0) != pid || !WIFEXITED(statut) || WEXITSTATUS(statut) != 0) ++echecs;
  }
  return echecs == 0 ? 0 : 1;
}

#include "TaillesEcran_test.moc"
