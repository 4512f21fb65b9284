// The main window driven as a user would: buttons, menu, keys in the grid, runs over real
// temporary trees, stopping a run, the close query and the resize rule.
#include "gui/MainWindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QScreen>
#include <QMimeData>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "shared/URoutines.h"
#include "gui/RepondeurBoites.h"
#include "gui/HelpWindow.h"
#include "support/FenetrePrincipale.h"
#include "support/MainQtTest.h"
#include "support/TempTree.h"

namespace jumelix {

namespace {

using test::NouvelleFenetre;

QString Cellule(TFormJumelix& f, int colonne, int ligne) {
  return QString::fromStdString(f.Jumelix().Grille().Cellule(colonne, ligne));
}

// The lines of the log area.
QStringList LignesLog(TFormJumelix& f) {
  return f.MemoLog()->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The cell editor open in the grid, or the grid itself when none is open.
QWidget* Editeur(TStringGrid* g) {
  QWidget* e = g->EditeurOuvert() ? g->indexWidget(g->currentIndex()) : nullptr;
  return e != nullptr ? e : g;
}

// Enter in a cell editor: the edit ends once the events queued by the key are processed.
void ValiderSaisie(QWidget* editeur) {
  QTest::keyClick(editeur, Qt::Key_Return);
  QCoreApplication::processEvents();
}

// Types `texte` into the grid cell (colonne, ligne) the way a user does: select the cell,
// type (the first key opens the editor), press Enter. An empty text empties the cell.
void Taper(TFormJumelix& f, int colonne, int ligne, const QString& texte) {
  TStringGrid* g = f.StringGrid1();
  g->setCurrentIndex(g->model()->index(ligne - 1, colonne));
  g->setFocus();
  QTest::keyClick(g, Qt::Key_F2);
  QWidget* editeur = Editeur(g);
  QTest::keyClick(editeur, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(editeur, Qt::Key_Delete);
  QTest::keyClicks(editeur, texte);
  ValiderSaisie(editeur);
}

// The letter that Alt+letter reaches in a caption ("&Comparer": c), or none.
QChar Lettre(const QString& legende) {
  const qsizetype i = legende.indexOf(QLatin1Char('&'));
  return i >= 0 && i + 1 < legende.size() ? legende.at(i + 1).toLower() : QChar();
}

// Source and destination of `n` files, the destination empty: a compare reports n lines.
struct Paire {
  std::string source;
  std::string cible;
};
Paire PaireDifferente(test::TempTree& arbre, const std::string& nom, int n) {
  Paire p{arbre.Repertoire(nom + "/src"), arbre.Repertoire(nom + "/dst")};
  for (int i = 0; i < n; ++i) arbre.Fichier(nom + "/src/f" + std::to_string(i), "x");
  return p;
}
Paire PaireIdentique(test::TempTree& arbre, const std::string& nom) {
  Paire p{arbre.Repertoire(nom + "/src"), arbre.Repertoire(nom + "/dst")};
  for (const char* cote : {"/src/a.txt", "/dst/a.txt"}) {
    arbre.Fichier(nom + cote, "meme contenu");
    arbre.DateModif(nom + cote, 1700000000);
  }
  return p;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { CompteRendu().ViderCompteRendu(); }

  void laFenetreOuvreAvecUneLigneATraiter();
  void leMenuOffreToutesLesCommandes();
  void laRegleDeRedimensionnement();
  void leSplitterChangeLaHauteurDeLaGrille();
  void laSaisieEnPlaceRemetLEtat();
  void ajouterSupprimerInsererViderLesLignes();
  void lesFlechesSuiventLeClavierDeLaGrille();
  void lEtatNeDevientJamaisCourant();
  void parcourirRemplitLaCelluleCourante();
  void comparerMontreEgalEtErreurs();
  void synchroniserDemandeConfirmation();
  void abandonnerArreteLeRun_data();
  void abandonnerArreteLeRun();
  void pendantUnRunLaGrilleEstEnLectureSeule();
  void fermerPendantUnRunAttendSaFin();
  void laQuestionDeFermeture_data();
  void laQuestionDeFermeture();
  void lireUnFichierListeAgranditLaFenetre();
  void aideEtAPropos();
  void pendantUnRunLaProgressionSAffiche();
  void deposerDesRepertoiresEtUneListe();
  void unFichierDeposeQuiNEstPasUneListeEstRefuse();
  void unCheminRelatifEstRefuse();
  void leClavierAtteintChaqueCommande();
  void apresUnRunLeFocusRevientALaGrille();
  void lesDialoguesOuvrentSurLaListeOuLaMaison();
  void lesCheminsLongsSontElidesAvecInfobulle();
  void laFenetreRetientSaTailleDansLEtat();
};

void MainWindowTest::laFenetreOuvreAvecUneLigneATraiter() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QCOMPARE(f->windowTitle(), QStringLiteral("Synchronisation de répertoires"));
  QAbstractItemModel* m = f->StringGrid1()->model();
  QCOMPARE(m->rowCount(), 1);
  QCOMPARE(m->columnCount(), 3);
  QCOMPARE(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Répertoire source"));
  QCOMPARE(m->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Répertoire cible"));
  QCOMPARE(m->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Etat"));
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));
  QCOMPARE(f->StringGrid1()->currentIndex(), m->index(0, 0));
  QCOMPARE(f->ButtonFermer()->text(), QStringLiteral("Fermer"));

  const QList<std::pair<QPushButton*, QRect>> boutons = {
      {f->ButtonAjouterLigne(), QRect(4, 8, 89, 25)},
      {f->ButtonSupprimerLigne(), QRect(100, 8, 81, 25)},
      {f->ButtonParcourir(), QRect(184, 8, 85, 25)},
      {f->ButtonComparer(), QRect(272, 8, 85, 25)},
      {f->ButtonSynchroniser(), QRect(360, 8, 85, 25)},
      {f->ButtonFermer(), QRect(448, 8, 85, 25)},
      {f->ButtonAide(), QRect(536, 8, 85, 25)}};
  for (const auto& [bouton, place] : boutons) QCOMPARE(bouton->geometry(), place);

  // The status bar: five panels on one line, the first one with the credit text, elided
  // to its width with the whole text as tooltip; the others as wide as their texts.
  QCOMPARE(f->StatusBar1()->height(), 19);
  QCOMPARE(f->Panneau(0)->TexteComplet().toStdString(), f->TexteCredit());
  QVERIFY(!f->Panneau(0)->text().contains(QLatin1Char('\n')));
  QVERIFY(f->Panneau(0)->fontMetrics().horizontalAdvance(f->Panneau(0)->text()) <=
          f->LargeurPanneau(0));
  if (f->Panneau(0)->text() != f->Panneau(0)->TexteComplet())
    QCOMPARE(f->Panneau(0)->toolTip(), f->Panneau(0)->TexteComplet());
  for (int i = 1; i < 5; ++i) {
    f->DefinirPanneau(i, "Identiques : 123456");
    QVERIFY(f->Panneau(i)->fontMetrics().horizontalAdvance(f->Panneau(i)->text()) <=
            f->LargeurPanneau(i));
  }
  QVERIFY(!f->BandeAvancement()->isVisible());
  // An empty list says what to do; a list with a row does not.
  QVERIFY(f->StringGrid1()->IndicationAffichee().contains(QStringLiteral("déposez")));
  Taper(*f, 0, 1, QStringLiteral("/a"));
  QVERIFY(f->StringGrid1()->IndicationAffichee().isEmpty());
  QVERIFY(f->MemoLog()->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn);
  QVERIFY(f->MemoLog()->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn);
}

void MainWindowTest::leMenuOffreToutesLesCommandes() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  const QList<QAction*> menus = f->MainMenu1()->actions();
  QCOMPARE(menus.size(), 2);
  QCOMPARE(menus[0]->text(), QStringLiteral("&Action"));
  QCOMPARE(menus[1]->text(), QStringLiteral("A&ide"));
  QStringList action;
  for (QAction* a : menus[0]->menu()->actions()) {
    action << (a->isSeparator() ? QStringLiteral("-") : a->text());
  }
  // Every item has a letter of its own in its menu.
  QCOMPARE(action, (QStringList{"&Annuler",
                                "-",
                                "A&jouter une ligne",
                                "&Supprimer la ligne en cours",
                                "&Parcourir...",
                                "Supprimer &toutes les lignes",
                                "-",
                                "&Comparer",
                                "S&ynchroniser",
                                "Comparer la sélectio&n",
                                "Synchroniser la sélect&ion",
                                "-",
                                "Rec&hercher dans le journal...",
                                "Enre&gistrer le journal...",
                                "-",
                                "&Lire un fichier liste...",
                                "Listes &récentes",
                                "&Enregistrer",
                                "Enregistrer so&us...",
                                "Pla&nifier...",
                                "-",
                                "Compte-rendu par &mail...",
                                "&Options...",
                                "E&xclusions...",
                                "-",
                                "&Quitter"}));
  // The usual keys, shown beside the items.
  const QList<std::pair<QAction*, QKeySequence>> touches = {
      {f->Comparer1(), QKeySequence(Qt::Key_F5)},
      {f->Synchroniser1(), QKeySequence(Qt::Key_F6)},
      {f->Annuler1(), QKeySequence(Qt::CTRL | Qt::Key_Z)},
      {f->Lireunfichierliste1(), QKeySequence(Qt::CTRL | Qt::Key_O)},
      {f->Enregistrerlefichierliste1(), QKeySequence(Qt::CTRL | Qt::Key_S)},
      {f->EnregistrerSous1(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
      {f->Quitter1(), QKeySequence(Qt::CTRL | Qt::Key_Q)},
      {f->Aide2(), QKeySequence(Qt::Key_F1)}};
  for (const auto& [a, t] : touches) QCOMPARE(a->shortcut(), t);
  QVERIFY(!f->ListesRecentes1()->isEnabled());  // nothing opened yet
  QStringList aide;
  for (QAction* a : menus[1]->menu()->actions()) aide << a->text();
  QCOMPARE(aide, (QStringList{"&Aide", "A &propos"}));

  // Without a mail dialog the item stays disabled; with one it opens it.
  QVERIFY(!f->Compterenduparmail1()->isEnabled());
  int ouvertures = 0;
  f->DefinirFormMail([&ouvertures] { ++ouvertures; });
  QVERIFY(f->Compterenduparmail1()->isEnabled());
  f->Compterenduparmail1()->trigger();
  QCOMPARE(ouvertures, 1);
  QVERIFY(!f->Options1()->isEnabled());
  f->DefinirFormOptions([&ouvertures] { ouvertures += 10; });
  QVERIFY(f->Options1()->isEnabled());
  f->Options1()->trigger();
  QCOMPARE(ouvertures, 11);

  // "Enregistrer" without a current list asks where, like "Enregistrer sous..."; Ctrl+S
  // from the grid; cancelled: nothing changes, nothing is shown.
  TRepondeurBoites repondeur;
  repondeur.RepondreFichier(QString());
  f->StringGrid1()->setFocus();
  QTest::keyClick(f->StringGrid1(), Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(repondeur.filtres_dialogues.size(), 1);
  QVERIFY(repondeur.filtres_dialogues[0].startsWith(QStringLiteral("Fichiers ini (")));
  QVERIFY(repondeur.textes.isEmpty());
}

void MainWindowTest::laRegleDeRedimensionnement() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  TStringGrid* g = f->StringGrid1();
  QHeaderView* h = g->horizontalHeader();
  auto colonnesTiennent = [&] {
    return h->sectionViewportPosition(2) + h->sectionSize(2) <= g->viewport()->width() &&
           h->sectionSize(2) >= 80;
  };
  QCOMPARE(g->width(), f->width());
  QVERIFY(colonnesTiennent());
  QVERIFY(qAbs(h->sectionSize(0) - h->sectionSize(1)) <= 1);  // half and half at first
  // Wider: both path columns share the room, in the same proportion.
  f->resize(1000, f->height());
  QCOMPARE(g->width(), 1000);
  QVERIFY(colonnesTiennent());
  QVERIFY(qAbs(h->sectionSize(0) - h->sectionSize(1)) <= 1);
  // The user widens the source column far: "Etat" stays in view, and the new proportion
  // is kept when the window changes size.
  h->resizeSection(0, 2000);
  QVERIFY(colonnesTiennent());
  h->resizeSection(0, 600);
  const double part = double(h->sectionSize(0)) / (h->sectionSize(0) + h->sectionSize(1));
  f->resize(800, f->height());
  QVERIFY(colonnesTiennent());
  QVERIFY(qAbs(double(h->sectionSize(0)) / (h->sectionSize(0) + h->sectionSize(1)) - part) < 0.02);
  // A long state text widens "Etat" rather than being cut.
  f->Jumelix().Grille().DefinirCellule(2, 1, "12 erreur(s), abandonné");
  QVERIFY(h->sectionSize(2) >= g->fontMetrics().horizontalAdvance("12 erreur(s), abandonné"));
  QVERIFY(colonnesTiennent());
}

void MainWindowTest::leSplitterChangeLaHauteurDeLaGrille() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QSplitter* s = f->Splitter1();
  const int grille = f->StringGrid1()->height();
  QCOMPARE(s->sizes().value(0), 109);
  QVERIFY(f->StringGrid1()->geometry().bottom() < f->ButtonComparer()->mapTo(f.get(), QPoint()).y());
  // Dragging the handle gives the grid 20 more pixels, taken from the log area.
  const int memo = f->MemoLog()->height();
  QSplitterHandle* poignee = s->handle(1);
  QTest::mousePress(poignee, Qt::LeftButton, {}, QPoint(10, 1));
  QMouseEvent glisse(QEvent::MouseMove, QPointF(10, 21), poignee->mapToGlobal(QPointF(10, 21)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(poignee, &glisse);
  QTest::mouseRelease(poignee, Qt::LeftButton, {}, QPoint(10, 21));
  QCOMPARE(f->StringGrid1()->height(), grille + 20);
  QCOMPARE(f->MemoLog()->height(), memo - 20);
  // A taller window: the grid grows with it (and the log area too).
  const int avant = f->StringGrid1()->height();
  f->resize(f->width(), f->height() + 300);
  QVERIFY2(f->StringGrid1()->height() >= avant + 150, qPrintable(QString::number(f->StringGrid1()->height())));
  QVERIFY(f->MemoLog()->height() > memo - 20);
  QCOMPARE(f->StatusBar1()->geometry().bottom(), f->height() - 1);
}

void MainWindowTest::laSaisieEnPlaceRemetLEtat() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  f->Jumelix().Grille().DefinirCellule(2, 1, "=");
  TStringGrid* g = f->StringGrid1();
  g->setCurrentIndex(g->model()->index(0, 1));
  g->setFocus();
  QTest::keyClick(g, '/');
  QVERIFY(g->EditeurOuvert());
  // The first keystroke already resets the state; the editor keeps its caret.
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));
  QWidget* editeur = Editeur(g);
  QTest::keyClicks(editeur, QStringLiteral("bc"));
  QTest::keyClick(editeur, Qt::Key_Left);
  QTest::keyClick(editeur, Qt::Key_X);
  QCOMPARE(Cellule(*f, 1, 1), QStringLiteral("/bxc"));
  ValiderSaisie(editeur);
  QVERIFY(!g->EditeurOuvert());
  QCOMPARE(Cellule(*f, 1, 1), QStringLiteral("/bxc"));
  QVERIFY(f->Jumelix().Grille().GrilleModifiee());

  // Emptying the row's cells empties its state.
  Taper(*f, 1, 1, QString());
  g->setCurrentIndex(g->model()->index(0, 1));
  QTest::keyClick(g, Qt::Key_F2);
  editeur = Editeur(g);
  QTest::keyClick(editeur, Qt::Key_End);
  for (int i = 0; i < 4; ++i) QTest::keyClick(editeur, Qt::Key_Backspace);
  ValiderSaisie(editeur);
  QCOMPARE(Cellule(*f, 1, 1), QString());
  QCOMPARE(Cellule(*f, 2, 1), QString());
}

void MainWindowTest::ajouterSupprimerInsererViderLesLignes() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QAbstractItemModel* m = f->StringGrid1()->model();
  // A blank last row is reused.
  QTest::mouseClick(f->ButtonAjouterLigne(), Qt::LeftButton);
  QCOMPARE(m->rowCount(), 1);
  Taper(*f, 0, 1, QStringLiteral("/a"));
  QTest::mouseClick(f->ButtonAjouterLigne(), Qt::LeftButton);
  QCOMPARE(m->rowCount(), 2);
  QCOMPARE(f->StringGrid1()->currentIndex(), m->index(1, 0));
  QVERIFY(f->StringGrid1()->hasFocus());
  Taper(*f, 0, 2, QStringLiteral("/b"));
  f->Ajouteruneligne2()->trigger();
  QCOMPARE(m->rowCount(), 3);
  Taper(*f, 0, 3, QStringLiteral("/c"));

  // Insert on row 2: a blank row there, the others move down.
  f->StringGrid1()->setCurrentIndex(m->index(1, 0));
  QTest::keyClick(f->StringGrid1(), Qt::Key_Insert);
  QCOMPARE(m->rowCount(), 4);
  QCOMPARE(Cellule(*f, 0, 1), QStringLiteral("/a"));
  QCOMPARE(Cellule(*f, 0, 2), QString());
  QCOMPARE(Cellule(*f, 0, 3), QStringLiteral("/b"));
  QCOMPARE(Cellule(*f, 0, 4), QStringLiteral("/c"));
  QCOMPARE(f->StringGrid1()->currentIndex(), m->index(1, 0));

  // Insert with an editor open inserts too.
  f->StringGrid1()->setCurrentIndex(m->index(0, 0));
  QTest::keyClick(f->StringGrid1(), Qt::Key_F2);
  QTest::keyClick(Editeur(f->StringGrid1()), Qt::Key_Insert);
  QCOMPARE(m->rowCount(), 5);
  QCOMPARE(Cellule(*f, 0, 1), QString());
  QCOMPARE(Cellule(*f, 0, 2), QStringLiteral("/a"));

  // Delete the current row, by button and by menu.
  f->StringGrid1()->setCurrentIndex(m->index(0, 0));
  QTest::mouseClick(f->ButtonSupprimerLigne(), Qt::LeftButton);
  QCOMPARE(m->rowCount(), 4);
  QCOMPARE(Cellule(*f, 0, 1), QStringLiteral("/a"));
  f->StringGrid1()->setCurrentIndex(m->index(1, 0));
  f->Supprimerlaligneencours1()->trigger();
  QCOMPARE(m->rowCount(), 3);
  QCOMPARE(Cellule(*f, 0, 2), QStringLiteral("/b"));

  // Delete all, after a confirmation: one blank row is left, whatever the rows held.
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Cancel);
  f->SupprimerToutesLesLignes()->trigger();
  QCOMPARE(repondeur.textes.value(0), QString::fromUtf8(kTexteSupprimerTout));
  QCOMPARE(m->rowCount(), 3);
  repondeur.Repondre(QMessageBox::Ok);
  f->SupprimerToutesLesLignes()->trigger();
  QCOMPARE(m->rowCount(), 1);
  QCOMPARE(Cellule(*f, 0, 1), QString());
  QCOMPARE(f->StringGrid1()->currentIndex().row(), 0);
  // Ctrl+Z gives the rows back, one operation at a time.
  QVERIFY(f->Annuler1()->isEnabled());
  f->activateWindow();  // the message box had it
  QVERIFY(QTest::qWaitForWindowActive(f.get()));
  f->StringGrid1()->setFocus();
  QTest::keyClick(f->StringGrid1(), Qt::Key_Z, Qt::ControlModifier);
  QCOMPARE(m->rowCount(), 3);
  QCOMPARE(Cellule(*f, 0, 2), QStringLiteral("/b"));
  QTest::keyClick(f->StringGrid1(), Qt::Key_Z, Qt::ControlModifier);
  QCOMPARE(m->rowCount(), 4);  // the row deleted from the menu, blank, is back
  QCOMPARE(Cellule(*f, 0, 2), QString());
  QCOMPARE(Cellule(*f, 0, 3), QStringLiteral("/b"));
}

void MainWindowTest::lesFlechesSuiventLeClavierDeLaGrille() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  TStringGrid* g = f->StringGrid1();
  QAbstractItemModel* m = g->model();
  // Down on a blank last row: nothing.
  g->setCurrentIndex(m->index(0, 0));
  QTest::keyClick(g, Qt::Key_Down);
  QCOMPARE(m->rowCount(), 1);
  QCOMPARE(g->currentIndex(), m->index(0, 0));
  // Right on a blank last row, column 1: column 0 of the same row.
  QTest::keyClick(g, Qt::Key_Right);
  QCOMPARE(g->currentIndex(), m->index(0, 1));
  QTest::keyClick(g, Qt::Key_Right);
  QCOMPARE(g->currentIndex(), m->index(0, 0));
  QCOMPARE(m->rowCount(), 1);

