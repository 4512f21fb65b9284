// Takes the screenshots of the README: the main window at first start, during a
// comparison over a small demonstration tree and after it, and the help window. Renders
// the real windows off screen and writes <dossier>/premier-demarrage.png,
// <dossier>/comparaison-en-cours.png, <dossier>/fenetre-principale.png and
// <dossier>/aide.png.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
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
  const bool ok1 = fenetre.grab().save(sortie + QStringLiteral("/fenetre-principale.png"));

  jumelix::TFormAide aide;
  aide.ChargerAide();
  aide.show();
  QApplication::processEvents();
  const bool ok2 = aide.grab().save(sortie + QStringLiteral("/aide.png"));
  QDir(r).removeRecursively();
  if (!ok0 || !ok_run || !ok1 || !ok2) {
    std::fprintf(stderr, "captures : impossible d'écrire les images dans %s\n", argv[1]);
    return 1;
  }
  return 0;
}
