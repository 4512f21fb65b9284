// The main window's preview, choice, selection, progress and report, driven as a user
// would over real temporary trees: the tree of planned actions, its ticks, sort and
// filter; a synchronisation that leaves out what was unticked; the commands on selected
// rows; the progress strip during a run that follows a plan; the report and its archive
// button; the log's search and save.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <cerrno>
#include <memory>

#include "app/UJumelix.h"
#include "gui/BilanVue.h"
#include "gui/MainWindow.h"
#include "gui/RepondeurBoites.h"
#include "shared/URoutines.h"
#include "support/ArbresApercu.h"
#include "support/FenetrePrincipale.h"
#include "support/MainQtTest.h"
#include "support/TempTree.h"

namespace jumelix {

namespace {

using Arbres = test::ArbresApercu;

// A new window whose grid names the two pairs of `a`, compared once; nullptr when the
// window never became active.
std::unique_ptr<TFormJumelix> FenetreComparee(const Arbres& a) {
  auto f = test::NouvelleFenetre();
  if (f == nullptr) return nullptr;
  a.Remplir(f->Jumelix().Grille());
  f->RepeindreGrille();
  f->ButtonComparer()->click();
  return f;
}

// The proxy row of the action whose path column reads `chemin`, under the pair `paire`.
QModelIndex ActionVue(TPanneauApercu* a, int paire, const QString& chemin) {
  QAbstractItemModel* m = a->Arbre()->model();
  const QModelIndex p = m->index(paire, 0);
  for (int r = 0; r < m->rowCount(p); ++r)
    if (m->index(r, TModeleApercu::kColChemin, p).data().toString() == chemin)
      return m->index(r, TModeleApercu::kColAction, p);
  return {};
}

QString Etat(TFormJumelix& f, int ligne) {
  return QString::fromStdString(f.Jumelix().Grille().Cellule(kColEtat, ligne));
}

}  // namespace

class ApercuTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { CompteRendu().ViderCompteRendu(); }

  void comparerRemplitLApercuParPaire();
  void trierEtFiltrerLesActions();
  void decocherUneSuppressionLaLaisseEnPlace();
  void lesCommandesDeLaSelection();
  void pendantUnRunLeTotalEtLeTempsRestant();
  void rechercherEtEnregistrerLeJournal();
  void deuxCentMilleActionsRestentFluides();
  void leBilanMontreChaqueErreurAvecSaCause();
};

void ApercuTest::comparerRemplitLApercuParPaire() {
  Arbres a;
  auto f = FenetreComparee(a);
  QVERIFY(f);
  TVoletsRun* v = f->Volets();
  QCOMPARE(v->Onglets()->currentIndex(), int(TVoletsRun::kOngletApercu));
  QAbstractItemModel* m = v->Apercu()->Arbre()->model();
  QCOMPARE(m->rowCount(), 2);
  const QModelIndex p1 = m->index(0, 0);
  QVERIFY(m->data(p1).toString().startsWith(QStringLiteral("Ligne 1 : ")));
  QCOMPARE(m->rowCount(p1), 4);  // neuf.txt, change.txt, trop.txt, dossier (its files in it)
  QVERIFY(m->data(p1).toString().endsWith(
      QStringLiteral(" — 2 à créer, 1 à remplacer, 1 à supprimer · 34 octets à copier")));
  const QModelIndex dossier = ActionVue(v->Apercu(), 0, QStringLiteral("dossier"));
  QVERIFY(dossier.isValid());
  QCOMPARE(dossier.data().toString(), QStringLiteral("Créer"));
  QCOMPARE(dossier.siblingAtColumn(TModeleApercu::kColTaille).data().toString(),
           QStringLiteral("2 élément(s), 3 octets"));
  QCOMPARE(dossier.siblingAtColumn(TModeleApercu::kColGenre).data().toString(),
           QStringLiteral("Dossier"));
  // The log keeps its lines; the counts in "Etat" keep their rule.
  QVERIFY(f->MemoLog()->toPlainText().contains(
      QString::fromStdString(a.D1 + "/dossier ==> Répertoire inexistant")));
  QCOMPARE(Etat(*f, 1), QStringLiteral("5 erreur(s)"));
  QVERIFY(v->Apercu()->Totaux()->text().startsWith(QStringLiteral("Total : 3 à créer")));
  // A change of the rows drops the preview.
  f->ButtonAjouterLigne()->click();
  QCOMPARE(m->rowCount(), 0);
  QVERIFY(v->Apercu()->Totaux()->text().startsWith(QStringLiteral("Pas d'aperçu")));
}