  Taper(*f, 0, 1, QStringLiteral("/src"));
  Taper(*f, 1, 1, QStringLiteral("/dst"));
  // Right in column 1 of a filled last row: a new row, column 0.
  g->setCurrentIndex(m->index(0, 1));
  QTest::keyClick(g, Qt::Key_Right);
  QCOMPARE(m->rowCount(), 2);
  QCOMPARE(g->currentIndex(), m->index(1, 0));
  // Down on the filled first row moves to the next row; on the last, filled, row it adds.
  Taper(*f, 0, 2, QStringLiteral("/x"));
  g->setCurrentIndex(m->index(0, 0));
  QTest::keyClick(g, Qt::Key_Down);
  QCOMPARE(g->currentIndex(), m->index(1, 0));
  QTest::keyClick(g, Qt::Key_Down);
  QCOMPARE(m->rowCount(), 3);
  QCOMPARE(g->currentIndex(), m->index(2, 0));

  // Right with an editor open moves the caret, not the cell.
  g->setCurrentIndex(m->index(0, 0));
  QTest::keyClick(g, Qt::Key_F2);
  QWidget* editeur = Editeur(g);
  QTest::keyClick(editeur, Qt::Key_Home);
  QTest::keyClick(editeur, Qt::Key_Right);
  QCOMPARE(g->currentIndex(), m->index(0, 0));
  QVERIFY(g->EditeurOuvert());
  QTest::keyClick(editeur, Qt::Key_Escape);
  QVERIFY(f->isVisible());  // Escape in an editor cancels the edit, not the window
}

