#include "gui/PlanifierDialog.h"
#include "gui/TexteQt.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "app/UJumelix.h"

namespace jumelix {

namespace {

constexpr int kLargeurApercu = 560;
constexpr int kHauteurApercu = 240;

// The commands Activer runs, as the user would type them.
QString CommandesActivation(const TUnitesListe& u) {
  return QStringLiteral("systemctl --user daemon-reload\nsystemctl --user enable --now %1\n")
      .arg(VersQt(u.timer));
}

}  // namespace

TFormPlanifier::TFormPlanifier(QWidget* parent, TPlanificateur& planificateur)
    : QDialog(parent),
      planificateur_(planificateur),
      LabelListe_(this),
      LabelFrequence_(QStringLiteral("&Fréquence :"), this),
      ComboFrequence_(this),
      ComboJour_(this),
      LabelHeure_(QStringLiteral("&Heure :"), this),
      EditHeure_(this),
      LabelNote_(QStringLiteral(
                     "Le minuteur de systemd lance « jumelix /S » sur la liste enregistrée, sans "
                     "fenêtre ; le compte rendu va au journal, et par mail si c'est réglé. Il ne "
                     "tourne que pendant une session ouverte, sauf après « loginctl "
                     "enable-linger » ; un lancement manqué (machine éteinte) est rattrapé au "
                     "démarrage suivant."),
                 this),
      LabelEtat_(this),
      LabelApercu_(QStringLiteral("Fichiers que la planification écrit, et ses commandes :"), this),
      Apercu_(this),
      ButtonPlanifier_(QStringLiteral("&Planifier"), this),
      ButtonRetirer_(QStringLiteral("&Retirer la planification"), this),
      ButtonFermer_(QStringLiteral("Fermer"), this) {
  setWindowTitle(QStringLiteral("Planifier la synchronisation"));
  setModal(true);
  LabelListe_.setText(QStringLiteral("Liste : %1").arg(VersQt(planificateur_.Liste())));
  LabelListe_.setTextFormat(Qt::PlainText);
  LabelListe_.setWordWrap(true);
  ComboFrequence_.addItems({QStringLiteral("Chaque jour"), QStringLiteral("Chaque semaine, le")});
  for (const std::string& jour : NomsJours()) ComboJour_.addItem(VersQt(jour));
  EditHeure_.setDisplayFormat(QStringLiteral("HH:mm"));
  LabelFrequence_.setBuddy(&ComboFrequence_);
  LabelHeure_.setBuddy(&EditHeure_);
  LabelNote_.setWordWrap(true);
  LabelEtat_.setWordWrap(true);
  LabelEtat_.setTextFormat(Qt::PlainText);
  LabelEtat_.setTextInteractionFlags(Qt::TextSelectableByMouse);
  Apercu_.setReadOnly(true);
  Apercu_.setLineWrapMode(QPlainTextEdit::NoWrap);
  Apercu_.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Apercu_.setMinimumSize(kLargeurApercu, kHauteurApercu);
  LabelApercu_.setBuddy(&Apercu_);
  ButtonPlanifier_.setDefault(true);

  auto* horaire = new QHBoxLayout;
  horaire->addWidget(&LabelFrequence_);
  horaire->addWidget(&ComboFrequence_);
  horaire->addWidget(&ComboJour_);
  horaire->addSpacing(12);
  horaire->addWidget(&LabelHeure_);
  horaire->addWidget(&EditHeure_);
  horaire->addStretch();
  auto* boutons = new QHBoxLayout;
  boutons->addWidget(&ButtonPlanifier_);
  boutons->addWidget(&ButtonRetirer_);
  boutons->addStretch();
  boutons->addWidget(&ButtonFermer_);
  auto* principal = new QVBoxLayout(this);
  principal->addWidget(&LabelListe_);
  principal->addLayout(horaire);
  principal->addWidget(&LabelNote_);
  principal->addWidget(&LabelApercu_);
  principal->addWidget(&Apercu_, 1);
  principal->addWidget(&LabelEtat_);
  principal->addLayout(boutons);

  const std::optional<THoraire> ecrit = planificateur_.HoraireEcrit();
  const THoraire h = ecrit.value_or(THoraire{});
  ComboFrequence_.setCurrentIndex(h.frequence == TFrequence::Hebdomadaire ? 1 : 0);
  ComboJour_.setCurrentIndex(h.jour);
  EditHeure_.setTime(QTime(h.heure, h.minute));
  if (!planificateur_.Valide()) {
    LabelEtat_.setText(VersQt(planificateur_.Erreur()));
  } else if (ecrit) {
    LabelEtat_.setText(QStringLiteral("Déjà planifiée %1 (minuteur %2).")
                           .arg(VersQt(DescriptionHoraire(*ecrit)), VersQt(planificateur_.Unites().timer)));
  } else {
    LabelEtat_.setText(QStringLiteral("Cette liste n'est pas planifiée."));
  }
  ButtonPlanifier_.setEnabled(planificateur_.Valide());
  ButtonRetirer_.setEnabled(planificateur_.Valide() && ecrit.has_value());

  connect(&ComboFrequence_, &QComboBox::currentIndexChanged, this, &TFormPlanifier::Actualiser);
  connect(&ComboJour_, &QComboBox::currentIndexChanged, this, &TFormPlanifier::Actualiser);
  connect(&EditHeure_, &QTimeEdit::timeChanged, this, &TFormPlanifier::Actualiser);
  connect(&ButtonPlanifier_, &QPushButton::clicked, this, &TFormPlanifier::ButtonPlanifierClick);
  connect(&ButtonRetirer_, &QPushButton::clicked, this, &TFormPlanifier::ButtonRetirerClick);
  connect(&ButtonFermer_, &QPushButton::clicked, this, &QDialog::accept);
  Actualiser();
}

TFormPlanifier::~TFormPlanifier() = default;

THoraire TFormPlanifier::Horaire() const {
  THoraire h;
  h.frequence =
      ComboFrequence_.currentIndex() == 1 ? TFrequence::Hebdomadaire : TFrequence::Quotidienne;
  h.jour = std::max(0, ComboJour_.currentIndex());
  h.heure = EditHeure_.time().hour();
  h.minute = EditHeure_.time().minute();
  return h;
}

void TFormPlanifier::Actualiser() {
  ComboJour_.setEnabled(ComboFrequence_.currentIndex() == 1);
  QString texte;
  for (const TFichierUnite& f : planificateur_.Fichiers(Horaire())) {
    texte += QStringLiteral("# Fichier %1\n").arg(VersQt(f.chemin));
    texte += VersQt(f.texte);
    texte += QLatin1Char('\n');
  }
  if (planificateur_.Valide()) {
    texte += QStringLiteral("# Commandes\n");
    texte += CommandesActivation(planificateur_.Unites());
  }
  Apercu_.setPlainText(texte);
}

void TFormPlanifier::ButtonPlanifierClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TIssuePlanification issue = planificateur_.Activer(Horaire());
  QApplication::restoreOverrideCursor();
  LabelEtat_.setText(VersQt(issue.message));
  ButtonRetirer_.setEnabled(planificateur_.HoraireEcrit().has_value());
}

void TFormPlanifier::ButtonRetirerClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const TIssuePlanification issue = planificateur_.Retirer();
  QApplication::restoreOverrideCursor();
  LabelEtat_.setText(VersQt(issue.message));
  ButtonRetirer_.setEnabled(planificateur_.HoraireEcrit().has_value());
}

void OuvrirPlanification(QWidget* parent, TJumelix& jumelix, IVueJumelix& vue) {
  if (!PreparerListePourPlanifier(jumelix, vue)) return;
  TPlanificateur planificateur = TPlanificateur::PourListe(jumelix.FichierListe());
  TFormPlanifier dialogue(parent, planificateur);
  dialogue.exec();
}

}  // namespace jumelix
