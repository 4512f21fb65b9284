// The "Options..." dialog on the offscreen platform: its texts, what OK and Annuler leave
// in the settings file, and a save that fails.
#include "gui/OptionsDialog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "mail/ConfigMail.h"
#include "support/MainQtTest.h"

namespace jumelix {

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  int essai_ = 0;

  // Shows the dialog as exec() would, without its modal loop.
  static void Montrer(TFormOptions& dlg) {
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  }
  static TConfigMail Relu() {
    TConfigMail c;
    c.LireConfig();
    return c;
  }

 private slots:
  // A settings directory of its own for each test.
  void init() {
    qputenv("XDG_CONFIG_HOME", QDir(dir_.path()).filePath(QString::number(++essai_)).toUtf8());
  }

  void okSavesTheDaysAndAnnulerNothing() {
    TConfigMail p;
    p.AdresseMail = "moi@exemple.fr";
    p.JoursArchive = 12;
    QCOMPARE(QString::fromStdString(p.EnregistrerConfig()), QString());
    TFormOptions dlg(nullptr, p);
    p.JoursArchive = 1;  // the file holds 12: showing the dialog reads it again
    Montrer(dlg);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Options"));
    // The days are reached from their label, 0 (keep nothing) is allowed, and the texts
    // name the folder the kept files go to and the file that marks a cache.
    QStringList textes;
    bool compagnon = false;
    for (QLabel* l : dlg.findChildren<QLabel*>()) {
      textes << l->text();
      compagnon = compagnon || l->buddy() == dlg.SpinJoursArchive();
    }
    QVERIFY(compagnon);
    QCOMPARE(dlg.SpinJoursArchive()->minimum(), 0);
    QVERIFY2(textes.join(QLatin1Char(' ')).contains(QStringLiteral(" .jumelix-archive ")),
             qPrintable(textes.join(QLatin1Char(' '))));
    QCOMPARE(dlg.SpinJoursArchive()->value(), 12);
    QVERIFY(dlg.CheckIgnorerCaches()->text().contains(QStringLiteral("CACHEDIR.TAG")));
    QVERIFY(!dlg.CheckIgnorerCaches()->isChecked());
    QVERIFY(dlg.ButtonOK()->isDefault());

    dlg.SpinJoursArchive()->setValue(0);
    dlg.CheckIgnorerCaches()->setChecked(true);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(p.JoursArchive, 0);
    QCOMPARE(Relu().JoursArchive, 0);
    QVERIFY(Relu().IgnorerCaches);
    QCOMPARE(Relu().AdresseMail, std::string("moi@exemple.fr"));  // the mail settings stay

    Montrer(dlg);
    QVERIFY(dlg.CheckIgnorerCaches()->isChecked());
    dlg.SpinJoursArchive()->setValue(45);
    dlg.CheckIgnorerCaches()->setChecked(false);
    QTest::mouseClick(dlg.ButtonAnnuler(), Qt::LeftButton);
    QCOMPARE(p.JoursArchive, 0);
    QCOMPARE(Relu().JoursArchive, 0);
    QVERIFY(p.IgnorerCaches);
    QVERIFY(Relu().IgnorerCaches);
  }

  void aFailedSaveIsShownAndTheValueStillApplies() {
    // A directory where the settings file goes: it cannot be written.
    QVERIFY(QDir().mkpath(QString::fromStdString(TConfigMail().CheminConfig())));
    TConfigMail p;
    TFormOptions dlg(nullptr, p);
    QStringList vus;
    dlg.DefinirAfficheur([&vus](const QString& t) { vus << t; });
    Montrer(dlg);
    QCOMPARE(dlg.SpinJoursArchive()->value(), 30);
    dlg.SpinJoursArchive()->setValue(3);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QCOMPARE(vus.size(), 1);
    QVERIFY2(vus[0].startsWith(QStringLiteral("Erreur en enregistrant le fichier ")),
             qPrintable(vus[0]));
    QCOMPARE(p.JoursArchive, 3);
  }
};

}  // namespace jumelix

JUMELIX_QTEST(OptionsDialog_test, jumelix::OptionsDialogTest);
#include "OptionsDialog_test.moc"
