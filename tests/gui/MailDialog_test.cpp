// The mail settings dialog on the offscreen platform: its controls, the OK, Annuler,
// Escape and Tester paths, and what each leaves in the settings and in the file.
#include "gui/MailDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "gui/PompeQt.h"
#include "gui/RepondeurBoites.h"
#include "mail/ConfigMail.h"
#include "mail/UCryptePass.h"
#include "mail/UMonMail.h"
#include "net/AttenteMessages.h"
#include "shared/URoutines.h"
#include "support/MainQtTest.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpServer.h"

namespace jumelix {

class MailDialogTest : public QObject {
  Q_OBJECT

 private:
  struct TMessageVu {
    QString texte;
    bool erreur;
  };

  std::unique_ptr<QTemporaryDir> dir_;
  std::vector<TMessageVu> messages_;

  QString Chemin() const { return dir_->path() + QStringLiteral("/jumelix/JumelixConfig.dat"); }
  void EcrireFichier(const QByteArray& octets) {
    QDir().mkpath(dir_->path() + QStringLiteral("/jumelix"));
    QFile f(Chemin());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(octets);
  }
  QByteArray LireFichier() {
    QFile f(Chemin());
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
  }
  void Capturer(TFormMail& dlg) {
    dlg.DefinirAfficheur([this](const QString& t, bool e) { messages_.push_back({t, e}); });
  }
  static void Adresser(TFormMail& dlg, uint16_t port) {
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.EditServeurSMTP()->setText(QStringLiteral("127.0.0.1"));
    dlg.EditPort()->setText(QString::number(port));
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qputenv("XDG_CONFIG_HOME", dir_->path().toUtf8());
    messages_.clear();
  }
  void cleanup() {
    dir_.reset();
    TMonMail::DefinirDelaiPourTests(30000);
    InstallerPompeQt();
  }

