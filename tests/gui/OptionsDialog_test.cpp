// The "Options..." dialog on the offscreen platform: what it shows of the settings file,
// what OK and Annuler leave in the settings and in the file, and a save that fails.
#include "gui/OptionsDialog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "mail/ConfigMail.h"
#include "support/MainQtTest.h"

namespace jumelix {

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;

  QString Chemin() const { return dir_->path() + QStringLiteral("/jumelix/JumelixConfig.dat"); }
  void EcrireFichier(const QByteArray& octets) {
    QDir().mkpath(dir_->path() + QStringLiteral("/jumelix"));
    QFile f(Chemin());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(octets);
  }
  QByteArray LireFichier() {
    QFile f(Chemin());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
  }
  // Shows the dialog as exec() would, without its modal loop.
  static void Montrer(TFormOptions& dlg) {
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qputenv("XDG_CONFIG_HOME", dir_->path().toUtf8());
  }
  void cleanup() { dir_.reset(); }

  void showsTheTextsAndTheDefault() {
    TConfigMail p;
    TFormOptions dlg(nullptr, p);
    Montrer(dlg);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Options"));
    QStringList textes;
    for (QLabel* l : dlg.findChildren<QLabel*>()) textes << l->text();
    QCOMPARE(textes.join(QLatin1Char(' ')),
             QStringLiteral("Conserver les fichiers remplacés ou supprimés pendant jours (0 : ne "
                            "pas conserver) Ils sont rangés dans le dossier .jumelix-archive de "
                            "chaque répertoire cible, un dossier par synchronisation."));
    QCOMPARE(dlg.SpinJoursArchive()->value(), 30);
    QCOMPARE(dlg.SpinJoursArchive()->minimum(), 0);
    QVERIFY(dlg.ButtonOK()->isDefault());
    QCOMPARE(dlg.ButtonAnnuler()->text(), QStringLiteral("Annuler"));
    dlg.reject();
  }

  void okSavesOnlyWhatIsNotTheDefaultAndAnnulerNothing() {
    EcrireFichier("Addr=moi@exemple.fr\r\nSMTP=smtp.exemple.fr\r\nJoursArchive=12\r\n");
    TConfigMail p;
    TFormOptions dlg(nullptr, p);
    Montrer(dlg);
    QCOMPARE(dlg.SpinJoursArchive()->value(), 12);
    dlg.SpinJoursArchive()->setValue(0);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(p.JoursArchive, 0);
    QVERIFY(LireFichier().contains("JoursArchive=0\r\n"));
    QVERIFY(LireFichier().contains("Addr=moi@exemple.fr\r\n"));  // the mail settings stay

    Montrer(dlg);
    QCOMPARE(dlg.SpinJoursArchive()->value(), 0);
    dlg.SpinJoursArchive()->setValue(45);
    QTest::mouseClick(dlg.ButtonAnnuler(), Qt::LeftButton);
    QCOMPARE(p.JoursArchive, 0);
    QVERIFY(LireFichier().contains("JoursArchive=0\r\n"));

    Montrer(dlg);
    dlg.SpinJoursArchive()->setValue(30);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(!LireFichier().contains("JoursArchive"));
    QVERIFY(LireFichier().contains("SMTP=smtp.exemple.fr\r\n"));
  }

  void aFailedSaveIsShownAndTheValueStillApplies() {
    // A directory where the settings file goes: it cannot be written.
    QVERIFY(QDir().mkpath(Chemin()));
    TConfigMail p;
    TFormOptions dlg(nullptr, p);
    QStringList vus;
    dlg.DefinirAfficheur([&vus](const QString& t) { vus << t; });
    Montrer(dlg);
    dlg.SpinJoursArchive()->setValue(3);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QCOMPARE(vus.size(), 1);
    QVERIFY2(vus[0].startsWith(QStringLiteral("Erreur en enregistrant le fichier ")),
             qPrintable(vus[0]));
    QCOMPARE(p.JoursArchive, 3);
  }
};

}  // namespace jumelix

int main(int argc, char** argv) {
  return jumelix::test::LancerQTest<jumelix::OptionsDialogTest>(argc, argv);
}
#include "OptionsDialog_test.moc"
