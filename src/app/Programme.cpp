#include "app/Programme.h"

#include <signal.h>

#include "app/Journal.h"
#include "app/RapportMail.h"
#include "app/UJumelix.h"
#include "engine/UDelta.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "app/VueJumelix.h"

namespace jumelix {

namespace {

volatile sig_atomic_t g_signal_recu = 0;

constexpr int kSignauxArret[] = {SIGTERM, SIGINT, SIGHUP};

// The first stop signal is remembered and stops the walk at its next check point, so no
// copy is cut short. A second one, of any of the three kinds (SIGTERM from systemd after
// a Ctrl-C, say), ends the process at once: its default action is restored and the signal
// sent again, so the parent sees a death by that signal. Only async-signal-safe calls.
extern "C" void SurSignalArret(int numero) {
  if (g_signal_recu == 0) {
    g_signal_recu = numero;
    return;
  }
  signal(numero, SIG_DFL);
  raise(numero);  // delivered as soon as this handler returns, the signal being blocked here
}

// SA_RESTART: on a network destination (NFS, CIFS) a call the signal interrupts would
// otherwise fail with EINTR and turn the copy in progress into an error line. The mask
// keeps the three kinds from interrupting one another's handler.
void InstallerSignauxArret() {
  struct sigaction sa {};
  sa.sa_handler = SurSignalArret;
  sigemptyset(&sa.sa_mask);
  for (int numero : kSignauxArret) sigaddset(&sa.sa_mask, numero);
  sa.sa_flags = SA_RESTART;
  for (int numero : kSignauxArret) sigaction(numero, &sa, nullptr);
}

}  // namespace

TLigneCommande AnalyserLigneCommande(const std::vector<std::string>& arguments) {
  TLigneCommande lc;
  for (const std::string& a : arguments) {
    if (a == "--help")
      lc.Aide = true;
    else if (a == "--version")
      lc.Version = true;
    else if (EgauxSansCasseAscii(a, "/S"))
      lc.ModeService = true;
    else
      lc.FichierListe = a;
  }
  return lc;
}

std::string TexteAide(const std::string& programme) {
  return "Utilisation : " + programme +
         " [/S] [fichier-liste]\n"
         "\n"
         "Synchronise des répertoires : chaque répertoire cible devient identique à son\n"
         "répertoire source. Le fichier liste contient les couples de répertoires.\n"
         "\n"
         "  fichier-liste  fichier des couples de répertoires (le dernier argument\n"
         "                 autre que /S)\n"
         "  /S             mode service, sans fenêtre : synchronise une fois chaque couple\n"
         "                 du fichier liste, ajoute le compte-rendu au journal et se termine\n"
         "                 (majuscule ou minuscule)\n"
         "  --help         affiche cette aide\n"
         "  --version      affiche la version\n"
         "\n"
         "Journal du mode service : $XDG_STATE_HOME/jumelix/" +
         programme +
         ".log\n"
         "(par défaut ~/.local/state/jumelix/" +
         programme + ".log).\n";
}

bool AffichageDisponible(const std::function<const char*(const char*)>& variable) {
  for (const char* nom : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM"}) {
    const char* valeur = variable(nom);
    if (valeur != nullptr && valeur[0] != '\0') return true;
  }
  return false;
}

std::string TexteVersion(const std::string& version) { return "jumelix " + version + "\n"; }

std::string RefusReglagesDemarrage(const std::string& chemin_config) {
  const std::string repertoire =
      chemin_config.empty() ? chemin_config : chemin_config.substr(0, chemin_config.find_last_of('/'));
  return RefusReglages({repertoire, chemin_config, CheminExclusionsGlobales()});
}

int LancerService(const TLigneCommande& ligne_commande) {
  InstallerSignauxArret();
  TVueSansFenetre vue;
  TJumelix jumelix(vue, RapportMailProgramme());
  jumelix.DefinirArretExterne([] { return g_signal_recu != 0; });
  jumelix.FormCreate(ligne_commande);
  Journaliser("***** Debut synchronisation, fichier " + jumelix.FichierListe() + " *****");
  jumelix.Executer(false);
  if (jumelix.DernierRunAbandonne()) return kSortieInterrompu;
  return jumelix.DernierRunEnErreur() || jumelix.DernierMailEnEchec() ? kSortieErreurs
                                                                      : kSortieSucces;
}

}  // namespace jumelix
