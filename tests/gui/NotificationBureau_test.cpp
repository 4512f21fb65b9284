// The end-of-run notification on a real session bus: ctest starts this program under
// dbus-run-session with a private bus (tests/support/bus-session.conf), where the test
// plays the notification server and records every Notify call it gets. A second ctest entry
// runs it with no reachable bus (JUMELIX_TEST_SANS_BUS=1): nothing is sent, nothing waits.
#include "gui/NotificationBureau.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QElapsedTimer>
#include <QtTest>

#include "support/MainQtTest.h"

namespace jumelix {

namespace {

// Far below the call's own time limit: an answer that takes this long means something waited.
constexpr qint64 kReponseRapideMs = 2000;

TFinRun Fin(uint32_t duree_ms, int32_t erreurs) {
  TFinRun f;
  f.duree_ms = duree_ms;
  f.erreurs = erreurs;
  f.compteurs = "Nombre de fichiers copiés 4 ; Supprimés 0 ; identiques 9";
  return f;
}

bool SansBus() { return qEnvironmentVariableIntValue("JUMELIX_TEST_SANS_BUS") == 1; }

}  // namespace

// What a desktop's notification daemon offers, reduced to recording the calls.
class TServeurNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct TRecu {
    QString application, icone, titre, corps;
    uint remplace;
    QStringList actions;
    QVariantMap indications;
    int expiration;
  };
  QList<TRecu> recus;

 public slots:
  uint Notify(const QString& application, uint remplace, const QString& icone, const QString& titre,
              const QString& corps, const QStringList& actions, const QVariantMap& indications,
              int expiration) {
    recus.append({application, icone, titre, corps, remplace, actions, indications, expiration});
    return static_cast<uint>(recus.size());
  }
  QStringList GetCapabilities() { return {QStringLiteral("body")}; }
};

class NotificationBureauTest : public QObject {
  Q_OBJECT

 private slots:
  void sansServiceLAppelEchoueAussitot() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "lancé hors de dbus-run-session ?");
    QElapsedTimer chrono;
    chrono.start();
    std::optional<QDBusPendingCall> appel =
        EnvoyerNotification(bus, *NotificationFinRun(Fin(20000, 0), false));
    QVERIFY(appel.has_value());
    appel->waitForFinished();  // bounded by the call's own time limit
    QVERIFY(appel->isError());
    QCOMPARE(appel->error().type(), QDBusError::ServiceUnknown);
    QVERIFY2(chrono.elapsed() < kReponseRapideMs, qPrintable(QString::number(chrono.elapsed())));
  }

  void leServeurRecoitLeTexteDeLaFinDuRun() {
    TServeurNotifications serveur;
    QDBusConnection cote_serveur =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("serveur"));
    QVERIFY(cote_serveur.isConnected());
    QVERIFY(cote_serveur.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &serveur,
                                        QDBusConnection::ExportAllSlots));
    QVERIFY(cote_serveur.registerService(QStringLiteral("org.freedesktop.Notifications")));

    // A short run, then a run while the window is in front: nothing. Then a long run in the
    // background: its call arrives after theirs would have, on the same connection.
    NotifierFinRun(Fin(4000, 7), false);
    NotifierFinRun(Fin(60000, 8), true);
    NotifierFinRun(Fin(60000, 2), false);
    QTRY_COMPARE_WITH_TIMEOUT(serveur.recus.size(), 1, 5000);
    const TServeurNotifications::TRecu& r = serveur.recus.first();
    QCOMPARE(r.application, QStringLiteral("Jumelix"));
    QCOMPARE(r.titre, QStringLiteral("Jumelix"));
    QCOMPARE(r.corps, QStringLiteral("Synchronisation terminée : 2 erreur(s)\n"
                                     "Nombre de fichiers copiés 4 ; Supprimés 0 ; identiques 9"));
    QCOMPARE(r.icone, QStringLiteral("jumelix"));
    QCOMPARE(r.remplace, 0u);
    QVERIFY(r.actions.isEmpty());
    QCOMPARE(r.indications.value(QStringLiteral("urgency")).value<uchar>(), uchar(2));
    QCOMPARE(r.indications.value(QStringLiteral("desktop-entry")).toString(),
             QStringLiteral("jumelix"));
    QCOMPARE(r.expiration, -1);

    // The caller gets the server's answer (the notification's id).
    TFinRun comparaison = Fin(30000, 0);
    comparaison.comparaison = true;
    std::optional<QDBusPendingCall> appel =
        EnvoyerNotification(QDBusConnection::sessionBus(), *NotificationFinRun(comparaison, false));
    QVERIFY(appel.has_value());
    QDBusPendingCallWatcher attente(*appel);
    QSignalSpy fini(&attente, &QDBusPendingCallWatcher::finished);
    QVERIFY(attente.isFinished() || fini.wait(5000));
    QVERIFY2(!appel->isError(), qPrintable(appel->error().message()));
    QCOMPARE(serveur.recus.size(), 2);
    QVERIFY(
        serveur.recus[1].corps.startsWith(QStringLiteral("Comparaison terminée : 0 erreur(s)")));
    QCOMPARE(serveur.recus[1].indications.value(QStringLiteral("urgency")).value<uchar>(),
             uchar(1));

    cote_serveur.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("serveur"));
  }

  void sansBusRienNEstEnvoye() {
    QElapsedTimer chrono;
    chrono.start();
    QDBusConnection absent = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/jumelix-test-bus"), QStringLiteral("absent"));
    QVERIFY(!absent.isConnected());
    QVERIFY(!EnvoyerNotification(absent, *NotificationFinRun(Fin(20000, 1), false)));
    if (SansBus()) {
      // The program's own path: the session bus it would use cannot be reached either.
      QVERIFY(!QDBusConnection::sessionBus().isConnected());
      NotifierFinRun(Fin(20000, 1), false);
    }
    QVERIFY2(chrono.elapsed() < kReponseRapideMs, qPrintable(QString::number(chrono.elapsed())));
  }
};

}  // namespace jumelix

JUMELIX_QTEST(NotificationBureau_test, jumelix::NotificationBureauTest);
#include "NotificationBureau_test.moc"
