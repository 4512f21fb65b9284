#include "gui/OptionsDialog.h"
#include "gui/TexteQt.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>
#include <string>

namespace jumelix {

TFormOptions::TFormOptions(QWidget* parent, TConfigMail& parametres)
    : QDialog(parent),
      parametres_(parametres),
      LabelAvant_(QStringLiteral("Conserver les fichiers remplacés ou supprimés pendant"), this),
      SpinJoursArchive_(this),
      LabelApres_(QStringLiteral("jours (0 : ne pas conserver)"), this),
      LabelOu_(QStringLiteral("Ils sont rangés dans le dossier .jumelix-archive de chaque "
                              "répertoire cible, un dossier par synchronisation."),
               this),
      CheckIgnorerCaches_(QStringLiteral("Ignorer les dossiers de cache (contenant CACHEDIR.TAG)"),
                          this),
      ButtonOK_(QStringLiteral("OK"), this),
      ButtonAnnuler_(QStringLiteral("Annuler"), this) {
  setWindowTitle(QStringLiteral("Options"));
  setModal(true);
  SpinJoursArchive_.setRange(0, kJoursArchiveMax);
  LabelAvant_.setBuddy(&SpinJoursArchive_);
  LabelOu_.setWordWrap(true);
  ButtonOK_.setDefault(true);

  auto* ligne = new QHBoxLayout;
  ligne->addWidget(&LabelAvant_);
  ligne->addWidget(&SpinJoursArchive_);
  ligne->addWidget(&LabelApres_);
  ligne->addStretch();
  auto* boutons = new QHBoxLayout;
  boutons->addStretch();
  boutons->addWidget(&ButtonOK_);
  boutons->addWidget(&ButtonAnnuler_);
  auto* tout = new QVBoxLayout(this);
  tout->addLayout(ligne);
  tout->addWidget(&LabelOu_);
  tout->addWidget(&CheckIgnorerCaches_);
  tout->addLayout(boutons);

  connect(&ButtonOK_, &QPushButton::clicked, this, &TFormOptions::ButtonOKClick);
  connect(&ButtonAnnuler_, &QPushButton::clicked, this, &QDialog::reject);
  afficheur_ = [this](const QString& texte) {
    QMessageBox::critical(this, QStringLiteral("Options"), texte);
  };
}

TFormOptions::~TFormOptions() = default;

void TFormOptions::showEvent(QShowEvent* event) {
  // The mail dialog may have saved the file since: start from what it holds.
  parametres_.LireConfig();
  SpinJoursArchive_.setValue(parametres_.JoursArchive);
  CheckIgnorerCaches_.setChecked(parametres_.IgnorerCaches);
  QDialog::showEvent(event);
}

void TFormOptions::ButtonOKClick() {
  // The values apply to the next run even when they cannot be saved.
  parametres_.JoursArchive = SpinJoursArchive_.value();
  parametres_.IgnorerCaches = CheckIgnorerCaches_.isChecked();
  const std::string echec = parametres_.EnregistrerConfig();
  if (!echec.empty()) afficheur_(VersQt(echec));
  accept();
}

}  // namespace jumelix