void ApercuTest::trierEtFiltrerLesActions() {
  Arbres a;
  a.t.Fichier("d1/autre-trop", "");
  auto f = FenetreComparee(a);
  QVERIFY(f);
  TPanneauApercu* ap = f->Volets()->Apercu();
  QAbstractItemModel* m = ap->Arbre()->model();
  const QModelIndex p1 = m->index(0, 0);
  // Only the deletions.
  ap->ChoixFiltre()->setCurrentIndex(ap->ChoixFiltre()->findText(QStringLiteral("Suppressions")));
  QCOMPARE(m->rowCount(p1), 2);
  QCOMPARE(m->rowCount(m->index(1, 0)), 0);
  QCOMPARE(m->rowCount(), 2);  // the pairs stay
  ap->ChoixFiltre()->setCurrentIndex(0);
  QCOMPARE(m->rowCount(p1), 5);
  // By size, largest first: the replaced file (27 bytes) leads; deletions have none.
  ap->Arbre()->sortByColumn(TModeleApercu::kColTaille, Qt::DescendingOrder);
  QCOMPARE(m->index(0, TModeleApercu::kColChemin, p1).data().toString(),
           QStringLiteral("change.txt"));
  ap->Arbre()->sortByColumn(TModeleApercu::kColChemin, Qt::AscendingOrder);
  QCOMPARE(m->index(0, TModeleApercu::kColChemin, p1).data().toString(),
           QStringLiteral("autre-trop"));
}

