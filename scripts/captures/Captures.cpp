// Takes the screenshots of the README: the main window at first start, during a
// comparison over a small demonstration tree and after it, the preview with a deletion
// unticked, the synchronisation that follows it (with its totals and time left) and its
// report, and the help window. Renders the real windows off screen and writes
// <dossier>/premier-demarrage.png, <dossier>/comparaison-en-cours.png,
// <dossier>/fenetre-principale.png, <dossier>/apercu.png,
// <dossier>/synchronisation-en-cours.png, <dossier>/bilan.png and <dossier>/aide.png.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <cstdio>

#include "gui/MainWindow.h"
#include "shared/URoutines.h"
#include "gui/HelpWindow.h"

namespace {

bool Ecrire(const QString& chemin, const QByteArray& contenu) {
  QDir().mkpath(QFileInfo(chemin).path());
  QFile f(chemin);
  return f.open(QIODevice::WriteOnly) && f.write(contenu) == contenu.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage : captures DOSSIER\n");
    return 2;
  }
  QApplication application(argc, argv);
  QTranslator traduction;
  if (traduction.load(QStringLiteral("qtbase_fr"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&traduction);
  }
  const QString sortie = QString::fromLocal8Bit(argv[1]);

  // A small home: documents already saved, photos with three new pictures.
  // A fixed, readable place: the paths show in the picture. Emptied before and after.
  const QString r = QDir::tempPath() + QStringLiteral("/jumelix-demo");
  QDir(r).removeRecursively();
  for (const char* f :
       {"Documents/lettre.odt", "Documents/budget.ods", "Sauvegarde/Documents/lettre.odt",
        "Sauvegarde/Documents/budget.ods", "Photos/vacances-1.jpg", "Photos/vacances-2.jpg",
        "Photos/vacances-3.jpg"}) {
    Ecrire(r + QLatin1Char('/') + QLatin1String(f), QByteArrayLiteral("demo"));
  }
  QDir().mkpath(r + QStringLiteral("/Sauvegarde/Photos"));
  // An old picture the source no longer has, and notes changed in the copy by hand.
  Ecrire(r + QStringLiteral("/Sauvegarde/Photos/brouillon.jpg"), QByteArrayLiteral("ancien"));
  Ecrire(r + QStringLiteral("/Documents/notes.txt"), QByteArrayLiteral("notes"));
  Ecrire(r + QStringLiteral("/Sauvegarde/Documents/notes.txt"),
         QByteArrayLiteral("notes retouchées dans la copie"));
  {
    QFile vieux(r + QStringLiteral("/Documents/notes.txt"));
    vieux.open(QIODevice::ReadWrite);
    vieux.setFileTime(QDateTime(QDate(2026, 11, 2), QTime(9, 0)), QFileDevice::FileModificationTime);
  }
  // Enough music for the comparison to be seen under way.
  for (int i = 1; i <= 3000; ++i)
    Ecrire(r + QStringLiteral("/Musique/piste-%1.ogg").arg(i, 4, 10, QLatin1Char('0')), "demo");
  QDir().mkpath(r + QStringLiteral("/Sauvegarde/Musique"));
  for (const char* f : {"lettre.odt", "budget.ods"}) {
    const QDateTime date(QDate(2026, 11, 30), QTime(20, 15));
    for (const QString& cote :
         {QStringLiteral("/Documents/"), QStringLiteral("/Sauvegarde/Documents/")}) {
      QFile fichier(r + cote + QLatin1String(f));
      fichier.open(QIODevice::ReadWrite);
      fichier.setFileTime(date, QFileDevice::FileModificationTime);
    }
  }
  const std::string liste = (r + QStringLiteral("/sauvegarde.ini")).toStdString();
  const std::string s = r.toStdString();
  jumelix::EcrireLignesFichier(
      liste, {"Répertoire source", "Répertoire cible", s + "/Documents",
              s + "/Sauvegarde/Documents", s + "/Photos", s + "/Sauvegarde/Photos",
              s + "/Musique", s + "/Sauvegarde/Musique"});

  bool ok0 = false;
  {
    jumelix::TFormJumelix premiere;
    premiere.FormCreate(jumelix::TLigneCommande{});
    premiere.show();
    QApplication::processEvents();
    ok0 = premiere.grab().save(sortie + QStringLiteral("/premier-demarrage.png"));
  }

  jumelix::TFormJumelix fenetre;
  jumelix::TLigneCommande ligne;
  ligne.FichierListe = liste;
  fenetre.FormCreate(ligne);
  fenetre.show();
  // The run seen when its third pair starts: the rows before it done, its own row lit.
  bool ok_run = false;
  QObject::connect(fenetre.Modele(), &QAbstractItemModel::dataChanged, &fenetre, [&] {
    if (ok_run || fenetre.Jumelix().LigneEnCours() != 3) return;
    ok_run = fenetre.grab().save(sortie + QStringLiteral("/comparaison-en-cours.png"));
  });
  fenetre.ButtonComparer()->click();
  QApplication::processEvents();
  jumelix::TVoletsRun* volets = fenetre.Volets();
  volets->Onglets()->setCurrentIndex(jumelix::TVoletsRun::kOngletJournal);
  QApplication::processEvents();
  const bool ok1 = fenetre.grab().save(sortie + QStringLiteral("/fenetre-principale.png"));

  // The preview, larger, with the old picture's deletion unticked.
  fenetre.resize(900, 560);
  volets->Onglets()->setCurrentIndex(jumelix::TVoletsRun::kOngletApercu);
  jumelix::TPlanApercu& plan = fenetre.Jumelix().Plan();
  for (size_t p = 0; p < plan.Paires().size(); ++p) {
    for (size_t i : plan.Paires()[p].actions) {
      if (plan.Paires()[p].changements[i].action.type == jumelix::TypeAction::Suppression)
        plan.Cocher(p, i, false);
    }
  }
  volets->Apercu()->Recharger();
  QApplication::processEvents();
  const bool ok_apercu = fenetre.grab().save(sortie + QStringLiteral("/apercu.png"));

  // The synchronisation that follows it. The confirmation is answered; the walk is slowed
  // as on a slow disk until the time left shows, then the strip is taken.
  jumelix::InstallerJoursArchive([] { return 30; });
  bool ok_synchro = false;
  QTimer repondre;
  QObject::connect(&repondre, &QTimer::timeout, &repondre, [] {
    if (auto* b = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      if (QAbstractButton* ok = b->button(QMessageBox::Ok)) ok->click();
  });
  repondre.start(20);
  QTimer ralentir;
  QObject::connect(&ralentir, &QTimer::timeout, &ralentir, [&] {
    if (!fenetre.Jumelix().EnCours() || ok_synchro) return;
    if (fenetre.LabelVolume()->text().contains(QStringLiteral("reste")) &&
        fenetre.Jumelix().LigneEnCours() == 3) {
      ok_synchro = fenetre.grab().save(sortie + QStringLiteral("/synchronisation-en-cours.png"));
      return;
    }
    QThread::msleep(100);
  });
  ralentir.start(0);
  fenetre.ButtonSynchroniser()->click();
  ralentir.stop();
  repondre.stop();
  QApplication::processEvents();
  const bool ok_bilan = fenetre.grab().save(sortie + QStringLiteral("/bilan.png"));

  jumelix::TFormAide aide;
  aide.ChargerAide();
  aide.show();
  QApplication::processEvents();
  const bool ok2 = aide.grab().save(sortie + QStringLiteral("/aide.png"));
  QDir(r).removeRecursively();
  if (!ok0 || !ok_run || !ok1 || !ok2 || !ok_apercu || !ok_synchro || !ok_bilan) {
    std::fprintf(stderr, "captures : impossible d'écrire les images dans %s\n", argv[1]);
    return 1;
  }
  return 0;
}