void MainWindowTest::lEtatNeDevientJamaisCourant() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  TStringGrid* g = f->StringGrid1();
  QAbstractItemModel* m = g->model();
  g->setCurrentIndex(m->index(0, 1));
  const QRect etat = g->visualRect(m->index(0, 2));
  QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, etat.center());
  QCOMPARE(g->currentIndex(), m->index(0, 1));
  QCOMPARE(f->Jumelix().Grille().ColonneCourante(), 1);
  QTest::mouseDClick(g->viewport(), Qt::LeftButton, {}, etat.center());
  QVERIFY(!g->EditeurOuvert());
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));
  // A click on an ordinary cell moves the logic's current cell too.
  Taper(*f, 0, 1, QStringLiteral("/a"));
  f->Ajouteruneligne2()->trigger();
  QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(m->index(0, 1)).center());
  QCOMPARE(f->Jumelix().Grille().LigneCourante(), 1);
  QCOMPARE(f->Jumelix().Grille().ColonneCourante(), 1);
}

void MainWindowTest::parcourirRemplitLaCelluleCourante() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const std::string rep = arbre.Repertoire("choisi");
  Taper(*f, 0, 1, QStringLiteral("/source"));
  QAbstractItemModel* m = f->StringGrid1()->model();
  f->StringGrid1()->setCurrentIndex(m->index(0, 1));
  f->Jumelix().Grille().DefinirCellule(2, 1, "=");

  TRepondeurBoites repondeur;
  repondeur.RepondreFichier(QString::fromStdString(rep));
  QTest::mouseClick(f->ButtonParcourir(), Qt::LeftButton);
  QCOMPARE(repondeur.titres_dialogues, QStringList{QStringLiteral("Choix du répertoire")});
  QCOMPARE(Cellule(*f, 1, 1), QString::fromStdString(rep));
  QCOMPARE(Cellule(*f, 0, 1), QStringLiteral("/source"));
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));

  // Cancelled from the menu: the cell stays as it was.
  f->Jumelix().Grille().DefinirCellule(2, 1, "=");
  repondeur.RepondreFichier(QString());
  f->Parcourir2()->trigger();
  QCOMPARE(repondeur.titres_dialogues.size(), 2);
  QCOMPARE(Cellule(*f, 1, 1), QString::fromStdString(rep));
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("="));
}

