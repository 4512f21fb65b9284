// The mail settings dialog: a modal view of the process's mail settings (TConfigMail),
// which it edits in place, saves with OK, and tests by sending a test message. The file
// is read again each time the dialog is shown and each time it closes, by any button.
// Its fields scroll where the screen is too small for them; OK and Annuler stay in view.
// GUI thread only. The settings object must outlive the dialog.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <functional>
#include <string>

#include "mail/ConfigMail.h"

namespace jumelix {

class TFormMail : public QDialog {
  Q_OBJECT

 public:
  // Reads the settings file into `parametres` (FormCreate). The main window opens the
  // dialog with exec().
  explicit TFormMail(QWidget* parent = nullptr, TConfigMail& parametres = ParametresMail());
  ~TFormMail() override;

  // The message boxes of the dialog go through this function, so that the tests can
  // read them instead of answering a modal box. Default: a modal QMessageBox.
  using TAfficheur = std::function<void(const QString& texte, bool erreur)>;
  void DefinirAfficheur(TAfficheur afficheur) { afficheur_ = std::move(afficheur); }

  // The controls, for the tests.
  QLineEdit* EditAdresseMail() { return &EditAdresseMail_; }
  // "Mode d'envoi": item 0 the SMTP server, item 1 the system's sendmail (TTransportMail).
  QComboBox* ComboTransport() { return &ComboTransport_; }
  QLineEdit* EditSendmail() { return &EditSendmail_; }
  QLineEdit* EditServeurSMTP() { return &EditServeurSMTP_; }
  QLineEdit* EditPort() { return &EditPort_; }
  // "Sécurité de la connexion": its items follow TSecuriteMail.
  QComboBox* ComboSecurite() { return &ComboSecurite_; }
  QLineEdit* EditAuthNom() { return &EditAuthNom_; }
  QLineEdit* EditAuthPass() { return &EditAuthPass_; }
  QLineEdit* EditJeton() { return &EditJeton_; }
  QLineEdit* EditComplementObjet() { return &EditComplementObjet_; }
  QPushButton* ButtonTester() { return &ButtonTester_; }
  // "Envoi du message de test en cours..." while the test is being sent.
  QLabel* LabelEnvoi() { return &LabelEnvoi_; }
  bool EnvoiEnCours() const { return envoi_en_cours_; }
  QPushButton* ButtonOK() { return &ButtonOK_; }
  QPushButton* ButtonAnnuler() { return &ButtonAnnuler_; }
  QScrollArea* ZoneChamps() { return &ZoneChamps_; }
  QRadioButton* RadioButtonAppChaqueFois() { return &RadioButtonAppChaqueFois_; }
  QRadioButton* RadioButtonAppSiErreur() { return &RadioButtonAppSiErreur_; }
  QRadioButton* RadioButtonAppJamais() { return &RadioButtonAppJamais_; }
  QRadioButton* RadioButtonServChaqueFois() { return &RadioButtonServChaqueFois_; }
  QRadioButton* RadioButtonServSiErreur() { return &RadioButtonServSiErreur_; }
  QRadioButton* RadioButtonServJamais() { return &RadioButtonServJamais_; }

  // Every close (OK, Annuler, Escape, the close box) re-reads the file.
  void done(int resultat) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ButtonOKClick();
  void ButtonAnnulerClick();
  void ButtonTesterClick();
  // Copies the controls into the settings, and back.
  void ReleverChamps();
  void AfficherChamps();
  // Greys out what the chosen transport does not use, and the password when a token
  // command replaces it.
  void ActiverChamps();
  void RelireConfig();
  void Afficher(const std::string& texte, bool erreur);
  // The port as typed (`saisi`) is 1-65535, or nothing (the default port): else the field
  // gets it back, the user is told, and false.
  bool VerifierPort(const QString& saisi);
  // As large as the fields want, within the screen.
  void AjusterTaille();

  TConfigMail& parametres_;
  TAfficheur afficheur_;
  bool envoi_en_cours_ = false;
  bool arret_test_ = false;

  // Parents are declared before their children and the layouts last, so that each
  // member is destroyed before the widget that holds it.
  QScrollArea ZoneChamps_;
  QWidget Champs_;  // shown by ZoneChamps_
  QGroupBox GroupBoxCompte_;
  QGroupBox GroupBoxObjet_;
  QGroupBox GroupBoxQuand_;
  QGroupBox GroupBoxApp_;
  QGroupBox GroupBoxServ_;
  QWidget BarreBoutons_;

  QLabel LabelAdresseMail_;
  QLineEdit EditAdresseMail_;
  QLabel LabelTransport_;
  QComboBox ComboTransport_;
  QLabel LabelSendmail_;
  QLineEdit EditSendmail_;
  QLabel LabelServeurSMTP_;
  QLineEdit EditServeurSMTP_;
  QLabel LabelPort_;
  QLineEdit EditPort_;
  QLabel LabelSecurite_;
  QComboBox ComboSecurite_;
  QLabel LabelAuth_;
  QLabel LabelAuthNom_;
  QLineEdit EditAuthNom_;
  QLabel LabelAuthPass_;
  QLineEdit EditAuthPass_;
  QLabel LabelJeton_;
  QLineEdit EditJeton_;
  QPushButton ButtonTester_;
  QLabel LabelEnvoi_;
  QLabel LabelComplementObjet_;
  QLineEdit EditComplementObjet_;
  QRadioButton RadioButtonAppChaqueFois_;
  QRadioButton RadioButtonAppSiErreur_;
  QRadioButton RadioButtonAppJamais_;
  QRadioButton RadioButtonServChaqueFois_;
  QRadioButton RadioButtonServSiErreur_;
  QRadioButton RadioButtonServJamais_;
  QPushButton ButtonOK_;
  QPushButton ButtonAnnuler_;

  QVBoxLayout LayoutPrincipal_;
  QVBoxLayout LayoutChamps_;
  QGridLayout LayoutCompte_;
  QHBoxLayout LayoutObjet_;
  QHBoxLayout LayoutQuand_;
  QVBoxLayout LayoutApp_;
  QVBoxLayout LayoutServ_;
  QHBoxLayout LayoutBoutons_;
};

}  // namespace jumelix
