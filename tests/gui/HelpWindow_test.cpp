// The help window driven as a user would: showing, closing keys, layout and printing.
#include "gui/HelpWindow.h"

#include <QApplication>
#include <QPrinterInfo>
#include <QTest>
#include <QTextCursor>

#include "gui/RepondeurBoites.h"
#include "support/MainQtTest.h"

namespace jumelix {

class HelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void leGuideEstChargeUneSeuleFois();
  void leGuideDecritLeProgrammeSousLinux();
  void entreeEtEchapFermentLaFenetre_data();
  void entreeEtEchapFermentLaFenetre();
  void lesAutresTouchesNeFermentPas();
  void okCacheLaFenetreSansLaDetruire();
  void lesBoutonsSuiventLaLargeur();
  void sansImprimanteLeBoutonLeDitSeulement();
};

void HelpWindowTest::leGuideEstChargeUneSeuleFois() {
  TFormAide aide;
  QVERIFY(aide.RichEditAide()->document()->isEmpty());
  aide.ChargerAide();
  const QString texte = aide.RichEditAide()->toPlainText();
  QVERIFY(texte.startsWith(QStringLiteral("Jumelix")));

  // A second load must leave the document as it is: a reload would drop this mark.
  QTextCursor curseur(aide.RichEditAide()->document());
  curseur.movePosition(QTextCursor::End);
  curseur.insertText(QStringLiteral("MARQUE-DE-TEST"));
  aide.ChargerAide();
  aide.show();
  aide.ChargerAide();
  QVERIFY(aide.RichEditAide()->toPlainText().endsWith(QStringLiteral("MARQUE-DE-TEST")));
  QCOMPARE(aide.RichEditAide()->toPlainText().count(QStringLiteral("Paramètres acceptés")), 1);
}

void HelpWindowTest::leGuideDecritLeProgrammeSousLinux() {
  TFormAide aide;
  aide.ChargerAide();
  const QString texte = aide.RichEditAide()->toPlainText();
  // The sections in the order the user meets them.
  const QStringList sections = {QStringLiteral("Retenir la liste des répertoires"),
                                QStringLiteral("Synchroniser, Comparer"),
                                QStringLiteral("Paramètres acceptés"),
                                QStringLiteral("Exemples"),
                                QStringLiteral("Compte-rendu envoyé par mail"),
                                QStringLiteral("Conseils")};
  qsizetype position = 0;
  for (const QString& s : sections) {
    const qsizetype trouve = texte.indexOf(s, position);
    QVERIFY2(trouve >= 0, qPrintable(s));
    position = trouve;
  }
  QVERIFY(texte.contains(QStringLiteral("0 2 * * * /usr/bin/jumelix /S /home/moi/sauvegarde.ini")));
  QVERIFY(texte.contains(QStringLiteral("~/.local/state/jumelix/jumelix.log")));
  QVERIFY(texte.contains(QStringLiteral("$XDG_CONFIG_HOME/jumelix/JumelixConfig.dat")));
  QVERIFY(texte.contains(QStringLiteral("OnCalendar=")));
  QVERIFY(!texte.contains(QStringLiteral("C:\\")));
  QCOMPARE(aide.RichEditAide()->palette().color(QPalette::Base), QColor(255, 255, 224));
  QVERIFY(aide.RichEditAide()->isReadOnly());
}

void HelpWindowTest::entreeEtEchapFermentLaFenetre_data() {
  QTest::addColumn<int>("touche");
  QTest::addColumn<int>("cible");  // 0 document, 1 Ok, 2 print button
  for (int cible = 0; cible < 3; ++cible) {
    QTest::addRow("Entrée/%d", cible) << int(Qt::Key_Return) << cible;
    QTest::addRow("Entrée pavé/%d", cible) << int(Qt::Key_Enter) << cible;
    QTest::addRow("Echap/%d", cible) << int(Qt::Key_Escape) << cible;
  }
}

void HelpWindowTest::entreeEtEchapFermentLaFenetre() {
  QFETCH(int, touche);
  QFETCH(int, cible);
  TFormAide aide;
  aide.ChargerAide();
  aide.show();
  QVERIFY(QTest::qWaitForWindowExposed(&aide));
  QWidget* w = cible == 0   ? static_cast<QWidget*>(aide.RichEditAide())
               : cible == 1 ? static_cast<QWidget*>(aide.ButtonOk())
                            : static_cast<QWidget*>(aide.SpeedButtonImpr());
  TRepondeurBoites repondeur;  // the print button must not be pressed by the key
  QTest::keyClick(w, static_cast<Qt::Key>(touche));
  QVERIFY(!aide.isVisible());
  QVERIFY(repondeur.textes.isEmpty());
}

void HelpWindowTest::lesAutresTouchesNeFermentPas() {
  TFormAide aide;
  aide.ChargerAide();
  aide.show();
  QVERIFY(QTest::qWaitForWindowExposed(&aide));
  for (Qt::Key k : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Space, Qt::Key_A}) {
    QTest::keyClick(aide.RichEditAide(), k);
  }
  QVERIFY(aide.isVisible());
}

void HelpWindowTest::okCacheLaFenetreSansLaDetruire() {
  TFormAide aide;
  aide.ChargerAide();
  aide.show();
  QVERIFY(QTest::qWaitForWindowExposed(&aide));
  QTest::mouseClick(aide.ButtonOk(), Qt::LeftButton);
  QVERIFY(!aide.isVisible());
  aide.ChargerAide();
  aide.show();
  QVERIFY(aide.isVisible());
  QVERIFY(!aide.RichEditAide()->document()->isEmpty());
  QCOMPARE(aide.windowTitle(), QStringLiteral("Aide"));
}

void HelpWindowTest::lesBoutonsSuiventLaLargeur() {
  TFormAide aide;
  aide.show();
  QVERIFY(QTest::qWaitForWindowExposed(&aide));
  for (int largeur : {581, 400, 120}) {
    aide.resize(largeur, 300);
    QCoreApplication::processEvents();
    const int panneau = aide.Panel1()->width();
    QCOMPARE(panneau, aide.width());
    QCOMPARE(aide.Panel1()->height(), 33);
    QCOMPARE(aide.Panel1()->y(), aide.height() - 33);
    QCOMPARE(aide.ButtonOk()->geometry(), QRect((panneau - 75) / 2, 4, 75, 25));
    QCOMPARE(aide.SpeedButtonImpr()->geometry(), QRect(panneau - 25 - 4, 4, 25, 25));
    QCOMPARE(aide.RichEditAide()->geometry(), QRect(0, 0, aide.width(), aide.height() - 33));
  }
}

void HelpWindowTest::sansImprimanteLeBoutonLeDitSeulement() {
  if (!QPrinterInfo::availablePrinters().isEmpty()) {
    QSKIP("this machine has a printer; the no-printer path cannot be provoked");
  }
  TFormAide aide;
  aide.show();
  QVERIFY(QTest::qWaitForWindowExposed(&aide));
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  QTest::mouseClick(aide.SpeedButtonImpr(), Qt::LeftButton);
  QCOMPARE(repondeur.textes, QStringList{QStringLiteral("Pas d'imprimante.")});
  QCOMPARE(repondeur.boutons.value(0), QMessageBox::StandardButtons(QMessageBox::Ok));
  QVERIFY(aide.isVisible());
}

}  // namespace jumelix

JUMELIX_QTEST(HelpWindow_test, jumelix::HelpWindowTest);

#include "HelpWindow_test.moc"