void MainWindowTest::comparerMontreEgalEtErreurs() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const Paire egale = PaireIdentique(arbre, "p1");
  const Paire differente = PaireDifferente(arbre, "p2", 3);
  Taper(*f, 0, 1, QString::fromStdString(egale.source));
  Taper(*f, 1, 1, QString::fromStdString(egale.cible + "/"));  // trailing "/" is dropped
  f->Ajouteruneligne2()->trigger();
  Taper(*f, 0, 2, QString::fromStdString(differente.source));
  Taper(*f, 1, 2, QString::fromStdString(differente.cible));
  f->Ajouteruneligne2()->trigger();
  Taper(*f, 1, 3, QStringLiteral("/seulement/une/cible"));

  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  // Compare asks only whether to go on without the half-filled row.
  QCOMPARE(repondeur.textes,
           QStringList{QStringLiteral("La ligne 3 du tableau n'a qu'un des deux répertoires : "
                                      "elle ne sera pas traitée.\nContinuer quand même ?")});
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("="));
  QCOMPARE(Cellule(*f, 2, 2), QStringLiteral("3 erreur(s)"));
  QCOMPARE(Cellule(*f, 2, 3), QStringLiteral("???"));
  const QStringList log = LignesLog(*f);
  QCOMPARE(log.size(), 4);
  QCOMPARE(log.last(), QStringLiteral("Nom de répertoire vide en ligne 3"));
  QCOMPARE(f->Panneau(0)->text(), QStringLiteral("Comparaison terminée"));
  QCOMPARE(f->Panneau(1)->text(), QStringLiteral("Copiés : 0"));
  QCOMPARE(f->Panneau(3)->text(), QStringLiteral("Identiques : 1"));
  QCOMPARE(f->Panneau(4)->text(), QStringLiteral("0:00:00"));
  QCOMPARE(f->ButtonFermer()->text(), QStringLiteral("Fermer"));
  QCOMPARE(test::TempTree::Noms(differente.cible).size(), size_t{0});  // nothing touched
}

void MainWindowTest::synchroniserDemandeConfirmation() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const Paire p = PaireDifferente(arbre, "p", 2);
  Taper(*f, 0, 1, QString::fromStdString(p.source));
  Taper(*f, 1, 1, QString::fromStdString(p.cible));

  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Cancel);
  QTest::mouseClick(f->ButtonSynchroniser(), Qt::LeftButton);
  QCOMPARE(repondeur.titres, QStringList{QStringLiteral("Synchronisation des répertoires")});
  QCOMPARE(repondeur.boutons[0], QMessageBox::Ok | QMessageBox::Cancel);
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));
  QCOMPARE(test::TempTree::Noms(p.cible).size(), size_t{0});

  repondeur.Repondre(QMessageBox::Ok);
  QTest::mouseClick(f->ButtonSynchroniser(), Qt::LeftButton);
  QCOMPARE(repondeur.textes.size(), 2);
  QCOMPARE(test::TempTree::Noms(p.cible), (std::vector<std::string>{"f0", "f1"}));
  QCOMPARE(f->Panneau(0)->text(), QStringLiteral("Synchronisation terminée."));
  QCOMPARE(f->Panneau(1)->text(), QStringLiteral("Copiés : 2"));

  // A second comparison finds the pair identical.
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("="));
}

void MainWindowTest::abandonnerArreteLeRun_data() {
  QTest::addColumn<bool>("parEchap");
  QTest::newRow("bouton") << false;
  QTest::newRow("Echap") << true;
}

