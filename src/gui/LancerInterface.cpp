#include "gui/LancerInterface.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Credit.h"
#include "app/Programme.h"
#include "gui/HelpWindow.h"
#include "gui/MailDialog.h"
#include "gui/MainWindow.h"
#include "gui/NotificationBureau.h"
#include "gui/OptionsDialog.h"
#include "gui/PompeQt.h"

namespace jumelix {

int LancerInterface(int argc, char** argv, const std::string& refus_reglages) {
  if (!CreditProgramme()) {
    std::fputs(kMessageCreditAltere, stderr);
    return EXIT_FAILURE;
  }
  QApplication application(argc, argv);
  // Qt's own texts (message box buttons "Oui", "Non", "Annuler", file dialogs) in French,
  // like the rest of the program.
  QTranslator traduction_qt;
  if (traduction_qt.load(QStringLiteral("qtbase_fr"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&traduction_qt);
  }
  QApplication::setQuitOnLastWindowClosed(false);

  // QApplication has taken its own options out of argv.
  const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
  const TLigneCommande ligne_commande = AnalyserLigneCommande(arguments);

  TFormJumelix FormJumelix;
  FormJumelix.FormCreate(ligne_commande);
  TFormAide FormAide;
  FormJumelix.DefinirFormAide(&FormAide);
  TFormMail FormMail(&FormJumelix);
  FormJumelix.DefinirFormMail([&FormMail] { FormMail.exec(); });
  TFormOptions FormOptions(&FormJumelix);
  FormJumelix.DefinirFormOptions([&FormOptions] { FormOptions.exec(); });
  // A long run that ended while the user was elsewhere says so on the desktop.
  FormJumelix.Jumelix().DefinirSurFinRun(
      [](const TFinRun& fin) { NotifierFinRun(fin, QApplication::activeWindow() != nullptr); });
  InstallerPompeQt();
  QObject::connect(&FormJumelix, &TFormJumelix::Fermee, &application, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  // The size and splitter the user left last time; centred the first time.
  if (!FormJumelix.RestaurerEtatFenetre()) FormJumelix.Centrer();
  FormJumelix.show();
  if (!refus_reglages.empty()) FormJumelix.Jumelix().AvertirReglagesRefuses(refus_reglages);
  return QApplication::exec();
}

}  // namespace jumelix