  void controlsDefaultsAndTabOrder() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Envoi du contre-rendu par mail (facultatif)"));
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("25"));
    QCOMPARE(dlg.EditAdresseMail()->text(), QString());
    QCOMPARE(dlg.EditAuthPass()->echoMode(), QLineEdit::Password);
    QVERIFY(dlg.RadioButtonAppJamais()->isChecked());
    QVERIFY(dlg.RadioButtonServSiErreur()->isChecked());
    QCOMPARE(dlg.RadioButtonAppJamais()->toolTip(), QStringLiteral("Valeur conseillée par défaut"));
    QCOMPARE(dlg.EditAdresseMail()->toolTip(),
             QStringLiteral("Si plusieurs adresses, séparez-les par des points-virgules."));
    QCOMPARE(dlg.ButtonTester()->text(), QStringLiteral("Tester"));
    QCOMPARE(dlg.ButtonAnnuler()->text(), QStringLiteral("Annuler"));
    QVERIFY(dlg.ButtonOK()->isDefault());

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QWidget* attendus[] = {dlg.EditAdresseMail(), dlg.ComboTransport(), dlg.EditSendmail(),
                           dlg.EditServeurSMTP(), dlg.EditPort(),       dlg.ComboSecurite(),
                           dlg.EditAuthNom(),     dlg.EditAuthPass(),   dlg.EditJeton(),
                           dlg.ButtonTester()};
    // The next control Tab reaches: labels and group boxes take no focus.
    auto suivant = [](QWidget* w) {
      do {
        w = w->nextInFocusChain();
      } while ((w->focusPolicy() & Qt::TabFocus) == 0);
      return w;
    };
    for (size_t i = 1; i < std::size(attendus); ++i) {
      QCOMPARE(suivant(attendus[i - 1]), attendus[i]);
    }
    // Each radio button sits in the group of its run mode: choosing one leaves the other.
    dlg.RadioButtonAppChaqueFois()->setChecked(true);
    QVERIFY(!dlg.RadioButtonAppJamais()->isChecked());
    QVERIFY(dlg.RadioButtonServSiErreur()->isChecked());
    dlg.reject();
  }

  void creationReadsTheFile() {
    EcrireFichier("Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nNOM=jean\r\nPASS=" +
                  QByteArray::fromStdString(CrypterMotDePasse("pâss")) +
                  "\r\nPort=587\r\nQdApp=ASE\r\nQdServ=SCF\r\nCO=Lyon\r\n");
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    QCOMPARE(dlg.EditAdresseMail()->text(), QStringLiteral("a@x.fr"));
    QCOMPARE(dlg.EditAuthPass()->text(), QStringLiteral("pâss"));
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("587"));
    QVERIFY(dlg.RadioButtonAppSiErreur()->isChecked());
    QVERIFY(dlg.RadioButtonServChaqueFois()->isChecked());
    QCOMPARE(dlg.EditComplementObjet()->text(), QStringLiteral("Lyon"));
    QCOMPARE(p.AuthNom, std::string("jean"));  // the settings the run uses
  }

  void okRefusesBadFieldsAndSavesNothing() {
    struct Cas {
      const char *adresse, *serveur, *nom, *pass, *attendu;
    } cas[] = {
        {"sans-arobase", "smtp", "", "", "L'adresse mail ne semble pas correcte"},
        {"a@x", "smtp", "nom", "",
         "Le nom et le mot de passe doivent être tous les deux vides (pas d'authentification) "
         "ou tous les deux non vides (authentification)"},
        {"a@x", "smtp", "", "pass",
         "Le nom et le mot de passe doivent être tous les deux vides (pas d'authentification) "
         "ou tous les deux non vides (authentification)"},
        {"a@x", "", "", "", "Il manque le serveur SMTP"},
    };
    for (const Cas& k : cas) {
      messages_.clear();
      TConfigMail p;
      TFormMail dlg(nullptr, p);
      Capturer(dlg);
      dlg.show();
      dlg.EditAdresseMail()->setText(QString::fromUtf8(k.adresse));
      dlg.EditServeurSMTP()->setText(QString::fromUtf8(k.serveur));
      dlg.EditAuthNom()->setText(QString::fromUtf8(k.nom));
      dlg.EditAuthPass()->setText(QString::fromUtf8(k.pass));
      QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
      QCOMPARE(messages_.size(), size_t{1});
      QCOMPARE(messages_[0].texte, QString::fromUtf8(k.attendu));
      QVERIFY(dlg.isVisible());  // the dialog stays open
      QVERIFY(!QFile::exists(Chemin()));
      dlg.reject();
    }
  }

  void okRewritesThePortTrimsAndSaves() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.EditAdresseMail()->setText(QStringLiteral("  a@x.fr  "));
    dlg.EditServeurSMTP()->setText(QStringLiteral(" smtp.x.fr"));
    dlg.EditComplementObjet()->setText(QString(70, QLatin1Char('c')));
    dlg.RadioButtonServJamais()->setChecked(true);
    // The port field takes digits only; what is not 1-65535 is refused, not saved as 25.
    dlg.EditPort()->clear();
    dlg.EditPort()->setFocus();
    QTest::keyClicks(dlg.EditPort(), QStringLiteral("a8b"));
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("8"));
    for (const QString& refuse : {QStringLiteral("abc"), QStringLiteral("0"), QStringLiteral("70000")}) {
      messages_.clear();
      dlg.EditPort()->setText(refuse);
      QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
      QCOMPARE(messages_.size(), size_t{1});
      QCOMPARE(messages_[0].texte, QStringLiteral("Le port SMTP doit être un nombre de 1 à 65535."));
      QVERIFY(messages_[0].erreur);
      QVERIFY(dlg.isVisible());
      QCOMPARE(dlg.EditPort()->text(), refuse);
      QVERIFY(!QFile::exists(Chemin()));
    }
    messages_.clear();
    dlg.EditPort()->clear();  // empty: the usual port
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(messages_.empty());
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(LireFichier(), QByteArray("Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nPort=25\r\nQdApp=AJ\r\n"
                                       "QdServ=SJ\r\nCO=") +
                                QByteArray(50, 'c') + "\r\n");
    QCOMPARE(QFile::permissions(Chemin()), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadUser | QFileDevice::WriteUser);
    // The closing re-read leaves what the file holds.
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("25"));
    QCOMPARE(dlg.EditAdresseMail()->text(), QStringLiteral("a@x.fr"));
    QCOMPARE(dlg.EditComplementObjet()->text(), QString(50, QLatin1Char('c')));
    QCOMPARE(p.ServeurSMTP, std::string("smtp.x.fr"));
    QVERIFY(p.QuandServ == TQuandMail::qmJamais);
  }

  void okWithRecipientAndServerEmptySwitchesTheMailOff() {
    EcrireFichier("Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nPort=25\r\nQdApp=ACF\r\nQdServ=SSE\r\n");
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.EditAdresseMail()->clear();
    dlg.EditServeurSMTP()->setText(QStringLiteral("   "));
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(messages_.empty());
    QVERIFY(!dlg.isVisible());
    QVERIFY(LireFichier().startsWith("Addr=\r\nSMTP=\r\nPort=25\r\nQdApp=ACF\r\n"));
    QVERIFY(!p.MailAEnvoyer(false));
    QVERIFY(!p.MailAEnvoyer(true));
  }

  void annulerAndEscapeRestoreWhatTheFileHolds() {
    EcrireFichier("Addr=a@x.fr\r\nSMTP=sauve.x.fr\r\nPort=25\r\n");
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    dlg.show();
    dlg.EditServeurSMTP()->setText(QStringLiteral("nouveau.x.fr"));
    dlg.EditAuthNom()->setText(QStringLiteral("tapé"));  // the file holds no NOM
    QTest::mouseClick(dlg.ButtonAnnuler(), Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.EditServeurSMTP()->text(), QStringLiteral("sauve.x.fr"));
    QCOMPARE(p.ServeurSMTP, std::string("sauve.x.fr"));
    QCOMPARE(dlg.EditAuthNom()->text(), QStringLiteral("tapé"));
    QCOMPARE(LireFichier(), QByteArray("Addr=a@x.fr\r\nSMTP=sauve.x.fr\r\nPort=25\r\n"));

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.EditAdresseMail()->setText(QStringLiteral("autre@x.fr"));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.EditAdresseMail()->text(), QStringLiteral("a@x.fr"));
  }

  void securityChoiceIsSavedAndCancelledLikeTheOtherFields() {
    EcrireFichier("Addr=a@x.fr\r\nSMTP=smtp.x.fr\r\nPort=465\r\nSecurite=Exige\r\n");
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    QCOMPARE(dlg.ComboSecurite()->count(), 3);
    QCOMPARE(dlg.ComboSecurite()->itemText(0), QStringLiteral("STARTTLS si le serveur le propose"));
    QCOMPARE(dlg.ComboSecurite()->currentIndex(), 1);  // "TLS exigé"

    // Chosen, then cancelled: the file's choice comes back, in memory too.
    dlg.show();
    dlg.ComboSecurite()->setCurrentIndex(2);
    QTest::mouseClick(dlg.ButtonAnnuler(), Qt::LeftButton);
    QCOMPARE(dlg.ComboSecurite()->currentIndex(), 1);
    QVERIFY(p.Securite == TSecuriteMail::smTlsExige);

    // Saved with OK; the default writes no key, as in files made before the setting.
    dlg.show();
    dlg.ComboSecurite()->setCurrentIndex(2);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(messages_.empty());
    QVERIFY(LireFichier().endsWith("\r\nSecurite=Aucune\r\n"));
    dlg.show();
    dlg.ComboSecurite()->setCurrentIndex(0);
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(!LireFichier().contains("Securite"));
    QVERIFY(p.Securite == TSecuriteMail::smStartTlsSiPropose);
  }

  // Enabled or not: sendmail path, server, port, security, user name, password, token.
  static QString Etats(TFormMail& dlg) {
    QString etats;
    for (QWidget* w : std::initializer_list<QWidget*>{
             dlg.EditSendmail(), dlg.EditServeurSMTP(), dlg.EditPort(), dlg.ComboSecurite(),
             dlg.EditAuthNom(), dlg.EditAuthPass(), dlg.EditJeton()})
      etats += w->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
    return etats;
  }

  void loadedTransportSetsTheFieldStates() {
    struct Cas {
      const char *fichier, *sendmail, *jeton, *etats;
      int transport;
    } cas[] = {
        {"SMTP=s\r\n", "/usr/sbin/sendmail", "", "0111111", 0},
        {"SMTP=s\r\nNOM=n\r\nJeton=oauth2 -j\r\n", "/usr/sbin/sendmail", "oauth2 -j", "0111101", 0},
        {"Transport=sendmail\r\nSendmail=/opt/msmtp\r\nJeton=j\r\n", "/opt/msmtp", "j", "1000000",
         1},
    };
    for (const Cas& k : cas) {
      EcrireFichier(k.fichier);
      TConfigMail p;
      TFormMail dlg(nullptr, p);
      QCOMPARE(dlg.ComboTransport()->currentIndex(), k.transport);
      QCOMPARE(dlg.EditSendmail()->text(), QString::fromUtf8(k.sendmail));
      QCOMPARE(dlg.EditJeton()->text(), QString::fromUtf8(k.jeton));
      QCOMPARE(Etats(dlg), QString::fromUtf8(k.etats));
    }
  }

  void switchingTransportAndTypingATokenUpdateLive() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    QCOMPARE(dlg.ComboTransport()->itemText(1), QStringLiteral("Programme sendmail du système"));
    dlg.show();
    dlg.ComboTransport()->setCurrentIndex(1);
    QCOMPARE(Etats(dlg), QStringLiteral("1000000"));
    dlg.ComboTransport()->setCurrentIndex(0);
    QCOMPARE(Etats(dlg), QStringLiteral("0111111"));
    QTest::keyClicks(dlg.EditJeton(), QStringLiteral(" "));  // blanks are no command
    QCOMPARE(Etats(dlg), QStringLiteral("0111111"));
    QTest::keyClicks(dlg.EditJeton(), QStringLiteral("x"));
    QCOMPARE(Etats(dlg), QStringLiteral("0111101"));
    QTest::keyClick(dlg.EditJeton(), Qt::Key_Backspace);
    QCOMPARE(Etats(dlg), QStringLiteral("0111111"));
    dlg.reject();
  }

  void okSavesTransportSendmailAndToken() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.ComboTransport()->setCurrentIndex(1);
    dlg.EditSendmail()->setText(QStringLiteral(" /opt/msmtp "));
    dlg.EditJeton()->setText(QStringLiteral("oauth2 -j"));
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(messages_.empty());
    QVERIFY(
        LireFichier().endsWith("\r\nTransport=sendmail\r\nSendmail=/opt/msmtp\r\n"
                               "Jeton=oauth2 -j\r\n"));
    TConfigMail relu;
    relu.LireConfig();
    QVERIFY(relu.Transport == TTransportMail::tmSendmail);
    QCOMPARE(relu.Sendmail, std::string("/opt/msmtp"));
    QCOMPARE(relu.Jeton, std::string("oauth2 -j"));
    // Back to the defaults: none of the three keys is written.
    dlg.show();
    dlg.ComboTransport()->setCurrentIndex(0);
    dlg.EditServeurSMTP()->setText(QStringLiteral("s"));
    dlg.EditSendmail()->setText(QStringLiteral("/usr/sbin/sendmail"));
    dlg.EditJeton()->clear();
    QTest::mouseClick(dlg.ButtonOK(), Qt::LeftButton);
    QVERIFY(messages_.empty());
    QCOMPARE(LireFichier(), QByteArray("Addr=a@x.fr\r\nSMTP=s\r\nPort=25\r\nQdApp=AJ\r\n"
                                       "QdServ=SSE\r\n"));
  }

  void showReadsTheFileAgain() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    EcrireFichier("SMTP=apres-creation\r\n");
    p.AdresseMail = "change@pendant.absence";  // e.g. trimmed by a run's mail
    dlg.show();
    QCOMPARE(dlg.EditServeurSMTP()->text(), QStringLiteral("apres-creation"));
    QCOMPARE(dlg.EditAdresseMail()->text(), QStringLiteral("change@pendant.absence"));
    dlg.reject();
  }

  void testerStopsAtTheFieldCheck() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.EditPort()->setText(QStringLiteral("0"));
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Il manque le serveur SMTP"));
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("0"));  // the check stopped before the port
    QVERIFY(dlg.isVisible());
    dlg.reject();
  }

  void testerWithoutRecipientFailsCleanly() {
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.EditServeurSMTP()->setText(QStringLiteral("127.0.0.1"));
    dlg.EditPort()->clear();
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Echec. Aucune adresse de destinataire."));
    QVERIFY(messages_[0].erreur);
    QCOMPARE(dlg.EditPort()->text(), QStringLiteral("25"));
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(dlg.isVisible());
    QVERIFY(!QFile::exists(Chemin()));  // a test saves nothing
    dlg.reject();
  }

  void testerSendsTheTestMessageUnderTheWaitCursor() {
    test::TSmtpServer serveur;
    QVERIFY2(serveur.Started(), serveur.Error().c_str());
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    std::vector<Qt::CursorShape> curseurs;
    DefinirPompeEvenements([&](bool, bool) {
      const QCursor* c = QGuiApplication::overrideCursor();
      curseurs.push_back(c != nullptr ? c->shape() : Qt::ArrowCursor);
    });
    dlg.show();
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.EditServeurSMTP()->setText(QStringLiteral("127.0.0.1"));
    dlg.EditPort()->setText(QString::fromStdString(serveur.PortText()));
    dlg.EditComplementObjet()->setText(QStringLiteral("  essai  "));
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Envoyé"));
    QVERIFY(!messages_[0].erreur);
    QVERIFY(!curseurs.empty());
    QCOMPARE(curseurs.front(), Qt::BusyCursor);  // busy, not wait: the test can be cancelled
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(serveur.WaitForMessages(1, 5000));
    const std::string brut = serveur.Messages().front().raw;
    const std::string sujet = "Subject: Jumelix [" + NomOrdinateur() + "] : Test - essai\r\n";
    QVERIFY2(brut.find(sujet) != std::string::npos, brut.c_str());
    QVERIFY(!QFile::exists(Chemin()));
    dlg.reject();
  }

  // A box as short as "Envoyé" still shows its whole title beside the title bar's buttons.
  void theSentBoxIsWideEnoughForItsTitle() {
    test::TSmtpServer serveur;
    QVERIFY2(serveur.Started(), serveur.Error().c_str());
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    dlg.show();
    Adresser(dlg, serveur.Port());
    TRepondeurBoites repondeur;
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QCOMPARE(repondeur.textes, QStringList{QStringLiteral("Envoyé")});
    QFont gras = dlg.font();
    gras.setBold(true);
    QVERIFY(repondeur.largeurs[0] >= QFontMetrics(gras).horizontalAdvance("Jumelix") + 120);
  }

  void testerShowsTheSendAndCanBeCancelled() {
    test::TSmtpServer::Options o;
    o.never_answer = true;  // a server that takes the connection and says nothing
    test::TSmtpServer serveur(o);
    QVERIFY2(serveur.Started(), serveur.Error().c_str());
    TMonMail::DefinirDelaiPourTests(20000);
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.EditServeurSMTP()->setText(QStringLiteral("127.0.0.1"));
    dlg.EditPort()->setText(QString::fromStdString(serveur.PortText()));
    QString pendant, legende;
    bool visible = false;
    QLineEdit* autre = dlg.EditAuthNom();
    QTimer::singleShot(200, &dlg, [&] {
      pendant = dlg.LabelEnvoi()->text();
      visible = dlg.LabelEnvoi()->isVisible();
      legende = dlg.ButtonTester()->text();
      // Other input is still discarded; a click on the button goes through.
      QCoreApplication::postEvent(
          autre, std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
                                             QStringLiteral("a"))
                     .release());
      for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(
            dlg.ButtonTester(),
            std::make_unique<QMouseEvent>(t, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                                          t == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                        : Qt::NoButton,
                                          Qt::NoModifier)
                .release());
      }
    });
    QElapsedTimer chrono;
    chrono.start();
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QVERIFY2(chrono.elapsed() < 5000, qPrintable(QString::number(chrono.elapsed())));
    TMonMail::DefinirDelaiPourTests(30000);
    QCOMPARE(pendant, QStringLiteral("Envoi du message de test en cours..."));
    QVERIFY(visible);
    QCOMPARE(legende, QStringLiteral("Annuler le test"));
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Envoi du message de test annulé."));
    QVERIFY(!messages_[0].erreur);
    QCOMPARE(autre->text(), QString());
    QCOMPARE(dlg.ButtonTester()->text(), QStringLiteral("Tester"));
    QVERIFY(dlg.ButtonTester()->isEnabled());
    QVERIFY(!dlg.LabelEnvoi()->isVisible());
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    QVERIFY(dlg.isVisible());
    dlg.reject();
  }

  // The user's click or space bar reaches the dialog's window before its button, as on a
  // real display: the cancel gets through that way within a second, other input does not,
  // and the connection to a server that never answers is dropped.
  void annulerLeTestParLaFenetre_data() {
    QTest::addColumn<bool>("clavier");
    QTest::newRow("clic") << false;
    QTest::newRow("espace") << true;
  }
  void annulerLeTestParLaFenetre() {
    QFETCH(bool, clavier);
    test::TScriptedPeer muet;
    muet.SetReadTimeout(30000);
    muet.WaitForClose().Start();
    TMonMail::DefinirDelaiPourTests(5000);
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    Adresser(dlg, muet.Port());
    QPushButton* bouton = dlg.ButtonTester();
    (clavier ? static_cast<QWidget*>(bouton) : dlg.EditAuthNom())->setFocus();
    QElapsedTimer annulation;
    QTimer::singleShot(300, &dlg, [&] {
      QTest::keyClick(dlg.windowHandle(), Qt::Key_A);
      annulation.start();
      if (clavier)
        QTest::keyClick(dlg.windowHandle(), Qt::Key_Space);
      else
        QTest::mouseClick(dlg.windowHandle(), Qt::LeftButton, {},
                          bouton->mapTo(&dlg, QPoint(5, 5)));
    });
    QTest::mouseClick(bouton, Qt::LeftButton);
    QVERIFY2(annulation.isValid() && annulation.elapsed() < 1000,
             qPrintable(QString::number(annulation.elapsed())));
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Envoi du message de test annulé."));
    QCOMPARE(dlg.EditAuthNom()->text(), QString());
    QTRY_VERIFY(muet.ClientClosed());
  }

  void testerThatTimesOutDiscardsTheInputMeanwhile() {
    test::TSmtpServer::Options o;
    o.never_answer = true;
    test::TSmtpServer serveur(o);
    QVERIFY2(serveur.Started(), serveur.Error().c_str());
    TMonMail::DefinirDelaiPourTests(400);
    TConfigMail p;
    TFormMail dlg(nullptr, p);
    Capturer(dlg);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.EditAdresseMail()->setText(QStringLiteral("a@x.fr"));
    dlg.EditServeurSMTP()->setText(QStringLiteral("127.0.0.1"));
    dlg.EditPort()->setText(QString::fromStdString(serveur.PortText()));
    QLineEdit* cible = dlg.EditAuthNom();
    bool poste = false;
    // A key typed and a click made while the send waits.
    QTimer::singleShot(50, &dlg, [&] {
      poste = true;
      QCoreApplication::postEvent(
          cible, std::make_unique<QKeyEvent>(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
                                             QStringLiteral("a"))
                     .release());
      QCoreApplication::postEvent(
          dlg.ButtonAnnuler(),
          std::make_unique<QMouseEvent>(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier)
              .release());
    });
    QTest::mouseClick(dlg.ButtonTester(), Qt::LeftButton);
    QVERIFY(poste);
    QCoreApplication::processEvents();
    QCOMPARE(messages_.size(), size_t{1});
    QCOMPARE(messages_[0].texte, QStringLiteral("Echec. Délai dépassé."));
    QCOMPARE(cible->text(), QString());  // the key went nowhere, not even late
    QVERIFY(dlg.isVisible());            // nor did the click on Annuler
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    dlg.reject();
  }
};

}  // namespace jumelix

JUMELIX_QTEST(MailDialog_test, jumelix::MailDialogTest);
#include "MailDialog_test.moc"