void MainWindowTest::abandonnerArreteLeRun() {
  QFETCH(bool, parEchap);
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  constexpr int kFichiers = 3000;
  const Paire longue = PaireDifferente(arbre, "longue", kFichiers);
  const Paire suivante = PaireDifferente(arbre, "suivante", 1);
  Taper(*f, 0, 1, QString::fromStdString(longue.source));
  Taper(*f, 1, 1, QString::fromStdString(longue.cible));
  f->Ajouteruneligne2()->trigger();
  Taper(*f, 0, 2, QString::fromStdString(suivante.source));
  Taper(*f, 1, 2, QString::fromStdString(suivante.cible));

  // Played by the user once the run has started: the events come in at a check point.
  QString legendePendant;
  QTimer::singleShot(0, f.get(), [&] {
    legendePendant = f->ButtonFermer()->text();
    if (parEchap) {
      QTest::keyClick(f->StringGrid1(), Qt::Key_Escape);
    } else {
      QTest::mouseClick(f->ButtonFermer(), Qt::LeftButton);
    }
  });
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);

  QCOMPARE(legendePendant, QStringLiteral("Abandonner"));
  QVERIFY(f->isVisible());  // "Abandonner" stops the run, it does not close the window
  QCOMPARE(f->Panneau(0)->text(), QStringLiteral("Comparaison abandonnée"));
  const QStringList log = LignesLog(*f);
  QCOMPARE(log.last(), QStringLiteral("ABANDON"));
  QVERIFY2(log.size() < kFichiers, qPrintable(QString::number(log.size())));
  // The stopped row is not a mirror: never "=", whatever it had found so far.
  QVERIFY2(Cellule(*f, 2, 1).endsWith(QStringLiteral("abandonné")), qPrintable(Cellule(*f, 2, 1)));
  QCOMPARE(log.at(log.size() - 2), QStringLiteral("%1 et %2 abandonné")
                                       .arg(QString::fromStdString(longue.source),
                                            QString::fromStdString(longue.cible)));
  QCOMPARE(Cellule(*f, 2, 2), QStringLiteral("???"));  // the next row is never reached
  QCOMPARE(f->ButtonFermer()->text(), QStringLiteral("Fermer"));
}

void MainWindowTest::pendantUnRunLaGrilleEstEnLectureSeule() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const Paire longue = PaireDifferente(arbre, "longue", 2000);
  Taper(*f, 0, 1, QString::fromStdString(longue.source));
  Taper(*f, 1, 1, QString::fromStdString(longue.cible));

  QAbstractItemModel* m = f->StringGrid1()->model();
  bool editable = true;
  int lignes = 0;
  QTimer::singleShot(0, f.get(), [&] {
    editable = m->flags(m->index(0, 0)).testFlag(Qt::ItemIsEditable);
    QTest::mouseClick(f->ButtonAjouterLigne(), Qt::LeftButton);  // ignored during a run
    QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);      // no second run inside
    lignes = m->rowCount();
    QTest::mouseClick(f->ButtonFermer(), Qt::LeftButton);
  });
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  QVERIFY(!editable);
  QCOMPARE(lignes, 1);
  QCOMPARE(LignesLog(*f).count(QStringLiteral("ABANDON")), 1);
  QVERIFY(m->flags(m->index(0, 0)).testFlag(Qt::ItemIsEditable));
  QVERIFY(!m->flags(m->index(0, 2)).testFlag(Qt::ItemIsEditable));
}

void MainWindowTest::fermerPendantUnRunAttendSaFin() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QSignalSpy fermee(f.get(), &TFormJumelix::Fermee);
  test::TempTree arbre;
  const Paire longue = PaireDifferente(arbre, "longue", 2000);
  Taper(*f, 0, 1, QString::fromStdString(longue.source));
  Taper(*f, 1, 1, QString::fromStdString(longue.cible));

  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Yes);  // "Abandonner la comparaison en cours ?"
  repondeur.Repondre(QMessageBox::No);   // the save question, once the run has ended
  bool fermeeDansLeRun = true;
  QTimer::singleShot(0, f.get(), [&] {
    f->close();
    fermeeDansLeRun = !fermee.isEmpty();
  });
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  QVERIFY(!fermeeDansLeRun);
  QCOMPARE(LignesLog(*f).last(), QStringLiteral("ABANDON"));
  QCOMPARE(repondeur.textes.value(0), QStringLiteral("Abandonner la comparaison en cours ?"));
  QCOMPARE(repondeur.boutons.value(0), QMessageBox::Yes | QMessageBox::No);
  QCOMPARE(repondeur.titres.value(1), QStringLiteral("Sauvegarder les changements"));
  QCOMPARE(fermee.size(), 1);
  QVERIFY(!f->isVisible());
}

void MainWindowTest::laQuestionDeFermeture_data() {
  QTest::addColumn<int>("reponse");          // button of the save question
  QTest::addColumn<bool>("choisirFichier");  // the save dialog picks a file
  QTest::addColumn<bool>("fermee");
  QTest::addColumn<bool>("parEchap");  // Escape in the log area instead of "Fermer"
  QTest::newRow("Annuler") << int(QMessageBox::Cancel) << false << false << false;
  QTest::newRow("Non") << int(QMessageBox::No) << false << true << false;
  QTest::newRow("Non, par Echap") << int(QMessageBox::No) << false << true << true;
  QTest::newRow("Oui, enregistré") << int(QMessageBox::Yes) << true << true << false;
  QTest::newRow("Oui, dialogue annulé") << int(QMessageBox::Yes) << false << false << false;
}

