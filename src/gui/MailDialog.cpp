#include "gui/MailDialog.h"
#include "gui/TexteQt.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIntValidator>
#include <QMessageBox>
#include <QScrollBar>
#include <QShowEvent>
#include <initializer_list>

#include "gui/Ecran.h"
#include "gui/PompeQt.h"
#include "mail/UMonMail.h"

namespace jumelix {

namespace {

const QString kHintDefaut = QStringLiteral("Valeur conseillée par défaut");

// Restores the normal cursor however the send ends.
class TCurseurAttente {
 public:
  // Busy rather than wait: the cancel button still takes clicks.
  TCurseurAttente() { QGuiApplication::setOverrideCursor(Qt::BusyCursor); }
  ~TCurseurAttente() { QGuiApplication::restoreOverrideCursor(); }
  TCurseurAttente(const TCurseurAttente&) = delete;
  TCurseurAttente& operator=(const TCurseurAttente&) = delete;
};

}  // namespace

TFormMail::TFormMail(QWidget* parent, TConfigMail& parametres)
    : QDialog(parent),
      parametres_(parametres),
      ZoneChamps_(this),
      GroupBoxCompte_(QStringLiteral("Paramètres du compte destinataire"), &Champs_),
      GroupBoxObjet_(QStringLiteral("Texte à ajouter à l'objet du message (facultatif)"), &Champs_),
      GroupBoxQuand_(QStringLiteral("Un mail sera envoyé lorsque Jumelix est appelé ..."),
                     &Champs_),
      GroupBoxApp_(QStringLiteral("... en tant qu'application"), &GroupBoxQuand_),
      GroupBoxServ_(QStringLiteral("... par un service (/S)"), &GroupBoxQuand_),
      BarreBoutons_(this),
      LabelAdresseMail_(QStringLiteral("Adresse e-mail des destinataires"), &GroupBoxCompte_),
      EditAdresseMail_(&GroupBoxCompte_),
      LabelTransport_(QStringLiteral("Mode d'envoi"), &GroupBoxCompte_),
      ComboTransport_(&GroupBoxCompte_),
      LabelSendmail_(QStringLiteral("Programme sendmail :"), &GroupBoxCompte_),
      EditSendmail_(&GroupBoxCompte_),
      LabelServeurSMTP_(QStringLiteral("Serveur SMTP à utiliser"), &GroupBoxCompte_),
      EditServeurSMTP_(&GroupBoxCompte_),
      LabelPort_(QStringLiteral("Port SMTP (habituellement 25)"), &GroupBoxCompte_),
      EditPort_(&GroupBoxCompte_),
      LabelSecurite_(QStringLiteral("Sécurité de la connexion"), &GroupBoxCompte_),
      ComboSecurite_(&GroupBoxCompte_),
      LabelAuth_(QStringLiteral("Si le serveur smtp exige une authentification, indiquez le nom "
                                "et le mot de passe. Sinon laissez ces deux zones vides."),
                 &GroupBoxCompte_),
      LabelAuthNom_(QStringLiteral("Nom"), &GroupBoxCompte_),
      EditAuthNom_(&GroupBoxCompte_),
      LabelAuthPass_(QStringLiteral("Mot de passe"), &GroupBoxCompte_),
      EditAuthPass_(&GroupBoxCompte_),
      LabelJeton_(QStringLiteral("Commande du jeton d'accès :"), &GroupBoxCompte_),
      EditJeton_(&GroupBoxCompte_),
      ButtonTester_(QStringLiteral("Tester"), &GroupBoxCompte_),
      LabelEnvoi_(&GroupBoxCompte_),
      LabelComplementObjet_(QStringLiteral("Cinquante caractères maxi"), &GroupBoxObjet_),
      EditComplementObjet_(&GroupBoxObjet_),
      RadioButtonAppChaqueFois_(QStringLiteral("A chaque fois"), &GroupBoxApp_),
      RadioButtonAppSiErreur_(QStringLiteral("Seulement en cas d'erreur"), &GroupBoxApp_),
      RadioButtonAppJamais_(QStringLiteral("Jamais"), &GroupBoxApp_),
      RadioButtonServChaqueFois_(QStringLiteral("A chaque fois"), &GroupBoxServ_),
      RadioButtonServSiErreur_(QStringLiteral("Seulement en cas d'erreur"), &GroupBoxServ_),
      RadioButtonServJamais_(QStringLiteral("Jamais"), &GroupBoxServ_),
      ButtonOK_(QStringLiteral("OK"), &BarreBoutons_),
      ButtonAnnuler_(QStringLiteral("Annuler"), &BarreBoutons_) {
  setWindowTitle(QStringLiteral("Envoi du contre-rendu par mail (facultatif)"));
  setObjectName(QStringLiteral("FormMail"));

  EditAdresseMail_.setToolTip(
      QStringLiteral("Si plusieurs adresses, séparez-les par des points-virgules."));
  EditPort_.setText(QStringLiteral("25"));
  EditPort_.setMaximumWidth(70);
  // Digits only, up to 65535; what the validator lets through half-typed ("0", "70000")
  // is refused by OK and Tester.
  EditPort_.setValidator(new QIntValidator(1, 65535, &EditPort_));  // owned by the field
  EditPort_.setToolTip(QStringLiteral("Un nombre de 1 à 65535 ; vide : 25."));
  EditAuthPass_.setEchoMode(QLineEdit::Password);
  // In the order of TTransportMail.
  ComboTransport_.addItem(QStringLiteral("Serveur SMTP"));
  ComboTransport_.addItem(QStringLiteral("Programme sendmail du système"));
  EditSendmail_.setText(QString::fromLatin1(kSendmailParDefaut));
  EditSendmail_.setToolTip(
      QStringLiteral("Le programme du système qui remet le mail (compatible sendmail)."));
  EditJeton_.setToolTip(
      QStringLiteral("Facultatif. Commande qui affiche un jeton d'accès OAuth 2 ; si elle est "
                     "indiquée, le serveur SMTP reçoit ce jeton au lieu du mot de passe."));
  // In the order of TSecuriteMail.
  ComboSecurite_.addItem(QStringLiteral("STARTTLS si le serveur le propose"));
  ComboSecurite_.addItem(QStringLiteral("TLS exigé (STARTTLS, ou TLS direct sur le port 465)"));
  ComboSecurite_.addItem(QStringLiteral("Aucune (tout en clair, mot de passe compris)"));
  ComboSecurite_.setToolTip(
      QStringLiteral("Port 587 : STARTTLS. Port 465 : TLS direct. Le mot de passe n'est "
                     "jamais envoyé en clair sauf avec « Aucune »."));
  LabelAuth_.setWordWrap(true);
  RadioButtonAppJamais_.setChecked(true);
  RadioButtonAppJamais_.setToolTip(kHintDefaut);
  RadioButtonServSiErreur_.setChecked(true);
  RadioButtonServSiErreur_.setToolTip(kHintDefaut);

  const std::pair<QObject*, const char*> noms[] = {
      {&EditAdresseMail_, "EditAdresseMail"},
      {&ComboTransport_, "ComboTransport"},
      {&EditSendmail_, "EditSendmail"},
      {&EditServeurSMTP_, "EditServeurSMTP"},
      {&EditPort_, "EditPort"},
      {&ComboSecurite_, "ComboSecurite"},
      {&EditAuthNom_, "EditAuthNom"},
      {&EditAuthPass_, "EditAuthPass"},
      {&EditJeton_, "EditJeton"},
      {&ButtonTester_, "ButtonTester"},
      {&EditComplementObjet_, "EditComplementObjet"},
      {&RadioButtonAppChaqueFois_, "RadioButtonAppChaqueFois"},
      {&RadioButtonAppSiErreur_, "RadioButtonAppSiErreur"},
      {&RadioButtonAppJamais_, "RadioButtonAppJamais"},
      {&RadioButtonServChaqueFois_, "RadioButtonServChaqueFois"},
      {&RadioButtonServSiErreur_, "RadioButtonServSiErreur"},
      {&RadioButtonServJamais_, "RadioButtonServJamais"},
      {&ButtonOK_, "ButtonOK"},
      {&ButtonAnnuler_, "ButtonAnnuler"},
  };
  for (const auto& [objet, nom] : noms) objet->setObjectName(QString::fromLatin1(nom));

  LabelAdresseMail_.setBuddy(&EditAdresseMail_);
  LabelTransport_.setBuddy(&ComboTransport_);
  LabelSendmail_.setBuddy(&EditSendmail_);
  LabelServeurSMTP_.setBuddy(&EditServeurSMTP_);
  LabelPort_.setBuddy(&EditPort_);
  LabelSecurite_.setBuddy(&ComboSecurite_);
  LabelAuthNom_.setBuddy(&EditAuthNom_);
  LabelAuthPass_.setBuddy(&EditAuthPass_);
  LabelJeton_.setBuddy(&EditJeton_);
  LabelComplementObjet_.setBuddy(&EditComplementObjet_);

  LayoutCompte_.addWidget(&LabelAdresseMail_, 0, 0);
  LayoutCompte_.addWidget(&EditAdresseMail_, 0, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelTransport_, 1, 0);
  LayoutCompte_.addWidget(&ComboTransport_, 1, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelSendmail_, 2, 0);
  LayoutCompte_.addWidget(&EditSendmail_, 2, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelServeurSMTP_, 3, 0);
  LayoutCompte_.addWidget(&EditServeurSMTP_, 3, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelPort_, 4, 0);
  LayoutCompte_.addWidget(&EditPort_, 4, 1, Qt::AlignLeft);
  LayoutCompte_.addWidget(&LabelSecurite_, 5, 0);
  LayoutCompte_.addWidget(&ComboSecurite_, 5, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelAuth_, 6, 0, 1, 3);
  LayoutCompte_.addWidget(&LabelAuthNom_, 7, 0);
  LayoutCompte_.addWidget(&EditAuthNom_, 7, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelAuthPass_, 8, 0);
  LayoutCompte_.addWidget(&EditAuthPass_, 8, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelJeton_, 9, 0);
  LayoutCompte_.addWidget(&EditJeton_, 9, 1, 1, 2);
  LayoutCompte_.addWidget(&LabelEnvoi_, 10, 0, 1, 2);
  LayoutCompte_.addWidget(&ButtonTester_, 10, 2, Qt::AlignRight);
  LabelEnvoi_.hide();
  LayoutCompte_.setColumnStretch(1, 1);
  GroupBoxCompte_.setLayout(&LayoutCompte_);

  LayoutObjet_.addWidget(&LabelComplementObjet_);
  LayoutObjet_.addWidget(&EditComplementObjet_, 1);
  GroupBoxObjet_.setLayout(&LayoutObjet_);

  LayoutApp_.addWidget(&RadioButtonAppChaqueFois_);
  LayoutApp_.addWidget(&RadioButtonAppSiErreur_);
  LayoutApp_.addWidget(&RadioButtonAppJamais_);
  GroupBoxApp_.setLayout(&LayoutApp_);
  LayoutServ_.addWidget(&RadioButtonServChaqueFois_);
  LayoutServ_.addWidget(&RadioButtonServSiErreur_);
  LayoutServ_.addWidget(&RadioButtonServJamais_);
  GroupBoxServ_.setLayout(&LayoutServ_);
  LayoutQuand_.addWidget(&GroupBoxApp_);
  LayoutQuand_.addWidget(&GroupBoxServ_);
  GroupBoxQuand_.setLayout(&LayoutQuand_);

  ButtonOK_.setDefault(true);
  LayoutBoutons_.setContentsMargins(0, 0, 0, 0);
  LayoutBoutons_.addStretch(1);
  LayoutBoutons_.addWidget(&ButtonOK_);
  LayoutBoutons_.addWidget(&ButtonAnnuler_);
  BarreBoutons_.setLayout(&LayoutBoutons_);

  LayoutChamps_.setContentsMargins(0, 0, 0, 0);
  LayoutChamps_.addWidget(&GroupBoxCompte_);
  LayoutChamps_.addWidget(&GroupBoxObjet_);
  LayoutChamps_.addWidget(&GroupBoxQuand_);
  LayoutChamps_.addStretch(1);
  Champs_.setLayout(&LayoutChamps_);
  ZoneChamps_.setFrameShape(QFrame::NoFrame);
  ZoneChamps_.setWidgetResizable(true);
  ZoneChamps_.setWidget(&Champs_);
  LayoutPrincipal_.addWidget(&ZoneChamps_, 1);
  LayoutPrincipal_.addWidget(&BarreBoutons_);
  setLayout(&LayoutPrincipal_);

  QWidget* ordre[] = {&EditAdresseMail_,
                      &ComboTransport_,
                      &EditSendmail_,
                      &EditServeurSMTP_,
                      &EditPort_,
                      &ComboSecurite_,
                      &EditAuthNom_,
                      &EditAuthPass_,
                      &EditJeton_,
                      &ButtonTester_,
                      &EditComplementObjet_,
                      &RadioButtonAppChaqueFois_,
                      &RadioButtonAppSiErreur_,
                      &RadioButtonAppJamais_,
                      &RadioButtonServChaqueFois_,
                      &RadioButtonServSiErreur_,
                      &RadioButtonServJamais_,
                      &ButtonOK_,
                      &ButtonAnnuler_};
  for (size_t i = 1; i < std::size(ordre); ++i) setTabOrder(ordre[i - 1], ordre[i]);

  connect(&ButtonOK_, &QPushButton::clicked, this, &TFormMail::ButtonOKClick);
  connect(&ButtonAnnuler_, &QPushButton::clicked, this, &TFormMail::ButtonAnnulerClick);
  connect(&ButtonTester_, &QPushButton::clicked, this, &TFormMail::ButtonTesterClick);
  connect(&ComboTransport_, &QComboBox::currentIndexChanged, this, &TFormMail::ActiverChamps);
  connect(&EditJeton_, &QLineEdit::textChanged, this, &TFormMail::ActiverChamps);

  InstallerPompeQt();
  // FormCreate: the settings as the file holds them.
  parametres_.LireConfig();
  AfficherChamps();
}

TFormMail::~TFormMail() = default;

void TFormMail::ReleverChamps() {
  parametres_.AdresseMail = VersStd(EditAdresseMail_.text());
  parametres_.ServeurSMTP = VersStd(EditServeurSMTP_.text());
  parametres_.Port = VersStd(EditPort_.text());
  parametres_.AuthNom = VersStd(EditAuthNom_.text());
  std::string pass = VersStd(EditAuthPass_.text());
  parametres_.AuthPass = pass;
  EffacerTexte(pass);
  parametres_.ComplementObjet = VersStd(EditComplementObjet_.text());
  parametres_.Transport =
      ComboTransport_.currentIndex() == 1 ? TTransportMail::tmSendmail : TTransportMail::tmSmtp;
  parametres_.Sendmail = VersStd(EditSendmail_.text());
  parametres_.Jeton = VersStd(EditJeton_.text());
  switch (ComboSecurite_.currentIndex()) {
    case 1:
      parametres_.Securite = TSecuriteMail::smTlsExige;
      break;
    case 2:
      parametres_.Securite = TSecuriteMail::smAucune;
      break;
    default:
      parametres_.Securite = TSecuriteMail::smStartTlsSiPropose;
      break;
  }
  parametres_.QuandApp = RadioButtonAppChaqueFois_.isChecked() ? TQuandMail::qmChaqueFois
                         : RadioButtonAppSiErreur_.isChecked() ? TQuandMail::qmSiErreur
                                                               : TQuandMail::qmJamais;
  parametres_.QuandServ = RadioButtonServChaqueFois_.isChecked() ? TQuandMail::qmChaqueFois
                          : RadioButtonServSiErreur_.isChecked() ? TQuandMail::qmSiErreur
                                                                 : TQuandMail::qmJamais;
}

void TFormMail::AfficherChamps() {
  // Only changed texts are set again, so that a field being edited keeps its cursor.
  auto mettre = [](QLineEdit& edit, const std::string& valeur) {
    QString texte = VersQt(valeur);
    if (edit.text() != texte) edit.setText(texte);
  };
  mettre(EditAdresseMail_, parametres_.AdresseMail);
  mettre(EditServeurSMTP_, parametres_.ServeurSMTP);
  mettre(EditPort_, parametres_.Port);
  mettre(EditAuthNom_, parametres_.AuthNom);
  {
    std::string pass = parametres_.AuthPass.Copie();
    mettre(EditAuthPass_, pass);
    EffacerTexte(pass);
  }
  mettre(EditComplementObjet_, parametres_.ComplementObjet);
  mettre(EditSendmail_, parametres_.Sendmail);
  mettre(EditJeton_, parametres_.Jeton);
  ComboTransport_.setCurrentIndex(parametres_.Transport == TTransportMail::tmSendmail ? 1 : 0);
  ActiverChamps();  // also when the transport shown is unchanged
  ComboSecurite_.setCurrentIndex(parametres_.Securite == TSecuriteMail::smTlsExige ? 1
                                 : parametres_.Securite == TSecuriteMail::smAucune ? 2
                                                                                   : 0);
  switch (parametres_.QuandApp) {
    case TQuandMail::qmChaqueFois:
      RadioButtonAppChaqueFois_.setChecked(true);
      break;
    case TQuandMail::qmSiErreur:
      RadioButtonAppSiErreur_.setChecked(true);
      break;
    case TQuandMail::qmJamais:
      RadioButtonAppJamais_.setChecked(true);
      break;
  }
  switch (parametres_.QuandServ) {
    case TQuandMail::qmChaqueFois:
      RadioButtonServChaqueFois_.setChecked(true);
      break;
    case TQuandMail::qmSiErreur:
      RadioButtonServSiErreur_.setChecked(true);
      break;
    case TQuandMail::qmJamais:
      RadioButtonServJamais_.setChecked(true);
      break;
  }
}

void TFormMail::ActiverChamps() {
  const bool smtp = ComboTransport_.currentIndex() != 1;
  // A token command of blanks only is no token command: the password is used.
  const bool jeton = !EditJeton_.text().trimmed().isEmpty();
  using Champs = std::initializer_list<QWidget*>;
  for (QWidget* w : Champs{&LabelSendmail_, &EditSendmail_}) w->setEnabled(!smtp);
  for (QWidget* w : Champs{&LabelServeurSMTP_, &EditServeurSMTP_, &LabelPort_, &EditPort_,
                           &LabelSecurite_, &ComboSecurite_, &LabelAuth_, &LabelAuthNom_,
                           &EditAuthNom_, &LabelJeton_, &EditJeton_})
    w->setEnabled(smtp);
  for (QWidget* w : Champs{&LabelAuthPass_, &EditAuthPass_}) w->setEnabled(smtp && !jeton);
}

void TFormMail::RelireConfig() {
  // A setting the file does not hold keeps what is in its field.
  ReleverChamps();
  parametres_.LireConfig();
  AfficherChamps();
}

void TFormMail::showEvent(QShowEvent* event) {
  // While hidden the settings are the truth (the run may have trimmed them): no controls
  // to collect first.
  if (!event->spontaneous()) {
    parametres_.LireConfig();
    AfficherChamps();
    AjusterTaille();
  }
  QDialog::showEvent(event);
}

void TFormMail::AjusterTaille() {
  LayoutChamps_.activate();
  LayoutPrincipal_.activate();
  // The fields' own width, and the height their wrapped texts need at that width.
  const int largeur = Champs_.sizeHint().width();
  const int hauteur =
      Champs_.hasHeightForWidth() ? Champs_.heightForWidth(largeur) : Champs_.sizeHint().height();
  const QMargins m = LayoutPrincipal_.contentsMargins();
  QSize voulue(largeur + m.left() + m.right(), hauteur + LayoutPrincipal_.spacing() +
                                                   BarreBoutons_.sizeHint().height() + m.top() +
                                                   m.bottom());
  const QSize place = PlaceFenetre(this);
  // Scrolled, the fields leave room for the scroll bar beside them.
  if (voulue.height() > place.height())
    voulue.rwidth() += ZoneChamps_.verticalScrollBar()->sizeHint().width();
  resize(voulue.boundedTo(place).expandedTo(minimumSizeHint()));
  TenirDansEcran(this);
}

void TFormMail::done(int resultat) {
  // Closed (by the window's close box) while the test is sent: the send is cancelled
  // first, the dialog stays until it has returned.
  if (envoi_en_cours_) {
    arret_test_ = true;
    return;
  }
  RelireConfig();
  QDialog::done(resultat);
}

void TFormMail::Afficher(const std::string& texte, bool erreur) {
  if (afficheur_) {
    afficheur_(VersQt(texte), erreur);
    return;
  }
  QMessageBox boite(erreur ? QMessageBox::Warning : QMessageBox::Information,
                    QStringLiteral("Jumelix"), VersQt(texte), QMessageBox::Ok, this);
  ReserverTitre(boite);
  boite.exec();
}

bool TFormMail::VerifierPort(const QString& saisi) {
  if (ComboTransport_.currentIndex() == 1) return true;  // sendmail uses no port
  const QString texte = saisi.trimmed();
  bool nombre = false;
  const int port = texte.toInt(&nombre);
  if (texte.isEmpty() || (nombre && port >= 1 && port <= 65535)) return true;
  // The settings check has put the default in its place: the user sees what was typed.
  parametres_.Port = VersStd(saisi);
  AfficherChamps();
  Afficher("Le port SMTP doit être un nombre de 1 à 65535.", true);
  EditPort_.setFocus();
  EditPort_.selectAll();
  return false;
}

void TFormMail::ButtonOKClick() {
  const QString port = EditPort_.text();
  // Both the recipient and the server emptied switch the mail off: the port is unused.
  const bool arret = EditAdresseMail_.text().trimmed().isEmpty() &&
                     EditServeurSMTP_.text().trimmed().isEmpty();
  ReleverChamps();
  // Emptying both the recipient and the server is how the report mail is switched off.
  std::string erreur = parametres_.VerifierSaisie(/*arretPermis=*/true);
  AfficherChamps();
  if (!erreur.empty()) {
    Afficher(erreur, true);
    return;
  }
  if (!arret && !VerifierPort(port)) return;
  std::string echec = parametres_.EnregistrerConfig();
  if (!echec.empty()) Afficher(echec, true);
  accept();
}

void TFormMail::ButtonAnnulerClick() { reject(); }

void TFormMail::ButtonTesterClick() {
  // A click during the send (the wait lets this button's clicks through) cancels it.
  if (envoi_en_cours_) {
    arret_test_ = true;
    ButtonTester_.setEnabled(false);
    LabelEnvoi_.setText(QStringLiteral("Annulation de l'envoi..."));
    return;
  }
  const QString port = EditPort_.text();
  ReleverChamps();
  std::string erreur = parametres_.VerifierSaisie();
  AfficherChamps();
  if (!erreur.empty()) {
    Afficher(erreur, true);
    return;
  }
  if (!VerifierPort(port)) return;
  std::string resultat;
  envoi_en_cours_ = true;
  arret_test_ = false;
  ButtonTester_.setText(QStringLiteral("Annuler le test"));
  ButtonTester_.setProperty(kSaisiePendantAttente, true);
  LabelEnvoi_.setText(QStringLiteral("Envoi du message de test en cours..."));
  LabelEnvoi_.show();
  {
    TCurseurAttente curseur;
    resultat = EnvoyerMessageTest(parametres_, [this] { return arret_test_; });
  }
  envoi_en_cours_ = false;
  ButtonTester_.setProperty(kSaisiePendantAttente, false);
  ButtonTester_.setText(QStringLiteral("Tester"));
  ButtonTester_.setEnabled(true);
  LabelEnvoi_.hide();
  if (arret_test_) {
    Afficher("Envoi du message de test annulé.", false);
  } else if (resultat.empty()) {
    Afficher("Envoyé", false);
  } else {
    Afficher("Echec. " + resultat, true);
  }
}

}  // namespace jumelix
