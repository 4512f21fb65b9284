#include "gui/ExclusionsDialog.h"
#include "gui/TexteQt.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QVBoxLayout>

namespace jumelix {

namespace {

// Long enough that a count does not run at each key, short enough to feel live.
constexpr int kDelaiApercuMs = 300;

}  // namespace

TFormExclusions::TFormExclusions(QWidget* parent, std::string source, std::string chemin)
    : QDialog(parent),
      source_(std::move(source)),
      chemin_(std::move(chemin)),
      LabelGlobal_(QStringLiteral("Motifs exclus de tous les couples (%1) :")
                       .arg(VersQt(chemin_.empty() ? std::string("aucun fichier") : chemin_)),
                   this),
      EditGlobal_(this),
      LabelSource_(this),
      VueSource_(this),
      LabelAutres_(this),
      LabelNote_(QStringLiteral("Jumelix n'écrit jamais dans le répertoire source. Les motifs "
                                "propres à un couple vont dans un fichier .jumelixignore que vous "
                                "écrivez vous-même dans la source, avec l'éditeur de votre choix."),
                 this),
      LabelApercu_(this),
      ButtonEnregistrer_(QStringLiteral("Enregistrer"), this),
      ButtonAnnuler_(QStringLiteral("Annuler"), this),
      Minuterie_(this) {
  setWindowTitle(QStringLiteral("Exclusions"));
  setModal(true);
  const QFont fixe = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  EditGlobal_.setFont(fixe);
  VueSource_.setFont(fixe);
  VueSource_.setReadOnly(true);
  LabelGlobal_.setBuddy(&EditGlobal_);
  LabelGlobal_.setWordWrap(true);
  LabelSource_.setWordWrap(true);
  LabelAutres_.setWordWrap(true);
  LabelNote_.setWordWrap(true);
  LabelApercu_.setWordWrap(true);
  ButtonEnregistrer_.setDefault(false);
  ButtonEnregistrer_.setAutoDefault(false);  // Enter belongs to the editor

  std::string texte;
  const std::string echec = LireExclusionsGlobales(chemin_, texte);
  EditGlobal_.setPlainText(VersQt(echec.empty() ? texte : std::string()));
  // A file that cannot be read must not be replaced by what the user sees as empty.
  ButtonEnregistrer_.setEnabled(echec.empty() && !chemin_.empty());
  if (!echec.empty()) LabelGlobal_.setText(VersQt(echec));
  LabelSource_.setText(source_.empty()
                           ? QStringLiteral("Motifs propres à la source :")
                           : QStringLiteral("Motifs propres à la source (%1), en lecture seule :")
                                 .arg(VersQt(source_ + "/.jumelixignore")));
  VueSource_.setPlainText(VersQt(source_.empty() ? std::string() : LireMotifsSource(source_)));
  LabelAutres_.hide();

  auto* gauche = new QVBoxLayout;
  gauche->addWidget(&LabelGlobal_);
  gauche->addWidget(&EditGlobal_);
  auto* droite = new QVBoxLayout;
  droite->addWidget(&LabelSource_);
  droite->addWidget(&VueSource_);
  droite->addWidget(&LabelAutres_);
  droite->addWidget(&LabelNote_);
  auto* editeurs = new QHBoxLayout;
  editeurs->addLayout(gauche, 1);
  editeurs->addLayout(droite, 1);
  auto* boutons = new QHBoxLayout;
  boutons->addWidget(&LabelApercu_, 1);
  boutons->addWidget(&ButtonEnregistrer_);
  boutons->addWidget(&ButtonAnnuler_);
  auto* tout = new QVBoxLayout(this);
  tout->addLayout(editeurs, 1);
  tout->addLayout(boutons);
  resize(760, 420);

  Minuterie_.setSingleShot(true);
  Minuterie_.setInterval(kDelaiApercuMs);
  connect(&Minuterie_, &QTimer::timeout, this, &TFormExclusions::Actualiser);
  connect(&EditGlobal_, &QPlainTextEdit::textChanged, this, [this] { Minuterie_.start(); });
  connect(&ButtonEnregistrer_, &QPushButton::clicked, this,
          &TFormExclusions::ButtonEnregistrerClick);
  connect(&ButtonAnnuler_, &QPushButton::clicked, this, &QDialog::reject);
  afficheur_ = [this](const QString& t) {
    QMessageBox::critical(this, QStringLiteral("Exclusions"), t);
  };
  Actualiser();
}

TFormExclusions::~TFormExclusions() = default;

void TFormExclusions::Actualiser() {
  TApercu apercu;
  if (!source_.empty()) {
    apercu = CompterExclusions(source_, EditGlobal_.toPlainText().toStdString(), kLimiteApercu);
  }
  LabelApercu_.setText(VersQt(TexteApercu(source_, apercu)));
  // The root's file is on view already; the deeper ones the walk met are named.
  QStringList autres;
  for (const std::string& f : apercu.fichiersSource) {
    if (f.find('/') != std::string::npos) autres << VersQt(f);
  }
  LabelAutres_.setText(QStringLiteral("S'appliquent aussi : ") + autres.join(QStringLiteral(", ")));
  LabelAutres_.setVisible(!autres.isEmpty());
}

void TFormExclusions::ButtonEnregistrerClick() {
  const std::string echec =
      EnregistrerExclusionsGlobales(chemin_, EditGlobal_.toPlainText().toStdString());
  if (!echec.empty()) {
    afficheur_(VersQt(echec));
    return;
  }
  accept();
}

}  // namespace jumelix
