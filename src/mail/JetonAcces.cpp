#include "mail/JetonAcces.h"

#include <csignal>
#include <cstring>
#include <vector>

#include "shared/URoutines.h"
#include "net/AttenteMessages.h"
#include "platform/Processus.h"
#include "platform/System.h"

namespace jumelix {

std::string ResumeErreurs(const std::string& erreurs) {
  std::string un;
  for (char c : erreurs) {
    const bool blanc = static_cast<unsigned char>(c) <= ' ';
    if (blanc && (un.empty() || un.back() == ' ')) continue;
    un += blanc ? ' ' : c;
  }
  un = Trim(un);
  return PremiersCaracteres(un, 300);
}

std::string PremiereLigneErreurs(const std::string& erreurs) {
  size_t debut = 0;
  while (debut < erreurs.size()) {
    size_t fin = erreurs.find('\n', debut);
    if (fin == std::string::npos) fin = erreurs.size();
    std::string ligne = ResumeErreurs(erreurs.substr(debut, fin - debut));
    if (!ligne.empty()) return ligne;
    debut = fin + 1;
  }
  return {};
}

void PomperEvenementsUneFois() {
  AttendreAvecMessages(0, kIgnorerClavier | kIgnorerSouris, [] { return false; });
}

std::string ObtenirJetonAcces(const std::string& commande, TSecret& jeton,
                              const std::function<bool()>& arret, uint32_t delaiMs) {
  static const std::string kPrefixe = "Commande du jeton d'accès : ";
  jeton.Wipe();
  std::vector<std::string> argv;
  std::string erreur;
  if (!platform::DecouperLigneCommande(commande, argv, erreur)) return kPrefixe + erreur;
  if (argv.empty()) return kPrefixe + "la commande est vide";
  platform::TOptionsProcessus options;
  options.delaiMs = delaiMs;
  options.arret = arret;
  options.pendant = PomperEvenementsUneFois;
  // A helper it started in the background (a token refresher that keeps polling) must not
  // stay behind, least of all under cron where nothing would ever end it.
  options.terminerGroupe = true;
  platform::TResultatProcessus r = platform::ExecuterProcessus(argv, options);
  const std::string erreurs = PremiereLigneErreurs(r.erreurs);
  const std::string suite = erreurs.empty() ? std::string() : " : " + erreurs;
  if (r.erreurLancement != 0) {
    return kPrefixe + "impossible de lancer " + argv[0] + " (" +
           platform::SystemErrorText(r.erreurLancement) + ")";
  }
  if (r.arrete) return kPrefixe + "arrêtée (arrêt demandé)";
  if (r.delaiDepasse) {
    return kPrefixe + "pas de réponse en " + std::to_string(delaiMs / 1000) + " secondes, arrêtée" +
           suite;
  }
  if (r.signal != 0) {
    return kPrefixe + "arrêtée par le signal " + std::to_string(r.signal) + " (" +
           strsignal(r.signal) + ")" + suite;
  }
  if (r.statut != 0)
    return kPrefixe + "échec (code de sortie " + std::to_string(r.statut) + ")" + suite;
  std::string_view sortie = r.sortie.View();
  std::string_view ligne = sortie.substr(0, sortie.find('\n'));
  while (!ligne.empty() && static_cast<unsigned char>(ligne.back()) <= ' ') ligne.remove_suffix(1);
  while (!ligne.empty() && static_cast<unsigned char>(ligne.front()) <= ' ') ligne.remove_prefix(1);
  if (ligne.empty()) return kPrefixe + "aucun jeton sur sa sortie" + suite;
  jeton.Assign(ligne);
  return {};
}

}  // namespace jumelix