void MainWindowTest::laQuestionDeFermeture() {
  QFETCH(int, reponse);
  QFETCH(bool, choisirFichier);
  QFETCH(bool, fermee);
  QFETCH(bool, parEchap);
  QTemporaryDir rep;
  const QString liste = rep.filePath(QStringLiteral("liste.ini"));

  auto f = NouvelleFenetre();
  QVERIFY(f);
  QSignalSpy spy(f.get(), &TFormJumelix::Fermee);
  {
    // Unchanged grid: closes without a question.
    TRepondeurBoites repondeur;
    auto vierge = NouvelleFenetre();
    QSignalSpy spyVierge(vierge.get(), &TFormJumelix::Fermee);
    vierge->Quitter1()->trigger();
    QVERIFY(repondeur.textes.isEmpty());
    QCOMPARE(spyVierge.size(), 1);
  }
  Taper(*f, 0, 1, QStringLiteral("/src"));
  Taper(*f, 1, 1, QStringLiteral("/dst"));

  TRepondeurBoites repondeur;
  repondeur.Repondre(static_cast<QMessageBox::StandardButton>(reponse));
  repondeur.RepondreFichier(choisirFichier ? liste : QString());
  if (parEchap) {
    f->MemoLog()->setFocus();
    QTest::keyClick(f->MemoLog(), Qt::Key_Escape);
  } else {
    QTest::mouseClick(f->ButtonFermer(), Qt::LeftButton);
  }
  QCOMPARE(repondeur.titres.value(0), QStringLiteral("Sauvegarder les changements"));
  QCOMPARE(repondeur.boutons.value(0), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  QCOMPARE(spy.size(), fermee ? 1 : 0);
  QCOMPARE(f->isVisible(), !fermee);
  if (choisirFichier) {
    std::vector<std::string> lignes;
    QCOMPARE(LireLignesFichier(liste.toStdString(), lignes), 0);
    QCOMPARE(lignes,
             (std::vector<std::string>{"Répertoire source", "Répertoire cible", "/src", "/dst"}));
    QVERIFY(!f->Jumelix().Grille().GrilleModifiee());
  }
}

void MainWindowTest::lireUnFichierListeAgranditLaFenetre() {
  QTemporaryDir rep;
  const std::string liste = rep.filePath(QStringLiteral("liste.ini")).toStdString();
  std::vector<std::string> lignes = {"Répertoire source", "Répertoire cible"};
  for (int i = 0; i < 10; ++i) {
    lignes.push_back("/s" + std::to_string(i));
    lignes.push_back("/d" + std::to_string(i));
  }
  QCOMPARE(EcrireLignesFichier(liste, lignes), 0);

  auto f = NouvelleFenetre();
  QVERIFY(f);
  Taper(*f, 0, 1, QStringLiteral("/jete"));
  const int hauteur = f->height();
  const int colonne = f->StringGrid1()->columnWidth(0);
  TRepondeurBoites repondeur;
  // The typed row is unsaved: asked first, "Non" drops it.
  repondeur.Repondre(QMessageBox::No);
  repondeur.RepondreFichier(QString::fromStdString(liste));
  f->Lireunfichierliste1()->trigger();
  QCOMPARE(repondeur.titres, QStringList{QStringLiteral("Sauvegarder les changements")});
  QCOMPARE(f->StringGrid1()->model()->rowCount(), 10);
  QCOMPARE(f->windowTitle(), QStringLiteral("liste.ini — Jumelix"));
  QCOMPARE(Cellule(*f, 0, 1), QStringLiteral("/s0"));
  QCOMPARE(Cellule(*f, 1, 10), QStringLiteral("/d9"));
  QCOMPARE(Cellule(*f, 2, 1), QString());
  QVERIFY(!f->Jumelix().Grille().GrilleModifiee());
  // The grid grows until the ten rows are in view, the window with it.
  QVERIFY(f->StringGrid1()->rowViewportPosition(9) + 19 <= f->StringGrid1()->viewport()->height());
  QVERIFY(f->height() > hauteur);
  QVERIFY(qAbs(f->StringGrid1()->columnWidth(0) - colonne) <= 10);  // a scroll bar at most

  // A longer list grows the grid only up to two thirds of the screen height.
  for (int i = 10; i < 60; ++i) {
    lignes.push_back("/s" + std::to_string(i));
    lignes.push_back("/d" + std::to_string(i));
  }
  QCOMPARE(EcrireLignesFichier(liste, lignes), 0);
  repondeur.RepondreFichier(QString::fromStdString(liste));
  f->Lireunfichierliste1()->trigger();
  QCOMPARE(f->StringGrid1()->model()->rowCount(), 60);
  const int plafond = f->screen()->geometry().height() * 2 / 3;
  QVERIFY(plafond < 19 * 62);
  QVERIFY(f->StringGrid1()->height() <= plafond);
  QVERIFY(f->StringGrid1()->height() >= plafond - 60);

  // The file becomes the one "Enregistrer sous..." proposes, and a recent list.
  repondeur.RepondreFichier(QString());
  f->EnregistrerSous1()->trigger();
  QCOMPARE(repondeur.fichiers_proposes.value(2), QString::fromStdString(liste));
  QVERIFY(f->ListesRecentes1()->isEnabled());
  QCOMPARE(f->ListesRecentes1()->actions().value(0)->toolTip(), QString::fromStdString(liste));
}

void MainWindowTest::aideEtAPropos() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  TFormAide aide;
  f->DefinirFormAide(&aide);
  QTest::mouseClick(f->ButtonAide(), Qt::LeftButton);
  QVERIFY(aide.isVisible());
  QVERIFY(!aide.RichEditAide()->document()->isEmpty());
  QVERIFY(f->isEnabled());  // the help window does not block the main window
  aide.close();
  f->Aide2()->trigger();
  QVERIFY(aide.isVisible());

  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::Ok);
  f->Apropos1()->trigger();
  QCOMPARE(repondeur.textes.size(), 1);
  QCOMPARE(repondeur.textes[0].toStdString(), f->TexteCredit());
  QVERIFY(repondeur.textes[0].contains(QStringLiteral("Jumelix")));
  QCOMPARE(repondeur.boutons[0], QMessageBox::StandardButtons(QMessageBox::Ok));
}


void MainWindowTest::pendantUnRunLaProgressionSAffiche() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const Paire p1 = PaireDifferente(arbre, "p1", 1);
  const Paire p2 = PaireDifferente(arbre, "p2", 2000);
  f->DefinirFormOptions([] {});
  Taper(*f, 0, 1, QString::fromStdString(p1.source));
  Taper(*f, 1, 1, QString::fromStdString(p1.cible));
  f->Ajouteruneligne2()->trigger();
  Taper(*f, 0, 2, QString::fromStdString(p2.source));
  Taper(*f, 1, 2, QString::fromStdString(p2.cible));

  // Seen by the user while the second pair is walked.
  struct Vu {
    bool bande = false, comparer = true, ajouter = true, lire = true, options = true,
         exclusions = true, fermer = false;
    QString paire, repertoire;
    int barre = -1, barreMax = -1;
    bool surlignee = false, autreSurlignee = true;
  } vu;
  QAbstractItemModel* m = f->StringGrid1()->model();
  // Looked at when the grid is told that the second pair's row is being walked.
  QObject::connect(m, &QAbstractItemModel::dataChanged, f.get(), [&] {
    if (f->Jumelix().LigneEnCours() != 2 || !vu.paire.isEmpty()) return;
    vu.bande = f->BandeAvancement()->isVisible();
    vu.comparer = f->ButtonComparer()->isEnabled();
    vu.ajouter = f->ButtonAjouterLigne()->isEnabled();
    vu.lire = f->Lireunfichierliste1()->isEnabled();
    vu.options = f->Options1()->isEnabled();
    vu.exclusions = f->Exclusions1()->isEnabled();
    vu.fermer = f->ButtonFermer()->isEnabled();
    vu.paire = f->LabelPaire()->text();
    vu.repertoire = f->LabelRepertoire()->TexteComplet();
    vu.barre = f->BarreProgression()->value();
    vu.barreMax = f->BarreProgression()->maximum();
    vu.surlignee = m->data(m->index(1, 0), Qt::BackgroundRole).isValid();
    vu.autreSurlignee = m->data(m->index(0, 0), Qt::BackgroundRole).isValid();
  });
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  QCOMPARE(vu.paire, QStringLiteral("Paire 2 / 2"));
  QVERIFY(vu.bande);
  QVERIFY(!vu.comparer);
  QVERIFY(!vu.ajouter);
  QVERIFY(!vu.lire);
  QVERIFY(!vu.options);  // the retention is read when the run starts
  QVERIFY(!vu.exclusions);  // so are the global patterns
  QVERIFY(vu.fermer);  // "Abandonner" stays
  QCOMPARE(vu.repertoire, QString::fromStdString(p2.source));
  QCOMPARE(vu.barre, 1);
  QCOMPARE(vu.barreMax, 2);
  QVERIFY(vu.surlignee);
  QVERIFY(!vu.autreSurlignee);
  // Over: the strip goes, the commands come back, nothing stands out.
  QVERIFY(!f->BandeAvancement()->isVisible());
  QVERIFY(f->ButtonComparer()->isEnabled());
  QVERIFY(f->Lireunfichierliste1()->isEnabled());
  QVERIFY(f->Options1()->isEnabled());
  QVERIFY(f->Exclusions1()->isEnabled());
  QVERIFY(!m->data(m->index(1, 0), Qt::BackgroundRole).isValid());
  QCOMPARE(Cellule(*f, 2, 2), QStringLiteral("2000 erreur(s)"));
  QCOMPARE(LignesLog(*f).size(), 2001);
}

