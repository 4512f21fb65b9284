// The "Planifier..." dialog on the offscreen platform, with a recorded systemctl: what it
// shows before, the files "Planifier" writes, the schedule read back by the next dialog,
// "Retirer", and a session without a user manager. Then the main window's menu item.
#include "gui/PlanifierDialog.h"

#include <QMenu>
#include <QTimer>
#include <QtTest>
#include <filesystem>

#include "gui/MainWindow.h"
#include "gui/RepondeurBoites.h"
#include "support/MainQtTest.h"
#include "support/SystemctlEnregistre.h"
#include "support/TempTree.h"

namespace jumelix {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Config() { return qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(); }
bool Existe(const std::string& chemin) { return std::filesystem::exists(chemin); }

}  // namespace

class PlanifierDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { std::filesystem::remove_all(Config() + "/systemd"); }

  void planifierEcritLesFichiersMontresEtRetirerLesEnleve() {
    test::TempTree t;
    const std::string liste = t.Fichier("listes/nuit.ini", "Répertoire source\nRépertoire cible\n");
    test::TSystemctlEnregistre systemctl;
    TPlanificateur p(liste, Config(), "/usr/bin/jumelix", systemctl.Executeur());
    {
      TFormPlanifier dlg(nullptr, p);
      dlg.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));
      QCOMPARE(dlg.LabelEtat()->text(), QStringLiteral("Cette liste n'est pas planifiée."));
      QVERIFY(!dlg.ButtonRetirer()->isEnabled());
      QVERIFY(!dlg.ComboJour()->isEnabled());  // daily by default
      QVERIFY(dlg.Apercu()->toPlainText().contains(QStringLiteral("OnCalendar=*-*-* 02:30:00")));

      dlg.ComboFrequence()->setCurrentIndex(1);
      QVERIFY(dlg.ComboJour()->isEnabled());
      dlg.ComboJour()->setCurrentIndex(2);
      dlg.EditHeure()->setTime(QTime(21, 15));
      const QString apercu = dlg.Apercu()->toPlainText();
      QVERIFY2(apercu.contains(QStringLiteral("OnCalendar=Wed *-*-* 21:15:00")),
               qPrintable(apercu));
      QVERIFY(apercu.contains(Q(p.Unites().horaire)));
      QVERIFY(apercu.contains(Q(p.Unites().service_liste)));
      QVERIFY(
          apercu.contains(QStringLiteral("systemctl --user enable --now ") + Q(p.Unites().timer)));

      QTest::mouseClick(dlg.ButtonPlanifier(), Qt::LeftButton);
      QVERIFY2(dlg.LabelEtat()->text().contains(QStringLiteral("chaque mercredi à 21:15")),
               qPrintable(dlg.LabelEtat()->text()));
      QVERIFY(dlg.ButtonRetirer()->isEnabled());
      // What was written is what the dialog showed.
      for (const TFichierUnite& f : p.Fichiers(dlg.Horaire())) {
        QCOMPARE(Q(test::TempTree::Lire(f.chemin)), Q(f.texte));
        QVERIFY(apercu.contains(Q(f.texte)));
      }
      QCOMPARE(systemctl.commandes.back(),
               (std::vector<std::string>{"enable", "--now", p.Unites().timer}));
    }

    // The next dialog shows the schedule in place, and takes it away.
    TFormPlanifier dlg(nullptr, p);
    QCOMPARE(dlg.ComboFrequence()->currentIndex(), 1);
    QCOMPARE(dlg.ComboJour()->currentText(), QStringLiteral("mercredi"));
    QCOMPARE(dlg.EditHeure()->time(), QTime(21, 15));
    QVERIFY2(dlg.LabelEtat()->text().startsWith(QStringLiteral("Déjà planifiée chaque mercredi")),
             qPrintable(dlg.LabelEtat()->text()));
    QVERIFY(dlg.ButtonRetirer()->isEnabled());
    QTest::mouseClick(dlg.ButtonRetirer(), Qt::LeftButton);
    QVERIFY2(dlg.LabelEtat()->text().startsWith(QStringLiteral("Planification retirée")),
             qPrintable(dlg.LabelEtat()->text()));
    QVERIFY(!dlg.ButtonRetirer()->isEnabled());
    QVERIFY(!Existe(p.Unites().horaire));
    QVERIFY(!Existe(p.Unites().service_liste));
  }

  void sansGestionnaireLeDialogueLeDitEtNEcritRien() {
    test::TempTree t;
    test::TSystemctlEnregistre systemctl;
    systemctl.etat = "offline\n";
    systemctl.erreurs_etat = "Failed to connect to bus: No medium found";
    TPlanificateur p(t.Fichier("l.ini"), Config(), "/usr/bin/jumelix", systemctl.Executeur());
    TFormPlanifier dlg(nullptr, p);
    QTest::mouseClick(dlg.ButtonPlanifier(), Qt::LeftButton);
    const QString etat = dlg.LabelEtat()->text();
    QVERIFY2(etat.startsWith(QStringLiteral("Aucun gestionnaire systemd de l'utilisateur")),
             qPrintable(etat));
    QVERIFY(etat.contains(QStringLiteral("No medium found")));
    QVERIFY(!Existe(Config() + "/systemd"));
  }

  void uneListeSansNomPossibleNeSePlanifiePas() {
    test::TSystemctlEnregistre systemctl;
    TPlanificateur p("/a/../b.ini", Config(), "/usr/bin/jumelix", systemctl.Executeur());
    TFormPlanifier dlg(nullptr, p);
    QVERIFY(!dlg.ButtonPlanifier()->isEnabled());
    QVERIFY(!dlg.ButtonRetirer()->isEnabled());
    QCOMPARE(dlg.LabelEtat()->text(), Q(p.Erreur()));
    QVERIFY(dlg.Apercu()->toPlainText().isEmpty());
  }

  // Beside the list commands; an unsaved list is saved first or nothing opens.
  void leMenuDemandeDEnregistrerPuisOuvreLeDialogue() {
    test::TempTree t;
    TFormJumelix fenetre;
    QAction* planifier = nullptr;
    QAction* precedente = nullptr;
    QMenu* menu = fenetre.MainMenu1()->actions().first()->menu();
    QVERIFY(menu != nullptr);
    for (QAction* a : menu->actions()) {
      if (a->text() == QStringLiteral("Pla&nifier...")) {
        planifier = a;
        break;
      }
      precedente = a;
    }
    QVERIFY(planifier != nullptr);
    QCOMPARE(precedente, fenetre.EnregistrerSous1());

    fenetre.Jumelix().Grille().DefinirCellule(kColSource, 1, "/a");
    fenetre.Jumelix().Grille().DefinirCellule(kColCible, 1, "/b");
    {
      TRepondeurBoites repondeur;
      repondeur.Repondre(QMessageBox::No);
      planifier->trigger();
      QCOMPARE(repondeur.textes, QStringList{Q(kTexteListeAEnregistrer)});
    }

    // Saved: the dialog opens on the list (closed here before anything runs).
    fenetre.Jumelix().OuvrirFichierListe(
        t.Fichier("l.ini", "Répertoire source\nRépertoire cible\n/a\n/b\n"), false);
    QString liste_montree;
    QTimer::singleShot(0, &fenetre, [&liste_montree] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* dlg = qobject_cast<TFormPlanifier*>(w); dlg != nullptr && dlg->isVisible()) {
          liste_montree = dlg->Apercu()->toPlainText();
          dlg->reject();
        }
      }
    });
    planifier->trigger();
    QVERIFY2(liste_montree.contains(QStringLiteral("/S \"") + Q(t / "l.ini") + "\""),
             qPrintable(liste_montree));
  }
};

}  // namespace jumelix

JUMELIX_QTEST(PlanifierDialog_test, jumelix::PlanifierDialogTest);
#include "PlanifierDialog_test.moc"