void ApercuTest::decocherUneSuppressionLaLaisseEnPlace() {
  Arbres a;
  auto f = FenetreComparee(a);
  QVERIFY(f);
  TVoletsRun* v = f->Volets();
  QAbstractItemModel* m = v->Apercu()->Arbre()->model();
  const QModelIndex trop = ActionVue(v->Apercu(), 0, QStringLiteral("trop.txt"));
  QVERIFY(trop.isValid());
  QVERIFY(m->setData(trop, Qt::Unchecked, Qt::CheckStateRole));
  QCOMPARE(m->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
  QVERIFY(v->Apercu()->Totaux()->text().endsWith(QStringLiteral("1 laissé(s) de côté")));
  QCOMPARE(f->Jumelix().Plan().NbLaisses(), size_t{1});

  std::string archive;
  v->Bilan()->DefinirOuvrirDossier([&](const std::string& d) { archive = d; });
  InstallerJoursArchive([] { return 30; });
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  f->ButtonSynchroniser()->click();
  InstallerJoursArchive({});
  QCOMPARE(repondeur.textes.size(), 1);
  QVERIFY2(repondeur.textes[0].contains(QStringLiteral("en laissant de côté 1 élément(s)")),
           qPrintable(repondeur.textes[0]));
  QVERIFY(test::TempTree::Existe(a.D1 + "/trop.txt"));
  QCOMPARE(QString::fromStdString(test::TempTree::Lire(a.D1 + "/change.txt")),
           QStringLiteral("version source, plus longue"));
  QCOMPARE(Etat(*f, 1), QStringLiteral("="));
  // The report: per pair, what was done, and the archive of the first.
  QCOMPARE(v->Onglets()->currentIndex(), int(TVoletsRun::kOngletBilan));
  QTableWidget* t = v->Bilan()->Table();
  QCOMPARE(t->rowCount(), 2);
  QCOMPARE(t->item(0, TPanneauBilan::kColCopies)->text(), QStringLiteral("3"));
  QCOMPARE(t->item(0, TPanneauBilan::kColRemplaces)->text(), QStringLiteral("1"));
  QCOMPARE(t->item(0, TPanneauBilan::kColSupprimes)->text(), QStringLiteral("0"));
  QCOMPARE(t->item(0, TPanneauBilan::kColArchives)->text(), QStringLiteral("1"));
  QCOMPARE(t->item(0, TPanneauBilan::kColErreurs)->text(), QStringLiteral("0"));
  QCOMPARE(t->item(1, TPanneauBilan::kColCopies)->text(), QStringLiteral("1"));
  QVERIFY(v->Bilan()->BoutonArchive()->isEnabled());
  v->Bilan()->BoutonArchive()->click();
  QVERIFY2(archive.rfind(a.D1 + "/.jumelix-archive/", 0) == 0, archive.c_str());
  t->selectRow(1);
  QVERIFY(!v->Bilan()->BoutonArchive()->isEnabled());  // nothing of the second went there
  // The plan is spent.
  QCOMPARE(m->rowCount(), 0);
}

void ApercuTest::lesCommandesDeLaSelection() {
  Arbres a;
  auto f = FenetreComparee(a);
  QVERIFY(f);
  TVoletsRun* v = f->Volets();
  QCOMPARE(Etat(*f, 2), QStringLiteral("1 erreur(s)"));
  // Row 2 chosen in the grid: only it runs, and only its state starts again.
  TStringGrid* g = f->StringGrid1();
  g->setCurrentIndex(g->model()->index(1, 0));
  g->selectionModel()->select(g->model()->index(1, 0), QItemSelectionModel::ClearAndSelect);
  QCOMPARE(v->LignesSelectionnees(), std::vector<int>{2});
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  v->SynchroniserSelection()->trigger();
  QCOMPARE(repondeur.titres, QStringList{QStringLiteral("Synchronisation des répertoires")});
  QCOMPARE(Etat(*f, 1), QStringLiteral("5 erreur(s)"));
  QCOMPARE(Etat(*f, 2), QStringLiteral("="));
  QVERIFY(!test::TempTree::Existe(a.D1 + "/neuf.txt"));
  // The grid's context menu offers both commands; they wait while a run is under way.
  QVERIFY(g->contextMenuPolicy() == Qt::CustomContextMenu);
  QVERIFY(f->MainMenu1()->actions()[0]->menu()->actions().contains(v->ComparerSelection()));
  bool actif_pendant = true;
  QObject::connect(f->Modele(), &QAbstractItemModel::dataChanged, f.get(), [&] {
    if (f->Jumelix().EnCours()) actif_pendant = v->ComparerSelection()->isEnabled();
  });
  v->ComparerSelection()->trigger();
  QVERIFY(!actif_pendant);
  QCOMPARE(Etat(*f, 1), QStringLiteral("5 erreur(s)"));
  QCOMPARE(Etat(*f, 2), QStringLiteral("="));
  QVERIFY(v->ComparerSelection()->isEnabled());
}

void ApercuTest::pendantUnRunLeTotalEtLeTempsRestant() {
  Arbres a;
  // Enough files that the strip is seen during the walk.
  for (int i = 0; i < 300; ++i) a.t.Fichier("s2/f" + std::to_string(i), std::string(1000, 'x'));
  auto f = FenetreComparee(a);
  QVERIFY(f);
  QString vu;
  int maximum = -1;
  QObject::connect(f->Modele(), &QAbstractItemModel::dataChanged, f.get(), [&] {
    if (f->Jumelix().LigneEnCours() != 2 || !vu.isEmpty()) return;
    vu = f->LabelVolume()->text();
    maximum = f->BarreProgression()->maximum();
  });
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  f->ButtonSynchroniser()->click();
  // The totals come from the plan: 6 changes of the first pair are done, of 307.
  QVERIFY2(vu.startsWith(QStringLiteral("6 / 307 éléments · ")), qPrintable(vu));
  QVERIFY2(vu.contains(QStringLiteral(" / 300,0 ko")), qPrintable(vu));
  QCOMPARE(maximum, 1000);  // the bar follows the pair
  // Without a plan the count says it knows no total.
  vu.clear();
  a.t.Fichier("s2/g", "g");
  repondeur.Repondre(QMessageBox::Ok);
  f->ButtonSynchroniser()->click();
  QVERIFY2(vu.contains(QStringLiteral("(total inconnu)")), qPrintable(vu));
}

void ApercuTest::rechercherEtEnregistrerLeJournal() {
  Arbres a;
  auto f = FenetreComparee(a);
  QVERIFY(f);
  TVoletsRun* v = f->Volets();
  QVERIFY(!v->BarreRecherche()->isVisible());
  QTest::keyClick(f.get(), Qt::Key_F, Qt::ControlModifier);
  QCOMPARE(v->Onglets()->currentIndex(), int(TVoletsRun::kOngletJournal));
  QVERIFY(v->BarreRecherche()->isVisible());
  QTest::keyClicks(v->Recherche(), QStringLiteral("trop.txt"));
  QTest::keyClick(v->Recherche(), Qt::Key_Return);
  QVERIFY(v->ResultatRecherche()->text().startsWith(QStringLiteral("Ligne ")));
  QCOMPARE(f->MemoLog()->textCursor().selectedText(), QStringLiteral("trop.txt"));
  v->Recherche()->setText(QStringLiteral("introuvable ici"));
  QTest::keyClick(v->Recherche(), Qt::Key_Return);
  QCOMPARE(v->ResultatRecherche()->text(), QStringLiteral("Introuvable"));
  // Escape closes the bar, not the window.
  QTest::keyClick(v->Recherche(), Qt::Key_Escape);
  QVERIFY(!v->BarreRecherche()->isVisible());
  QVERIFY(f->isVisible());
  // Saved as shown.
  const QString fichier = QString::fromStdString(a.t.Racine() + "/journal.txt");
  TRepondeurBoites repondeur;
  repondeur.RepondreFichier(fichier);
  v->EnregistrerJournalAction()->trigger();
  QFile lu(fichier);
  QVERIFY(lu.open(QIODevice::ReadOnly));
  QCOMPARE(QString::fromUtf8(lu.readAll()), f->MemoLog()->toPlainText() + QLatin1Char('\n'));
}

void ApercuTest::deuxCentMilleActionsRestentFluides() {
  auto f = test::NouvelleFenetre();
  QVERIFY(f);
  // A plan as a comparison of a large tree makes it: 200 000 actions in one pair.
  TPlanApercu& plan = f->Jumelix().Plan();
  plan.AjouterPaire("/source", "/cible", 1);
  for (int i = 0; i < 200000; ++i) {
    TAction a;
    a.type = i % 10 == 0 ? TypeAction::Suppression : TypeAction::Creation;
    a.chemin = "/cible/d" + std::to_string(i % 97) + "-f" + std::to_string(i);
    a.octets = i % 10 == 0 ? 0 : i;
    a.secondes = 1700000000 + i;
    plan.Ajouter(a);
  }
  TPanneauApercu* ap = f->Volets()->Apercu();
  QAbstractItemModel* m = ap->Arbre()->model();
  // An action costs no more than a constant: a quadratic step here would take minutes.
  QElapsedTimer chrono;
  chrono.start();
  ap->Recharger();
  f->Volets()->Onglets()->setCurrentIndex(TVoletsRun::kOngletApercu);
  QApplication::processEvents();
  QCOMPARE(m->rowCount(m->index(0, 0)), 200000);
  ap->Arbre()->sortByColumn(TModeleApercu::kColTaille, Qt::DescendingOrder);
  QCOMPARE(m->index(0, TModeleApercu::kColChemin, m->index(0, 0)).data().toString(),
           QStringLiteral("d82-f199999"));
  QVERIFY(m->setData(m->index(0, 0, m->index(0, 0)), Qt::Unchecked, Qt::CheckStateRole));
  ap->ChoixFiltre()->setCurrentIndex(ap->ChoixFiltre()->findText(QStringLiteral("Suppressions")));
  QCOMPARE(m->rowCount(m->index(0, 0)), 20000);
  QApplication::processEvents();
  QCOMPARE(plan.NbLaisses(), size_t{1});
  QVERIFY2(chrono.elapsed() < 20000, qPrintable(QString::number(chrono.elapsed())));
}

void ApercuTest::leBilanMontreChaqueErreurAvecSaCause() {
  TPanneauBilan bilan;
  TBilanCouple c;
  c.traite = true;
  c.lignes = {"Impossible de créer /d/rep"};
  c.causes = {EACCES};
  bilan.Afficher({c}, false);
  QTableWidgetItem* erreurs = bilan.Table()->item(0, TPanneauBilan::kColErreurs);
  QCOMPARE(erreurs->text(), QStringLiteral("1"));
  QVERIFY2(erreurs->toolTip().startsWith(QStringLiteral("Impossible de créer /d/rep : ")) &&
               erreurs->toolTip().endsWith(QStringLiteral(" (EACCES)")),
           qPrintable(erreurs->toolTip()));
}

}  // namespace jumelix

JUMELIX_QTEST(Apercu_test, jumelix::ApercuTest);

#include "Apercu_test.moc"