// Sends the drag of `chemins` onto `cible` at `point`, then drops it; whether accepted.
bool Deposer(QWidget* cible, QPoint point, const QStringList& chemins) {
  QMimeData donnees;
  QList<QUrl> urls;
  for (const QString& c : chemins) urls << QUrl::fromLocalFile(c);
  donnees.setUrls(urls);
  QDragEnterEvent entree(point, Qt::CopyAction, &donnees, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(cible, &entree);
  if (!entree.isAccepted()) return false;
  QDropEvent depot(QPointF(point), Qt::CopyAction, &donnees, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(cible, &depot);
  return depot.isAccepted();
}

void MainWindowTest::deposerDesRepertoiresEtUneListe() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const QString a = QString::fromStdString(arbre.Repertoire("a"));
  const QString b = QString::fromStdString(arbre.Repertoire("b"));
  const QString liste = QString::fromStdString(
      arbre.Fichier("glisse.ini", "Répertoire source\nRépertoire cible\n/x\n/y\n"));
  TStringGrid* g = f->StringGrid1();
  QWidget* vue = g->viewport();
  const QPoint cible = g->visualRect(g->model()->index(0, 1)).center();
  QVERIFY(Deposer(vue, cible, {a}));
  QCOMPARE(Cellule(*f, 1, 1), a);
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("???"));
  QVERIFY(Deposer(vue, g->visualRect(g->model()->index(0, 0)).center(), {a, b}));
  QCOMPARE(Cellule(*f, 0, 1), a);
  QCOMPARE(Cellule(*f, 1, 1), b);
  QVERIFY(f->windowTitle().startsWith(QLatin1Char('*')));
  QVERIFY(!Deposer(vue, cible, {QStringLiteral("/nulle/part/ici")}));
  QCOMPARE(Cellule(*f, 1, 1), b);
  // A list file dropped on the log area opens, once the unsaved rows are dealt with.
  TRepondeurBoites repondeur;
  repondeur.Repondre(QMessageBox::No);
  QVERIFY(Deposer(f.get(), f->MemoLog()->geometry().center(), {liste}));
  QCOMPARE(Cellule(*f, 0, 1), QStringLiteral("/x"));
  QCOMPARE(f->windowTitle(), QStringLiteral("glisse.ini — Jumelix"));
  // "~/" in a typed cell means the home directory for the run.
  Taper(*f, 0, 1, QStringLiteral("~/absent-de-la-maison"));
  Taper(*f, 1, 1, b);
  repondeur.Repondre(QMessageBox::Ok);
  QTest::mouseClick(f->ButtonComparer(), Qt::LeftButton);
  QCOMPARE(LignesLog(*f).value(0),
           QDir::homePath() + QStringLiteral("/absent-de-la-maison ==> Répertoire source non accessible"));
}

void MainWindowTest::unFichierDeposeQuiNEstPasUneListeEstRefuse() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree arbre;
  const std::string contenu = "Un document\n" + std::string(200000, 'x');
  const QString document = QString::fromStdString(arbre.Fichier("rapport.txt", contenu));
  Taper(*f, 0, 1, QStringLiteral("/src"));
  const QString titre = f->windowTitle();
  TStringGrid* g = f->StringGrid1();
  TRepondeurBoites repondeur;
  // On a cell and on the log area: refused, said, and nothing changes.
  QVERIFY(!Deposer(g->viewport(), g->visualRect(g->model()->index(0, 1)).center(), {document}));
  QVERIFY(!Deposer(f.get(), f->MemoLog()->geometry().center(), {document}));
  QCOMPARE(repondeur.textes.size(), 2);
  QVERIFY(repondeur.textes[1].startsWith(
      "Ce fichier n'est pas un fichier liste, il n'a pas été ouvert :\n" + document));
  QCOMPARE(Cellule(*f, 0, 1) + f->windowTitle(), QStringLiteral("/src") + titre);
  QVERIFY(f->Jumelix().FichierListe().empty());
  QCOMPARE(test::TempTree::Lire(document.toStdString()), contenu);
}

void MainWindowTest::unCheminRelatifEstRefuse() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  TRepondeurBoites repondeur;
  // Typed, refused when the edit ends (Enter, or Escape: "+"), the cell getting its text
  // back; blank cells, absolute paths and the home directory are taken.
  const std::pair<QString, QString> cas[] = {{"/avant", "/avant"},
                                             {"copie-relative", "/avant"},
                                             {"+./copie", "/avant"},
                                             {"~bob/copie", "/avant"},
                                             {"~", "~"},
                                             {"+ ~/c", " ~/c"},
                                             {" ", " "}};
  for (auto [texte, reste] : cas) {
    const bool parEchap = texte.startsWith(QLatin1Char('+'));
    if (parEchap) texte.remove(0, 1);
    TStringGrid* g = f->StringGrid1();
    g->setCurrentIndex(g->model()->index(0, 1));
    g->setFocus();
    QTest::keyClick(g, Qt::Key_F2);
    QTest::keyClick(Editeur(g), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(Editeur(g), texte);
    QTest::keyClick(Editeur(g), parEchap ? Qt::Key_Escape : Qt::Key_Return);
    QTRY_COMPARE(Cellule(*f, 1, 1), reste);
  }
  QCOMPARE(repondeur.textes.size(), 3);
  QVERIFY(repondeur.textes[0].startsWith("Chemin relatif refusé : « copie-relative ».\n"));
  // Read from a list, shown as it is; the run refuses that pair alone, and writes nothing
  // where the program happens to run.
  test::TempTree arbre;
  const Paire p = PaireDifferente(arbre, "p", 1);
  f->Jumelix().OuvrirFichierListe(arbre.Fichier("l.ini", "Répertoire source\nRépertoire cible\n" +
                                                             p.source + "\ncopie-relative\n" +
                                                             p.source + "\n" + p.cible + "\n"));
  const QString ici = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QString::fromStdString(arbre.Racine())));
  repondeur.Repondre(QMessageBox::Ok);  // "Chaque répertoire cible va devenir identique..."
  QTest::mouseClick(f->ButtonSynchroniser(), Qt::LeftButton);
  QDir::setCurrent(ici);
  QCOMPARE(LignesLog(*f).value(0),
           QStringLiteral("Chemin relatif refusé en ligne 1 : copie-"
                          "relative (un chemin doit commencer par / ou ~/)"));
  QCOMPARE(Cellule(*f, 2, 1) + Cellule(*f, 2, 2), QStringLiteral("1 erreur(s)="));
  QVERIFY(!test::TempTree::Existe(arbre / "copie-relative"));
}

void MainWindowTest::leClavierAtteintChaqueCommande() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QWindow* w = f->windowHandle();
  // Each button but "Aide" (F1) and "Fermer" (Escape) has a letter neither the menu bar nor
  // another button takes.
  QList<QChar> lettres;
  for (QAction* m : f->MainMenu1()->actions()) lettres << Lettre(m->text());
  for (QPushButton* b : {f->ButtonAjouterLigne(), f->ButtonSupprimerLigne(), f->ButtonParcourir(),
                         f->ButtonComparer(), f->ButtonSynchroniser()}) {
    QVERIFY2(!Lettre(b->text()).isNull() && !lettres.contains(Lettre(b->text())),
             qPrintable(b->text()));
    lettres << Lettre(b->text());
  }
  QVERIFY(f->ButtonComparer()->toolTip().endsWith(QStringLiteral("(F5)")));
  QVERIFY(f->ButtonSynchroniser()->toolTip().endsWith(QStringLiteral("(F6)")));
  // F10 and Alt+A open the first menu, Alt+I the second.
  const QList<QAction*> menus = f->MainMenu1()->actions();
  for (auto [touche, menu] : {std::pair{Qt::Key_F10, 0}, {Qt::Key_A, 0}, {Qt::Key_I, 1}}) {
    QTest::keyClick(w, touche, touche == Qt::Key_F10 ? Qt::NoModifier : Qt::AltModifier);
    QTRY_COMPARE(QApplication::activePopupWidget(), static_cast<QWidget*>(menus[menu]->menu()));
    menus[menu]->menu()->close();
  }
  test::TempTree arbre;
  const Paire p = PaireDifferente(arbre, "p", 1);
  Taper(*f, 0, 1, QString::fromStdString(p.source));
  Taper(*f, 1, 1, QString::fromStdString(p.cible));
  // F6 still asks first (cancelled here); F5 compares, even from an open cell editor; so
  // does Alt+C, the button's letter (which clicks it a moment later).
  TRepondeurBoites repondeur;
  QTest::keyClick(w, Qt::Key_F6);
  QCOMPARE(repondeur.titres, QStringList{QStringLiteral("Synchronisation des répertoires")});
  f->activateWindow();  // the message box had it
  QVERIFY(QTest::qWaitForWindowActive(f.get()));
  QTest::keyClick(f->StringGrid1(), Qt::Key_F2);
  QTest::keyClick(w, Qt::Key_F5);
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("1 erreur(s)"));
  QVERIFY(!f->StringGrid1()->EditeurOuvert());
  f->ViderLog();
  QTest::keyClick(w, Qt::Key_C, Qt::AltModifier);
  QTRY_COMPARE(LignesLog(*f).size(), 1);
  QVERIFY(test::TempTree::Noms(p.cible).empty());
}

