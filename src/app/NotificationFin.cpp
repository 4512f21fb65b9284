#include "app/NotificationFin.h"

namespace jumelix {

std::optional<TNotification> NotificationFinRun(const TFinRun& fin, bool fenetre_active) {
  if (fenetre_active || fin.duree_ms <= kDureeNotificationMs) return std::nullopt;
  TNotification n;
  n.titre = "Jumelix";
  // The texts of the status bar at the end of a run, with the error count the grid shows.
  n.corps = fin.comparaison ? "Comparaison " : "Synchronisation ";
  n.corps += fin.abandon ? "abandonnée" : "terminée";
  n.corps += " : ";
  n.corps += std::to_string(fin.erreurs);
  n.corps += " erreur(s)";
  if (!fin.compteurs.empty()) {
    n.corps += '\n';
    n.corps += fin.compteurs;
  }
  if (fin.mail_en_echec) n.corps += "\nLe compte-rendu par mail n'a pas pu être envoyé.";
  n.urgente = fin.erreurs > 0 || fin.abandon || fin.mail_en_echec;
  return n;
}

}  // namespace jumelix
