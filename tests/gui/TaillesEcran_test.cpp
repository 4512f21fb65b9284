// Every window fits a 1366x768 laptop at scale 1 and a 1600x1000 screen at scale 2 (800x500
// for the program): the offscreen platform gets each screen in a process of its own, and
// each window, shown, must leave room for a panel and a title bar, with its buttons whole
// (but in a scrolled area) and its wrapped texts uncut.
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QtTest>

#include "gui/ExclusionsDialog.h"
#include "gui/HelpWindow.h"
#include "gui/MailDialog.h"
#include "gui/MainWindow.h"
#include "gui/OptionsDialog.h"
#include "shared/URoutines.h"
#include "support/MainQtTest.h"
#include "support/TempTree.h"

namespace jumelix {

void VerifierQueTient(QWidget* f) {
  f->show();
  QVERIFY(QTest::qWaitForWindowExposed(f));
  const QRect place = f->screen()->availableGeometry();
  const QString nom = QStringLiteral("%1 %2x%3 pour %4x%5")
                          .arg(f->metaObject()->className())
                          .arg(f->width())
                          .arg(f->height())
                          .arg(place.width())
                          .arg(place.height());
  QVERIFY2(f->width() <= place.width() - 16 && f->height() <= place.height() - 72, qPrintable(nom));
  QVERIFY2(place.contains(f->frameGeometry()), qPrintable(nom));
  for (QAbstractButton* b : f->findChildren<QAbstractButton*>()) {
    bool defile = false;
    for (QWidget* p = b->parentWidget(); p != f; p = p->parentWidget())
      defile = defile || qobject_cast<QScrollArea*>(p) != nullptr;
    if (!b->isVisibleTo(f) || defile) continue;
    QVERIFY2(f->rect().contains(QRect(b->mapTo(f, QPoint()), b->size())) &&
                 b->height() >= b->minimumSizeHint().height(),
             qPrintable(nom + QStringLiteral(" : ") + b->text()));
  }
  for (QLabel* l : f->findChildren<QLabel*>())
    if (l->isVisibleTo(f) && l->wordWrap() && !l->text().isEmpty())
      QVERIFY2(l->height() >= l->heightForWidth(l->width()), qPrintable(l->text()));
}

class TaillesEcranTest : public QObject {
  Q_OBJECT

 private slots:
  void chaqueFenetreTientDansLEcran() {
    TFormJumelix f;
    f.FormCreate(TLigneCommande{});
    f.Centrer();
    VerifierQueTient(&f);
    // A long list grows the grid, never the window past the screen.
    test::TempTree arbre;
    std::vector<std::string> lignes = {"Répertoire source", "Répertoire cible"};
    for (int i = 0; i < 120; ++i) lignes.push_back("/r" + std::to_string(i));
    QCOMPARE(EcrireLignesFichier(arbre / "longue.ini", lignes), 0);
    f.Jumelix().OuvrirFichierListe(arbre / "longue.ini");
    VerifierQueTient(&f);
    TConfigMail p;
    TFormMail courrier(nullptr, p);
    VerifierQueTient(&courrier);
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

namespace {

// The platform reads its screen and scale when it starts: one process per screen.
int SurChaqueEcran(int argc, char** argv) {
  const struct {
    const char *taille, *echelle;
  } ecrans[] = {{"\"width\": 1366, \"height\": 768", "1"},
                {"\"width\": 1600, \"height\": 1000", "2"}};
  int echecs = 0;
  for (const auto& e : ecrans) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      char config[] = "/tmp/jumelix-ecran-XXXXXX";
      const int fd = mkstemp(config);
      const std::string json =
          std::string("{\"screens\": [{\"name\": \"e\", \"x\": 0, \"y\": 0, ") + e.taille + "}]}";
      if (fd < 0 || write(fd, json.data(), json.size()) != static_cast<ssize_t>(json.size()))
        _exit(1);
      close(fd);
      setenv("QT_QPA_PLATFORM", (std::string("offscreen:configfile=") + config).c_str(), 1);
      setenv("QT_SCALE_FACTOR", e.echelle, 1);
      const int r = jumelix::test::LancerQTest<jumelix::TaillesEcranTest>(argc, argv);
      unlink(config);
      std::fflush(nullptr);
      _exit(r);
    }
    int statut = 0;
    echecs += pid < 0 || waitpid(pid, &statut, 0) != pid || !WIFEXITED(statut) ||
              WEXITSTATUS(statut) != 0;
  }
  return echecs == 0 ? 0 : 1;
}

}  // namespace

JUMELIX_PROGRAMME_QTEST(TaillesEcran_test, &SurChaqueEcran);

#include "TaillesEcran_test.moc"
