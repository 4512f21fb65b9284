#include "gui/NotificationBureau.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace jumelix {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kChemin = QStringLiteral("/org/freedesktop/Notifications");
constexpr unsigned char kUrgenceNormale = 1;
constexpr unsigned char kUrgenceCritique = 2;
constexpr int kExpirationServeur = -1;  // the server's own choice

}  // namespace

std::optional<QDBusPendingCall> EnvoyerNotification(const QDBusConnection& bus,
                                                    const TNotification& n) {
  if (!bus.isConnected()) return std::nullopt;
  QDBusMessage appel =
      QDBusMessage::createMethodCall(kService, kChemin, kService, QStringLiteral("Notify"));
  QVariantMap indications;
  indications.insert(QStringLiteral("urgency"),
                     QVariant::fromValue(n.urgente ? kUrgenceCritique : kUrgenceNormale));
  // Lets the server show the program's name and icon from its desktop entry.
  indications.insert(QStringLiteral("desktop-entry"), QStringLiteral("jumelix"));
  // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout).
  appel << QStringLiteral("Jumelix") << 0u << QStringLiteral("jumelix")
        << QString::fromStdString(n.titre) << QString::fromStdString(n.corps) << QStringList()
        << indications << kExpirationServeur;
  return bus.asyncCall(appel, kDelaiNotificationMs);
}

void NotifierFinRun(const TFinRun& fin, bool fenetre_active) {
  const std::optional<TNotification> n = NotificationFinRun(fin, fenetre_active);
  // The session bus is reached only when there is something to say.
  if (n) EnvoyerNotification(QDBusConnection::sessionBus(), *n);
}

}  // namespace jumelix
