// Times one run of a list file in the real main window (offscreen platform) or in the same
// run controller behind a view that shows nothing, so that the cost of the window itself
// (log area, status bar, event processing) can be read against the headless run.
//   fenetre_bench fenetre|sans comparer|synchroniser LISTE.ini
// Prints the elapsed milliseconds of the run and the number of lines its log area holds.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <cstdio>
#include <cstring>

#include "app/UJumelix.h"
#include "gui/MainWindow.h"

namespace {

// The headless view that still counts the log lines it is given.
class TVueComptee : public jumelix::TVueSansFenetre {
 public:
  void AjouterLog(const std::string&) override { ++lignes; }
  long lignes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "fenetre") != 0 && std::strcmp(argv[1], "sans") != 0)) {
    std::fprintf(stderr, "usage : fenetre_bench fenetre|sans comparer|synchroniser LISTE\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                   : qgetenv("QT_QPA_PLATFORM"));
  QApplication application(argc, argv);
  const bool comparer = std::strcmp(argv[2], "comparer") == 0;
  jumelix::TLigneCommande ligne;
  ligne.FichierListe = argv[3];
  QElapsedTimer chrono;
  long lignes = 0;
  if (std::strcmp(argv[1], "fenetre") == 0) {
    jumelix::TFormJumelix fenetre;
    fenetre.FormCreate(ligne);
    fenetre.show();
    QApplication::processEvents();
    chrono.start();
    fenetre.Jumelix().Executer(comparer);
    QApplication::processEvents();  // what the user sees once the run has returned
    const qint64 ms = chrono.elapsed();
    lignes = fenetre.MemoLog()->document()->blockCount();
    std::printf("%lld %ld\n", static_cast<long long>(ms), lignes);
  } else {
    TVueComptee vue;
    jumelix::TJumelix jumelix(vue, jumelix::RapportMailProgramme(), [](const std::string&) {});
    jumelix.FormCreate(ligne);
    chrono.start();
    jumelix.Executer(comparer);
    std::printf("%lld %ld\n", static_cast<long long>(chrono.elapsed()), vue.lignes);
  }
  return 0;
}
