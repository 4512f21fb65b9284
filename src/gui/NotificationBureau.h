// Sends a desktop notification through the freedesktop notification service
// (org.freedesktop.Notifications, method Notify) on a D-Bus connection. The call is
// asynchronous: a run's end never waits for the bus, and without a bus or without a service
// nothing is shown and nothing is reported. GUI thread.
#pragma once

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <optional>

#include "app/NotificationFin.h"

namespace jumelix {

// How long the bus may take to answer before the call counts as failed.
inline constexpr int kDelaiNotificationMs = 5000;

// Sends `n` on `bus`; nothing when the connection is not open. The pending call lets a
// caller (a test) watch the answer; the program drops it.
std::optional<QDBusPendingCall> EnvoyerNotification(const QDBusConnection& bus,
                                                    const TNotification& n);

// At the end of a window run: the notification NotificationFinRun decides, on the session bus.
void NotifierFinRun(const TFinRun& fin, bool fenetre_active);

}  // namespace jumelix
