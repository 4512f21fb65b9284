// Whether the end of a window run deserves a desktop notification, and its text: only a run
// long enough for the user to have turned to something else, and only when the window is
// not the one in front. Pure decision, no display or bus; the window layer sends it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace jumelix {

// A run as it ended.
struct TFinRun {
  bool comparaison = false;
  bool abandon = false;
  int32_t erreurs = 0;         // report lines of every pair
  uint32_t duree_ms = 0;       // from the start of the run to its end, mail included
  bool mail_en_echec = false;  // a report mail was due and could not be sent
  std::string compteurs;       // TJumelix::TexteCompteurs
};

struct TNotification {
  std::string titre;
  std::string corps;
  bool urgente = false;  // a failure the user must see: errors, a stop, an unsent mail
};

// Runs this long or shorter end without a notification.
inline constexpr uint32_t kDureeNotificationMs = 10000;

// The notification for `fin`, or nothing when the run was short or the window is active.
std::optional<TNotification> NotificationFinRun(const TFinRun& fin, bool fenetre_active);

}  // namespace jumelix
