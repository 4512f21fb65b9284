// The "Exclusions..." dialog on the offscreen platform: the count follows what is typed,
// "Enregistrer" writes the global file and "Annuler" leaves it alone.
#include "gui/ExclusionsDialog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "support/MainQtTest.h"
#include "support/TempTree.h"

namespace jumelix {

class ExclusionsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void laSaisieMetLeCompteAJourEtEnregistrerEcrit() {
    test::TempTree t;
    t.Fichier("src/a.txt");
    t.Fichier("src/b.tmp");
    t.Fichier("src/.jumelixignore", "*.txt\n");
    t.Fichier("src/sous/.jumelixignore", "rien\n");
    const std::string chemin = t / "config/jumelix/exclusions";
    TFormExclusions dlg(nullptr, t / "src", chemin);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.EditGlobal()->toPlainText(), QString());  // no file yet
    QCOMPARE(dlg.VueSource()->toPlainText(), QStringLiteral("*.txt\n"));
    QVERIFY(dlg.VueSource()->isReadOnly());
    QCOMPARE(dlg.LabelApercu()->text(), QStringLiteral("1 entrée laissée de côté : a.txt"));
    QCOMPARE(dlg.LabelAutres()->text(), QStringLiteral("S'appliquent aussi : sous/.jumelixignore"));

    QTest::keyClicks(dlg.EditGlobal(), "*.tmp");
    QTRY_COMPARE(dlg.LabelApercu()->text(),
                 QStringLiteral("2 entrées laissées de côté, dont a.txt"));

    QTest::mouseClick(dlg.ButtonEnregistrer(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(test::TempTree::Lire(chemin)), QStringLiteral("*.tmp"));
  }

  void annulerNEcritRienEtSansSourceLeDit() {
    test::TempTree t;
    const std::string chemin = t.Fichier("exclusions", "*.o\n");
    TFormExclusions dlg(nullptr, "", chemin);
    QCOMPARE(dlg.EditGlobal()->toPlainText(), QStringLiteral("*.o\n"));
    QCOMPARE(dlg.LabelApercu()->text(),
             QStringLiteral("Aucun répertoire source sur la ligne en cours"));
    dlg.show();
    QTest::keyClicks(dlg.EditGlobal(), "x");
    QTest::mouseClick(dlg.ButtonAnnuler(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(QString::fromStdString(test::TempTree::Lire(chemin)), QStringLiteral("*.o\n"));
  }
};

}  // namespace jumelix

JUMELIX_QTEST(ExclusionsDialog_test, jumelix::ExclusionsDialogTest);
#include "ExclusionsDialog_test.moc"
