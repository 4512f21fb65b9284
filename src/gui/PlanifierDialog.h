// The "Planifier..." dialog: the time a list is synchronised unattended (daily, or weekly on
// a day), the unit files that schedule writes, shown before and after, and the buttons that
// write and enable it (app/Planificateur.h does both) or remove it. The outcome, or why
// nothing can be scheduled here, shows in the dialog itself. Built for one showing; does not
// own the scheduler; GUI thread only.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "app/Planificateur.h"

namespace jumelix {

class TJumelix;
class IVueJumelix;

class TFormPlanifier : public QDialog {
  Q_OBJECT

 public:
  TFormPlanifier(QWidget* parent, TPlanificateur& planificateur);
  ~TFormPlanifier() override;

  THoraire Horaire() const;

  // The controls, for the tests.
  QComboBox* ComboFrequence() { return &ComboFrequence_; }
  QComboBox* ComboJour() { return &ComboJour_; }
  QTimeEdit* EditHeure() { return &EditHeure_; }
  QLabel* LabelEtat() { return &LabelEtat_; }
  QPlainTextEdit* Apercu() { return &Apercu_; }
  QPushButton* ButtonPlanifier() { return &ButtonPlanifier_; }
  QPushButton* ButtonRetirer() { return &ButtonRetirer_; }
  QPushButton* ButtonFermer() { return &ButtonFermer_; }

 private:
  void Actualiser();
  void ButtonPlanifierClick();
  void ButtonRetirerClick();

  TPlanificateur& planificateur_;
  QLabel LabelListe_;
  QLabel LabelFrequence_;
  QComboBox ComboFrequence_;
  QComboBox ComboJour_;
  QLabel LabelHeure_;
  QTimeEdit EditHeure_;
  QLabel LabelNote_;
  QLabel LabelEtat_;
  QLabel LabelApercu_;
  QPlainTextEdit Apercu_;
  QPushButton ButtonPlanifier_;
  QPushButton ButtonRetirer_;
  QPushButton ButtonFermer_;
};

// "Planifier..." of the main window: asks to save the list first when needed, then shows
// the dialog for the list file.
void OuvrirPlanification(QWidget* parent, TJumelix& jumelix, IVueJumelix& vue);

}  // namespace jumelix