void MainWindowTest::apresUnRunLeFocusRevientALaGrille() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QWindow* w = f->windowHandle();
  test::TempTree arbre;
  const Paire p = PaireIdentique(arbre, "p");
  Taper(*f, 0, 1, QString::fromStdString(p.source));
  Taper(*f, 1, 1, QString::fromStdString(p.cible));
  // "Comparer" pressed with Space hands the focus on while disabled; the grid gets it back
  // after the run, so the next Space types into a cell instead of closing the window.
  f->ButtonComparer()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(w, Qt::Key_Space);
  QCOMPARE(Cellule(*f, 2, 1), QStringLiteral("="));
  QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(f->StringGrid1()));
  QTest::keyClick(w, Qt::Key_Space);
  QTest::keyClick(w, '/');
  // Escape in a cell editor only ends the edit, keeping what was typed; then it is "Fermer".
  QTest::keyClick(w, Qt::Key_Escape);
  QVERIFY(f->isVisible() && !f->StringGrid1()->EditeurOuvert());
  QCOMPARE(Cellule(*f, 1, 1), QStringLiteral(" /"));
  TRepondeurBoites repondeur;
  QTest::keyClick(w, Qt::Key_Escape);
  QCOMPARE(repondeur.titres, QStringList{QStringLiteral("Sauvegarder les changements")});
}

void MainWindowTest::lesDialoguesOuvrentSurLaListeOuLaMaison() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  test::TempTree ailleurs, rangement;
  const QString ici = QDir::currentPath();
  QVERIFY(QDir::setCurrent(QString::fromStdString(ailleurs.Racine())));
  TRepondeurBoites repondeur;  // cancels every dialog
  // Without a list: home, for opening, saving and choosing a folder (nothing chosen yet);
  // with one: its folder and its name.
  for (QAction* a : {f->Lireunfichierliste1(), f->EnregistrerSous1(), f->Parcourir2()})
    a->trigger();
  f->Jumelix().OuvrirFichierListe(
      rangement.Fichier("listes/nuit.ini", "Répertoire source\nRépertoire cible\n/a\n/b\n"));
  for (QAction* a : {f->Lireunfichierliste1(), f->EnregistrerSous1()}) a->trigger();
  QDir::setCurrent(ici);
  const QString maison = QDir::homePath();
  const QString dossier = QString::fromStdString(rangement / "listes");
  QCOMPARE(repondeur.dossiers_dialogues, (QStringList{maison, maison, maison, dossier, dossier}));
  QCOMPARE(repondeur.noms_dialogues, (QStringList{"", "", "", "nuit.ini", "nuit.ini"}));
}

void MainWindowTest::lesCheminsLongsSontElidesAvecInfobulle() {
  auto f = NouvelleFenetre();
  QVERIFY(f);
  const QString long_ = QStringLiteral("/srv/") + QString(300, QLatin1Char('r')) +
                        QStringLiteral("/fin-du-chemin");
  Taper(*f, 0, 1, long_);
  QAbstractItemModel* m = f->StringGrid1()->model();
  QCOMPARE(f->StringGrid1()->textElideMode(), Qt::ElideMiddle);
  QCOMPARE(m->data(m->index(0, 0), Qt::ToolTipRole).toString(), long_);
  QVERIFY(!m->data(m->index(0, 1), Qt::ToolTipRole).isValid());  // an empty cell has none
  // A source with patterns of its own is told apart by its tooltip (the target's says nothing).
  test::TempTree t;
  t.Fichier("src/.jumelixignore", "*.o\n");
  Taper(*f, 0, 1, QString::fromStdString(t / "src"));
  Taper(*f, 1, 1, QString::fromStdString(t / "src"));
  QCOMPARE(m->data(m->index(0, 0), Qt::ToolTipRole).toString(),
           QString::fromStdString(t / "src" + "\nMotifs d'exclusion propres à cette source : " +
                                  t / "src/.jumelixignore"));
  QCOMPARE(m->data(m->index(0, 1), Qt::ToolTipRole).toString(), QString::fromStdString(t / "src"));
  // The same for the directory of the progress strip.
  f->LabelRepertoire()->resize(100, 16);
  f->LabelRepertoire()->DefinirTexte(long_);
  QVERIFY(f->LabelRepertoire()->text().contains(QChar(0x2026)));
  QVERIFY(f->LabelRepertoire()->text().endsWith(QStringLiteral("chemin")));
  QCOMPARE(f->LabelRepertoire()->toolTip(), long_);
}

void MainWindowTest::laFenetreRetientSaTailleDansLEtat() {
  const QString chemin = TFormJumelix::CheminEtatFenetre();
  QVERIFY(chemin.startsWith(QDir::homePath()) ||
          chemin.startsWith(qEnvironmentVariable("XDG_STATE_HOME")));
  QFile::remove(chemin);
  QList<int> tailles;
  {
    auto f = NouvelleFenetre();
    QVERIFY(f);
    QVERIFY(!f->RestaurerEtatFenetre());  // nothing saved yet
    f->resize(900, 520);
    f->Splitter1()->setSizes({260, f->Splitter1()->height() - 260});
    f->StringGrid1()->horizontalHeader()->resizeSection(0, 200);
    tailles = f->Splitter1()->sizes();
    f->close();
  }
  QVERIFY(QFile::exists(chemin));
  QSettings lu(chemin, QSettings::IniFormat);
  QVERIFY(lu.contains(QStringLiteral("geometrie")));
  auto f = NouvelleFenetre();
  QVERIFY(f);
  QVERIFY(f->RestaurerEtatFenetre());
  QCOMPARE(f->size(), QSize(900, 520));
  QCOMPARE(f->Splitter1()->sizes(), tailles);
  const int source = f->StringGrid1()->horizontalHeader()->sectionSize(0);
  QVERIFY2(qAbs(source - 200) <= 2, qPrintable(QString::number(source)));
  // Neither the list nor the mail settings hold any of it.
  QVERIFY(!QFile::exists(QDir::homePath() + QStringLiteral("/config/jumelix/fenetre.ini")));
}

}  // namespace jumelix

JUMELIX_QTEST(MainWindow_test, jumelix::MainWindowTest);

#include "MainWindow_test.moc"
