#include "app/Programme.h"

#include "app/Journal.h"
#include "app/RapportMail.h"
#include "app/UJumelix.h"
#include "app/URoutines.h"
#include "app/VueJumelix.h"

namespace jumelix {

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

std::string TexteVersion(const std::string& version) { return "jumelix " + version + "\n"; }

int LancerService(const TLigneCommande& ligne_commande) {
  TVueSansFenetre vue;
  TJumelix jumelix(vue, RapportMailProgramme());
  jumelix.FormCreate(ligne_commande);
  Journaliser("***** Debut synchronisation, fichier " + jumelix.FichierListe() + " *****");
  jumelix.Executer(false);
  return 0;
}

}  // namespace jumelix
