// TJumelix's list file: reading, saving, the window's title and the question on closing
// (app/UJumelix.h).
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "app/DiagnosticListe.h"
#include "app/UJumelix.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

const char* const kTexteSauvegarde =
    "Voulez-vous retenir les lignes du tableau (la liste des répertoires) dans un fichier ?\n"
    "Ce fichier pourra ensuite être utilisé en paramètre dans un raccourci qui appelle ce "
    "programme.";
const char* const kTitreSauvegarde = "Sauvegarder les changements";

bool Existe(const std::string& chemin) {
  struct stat st {};
  return ::stat(chemin.c_str(), &st) == 0;
}

// Why service mode must not run a list file of these lines, as its log line; empty when it
// may.
std::string RefusListeService(const std::vector<std::string>& lignes, const std::string& chemin) {
  if (const TDiagnosticListe d = DiagnostiquerListe(lignes); d.defaut != TDefautListe::Aucun)
    return TexteDefautListe(d, chemin);
  // Every pair being whole, the destinations are lines 4, 6, 8... of the file. A relative
  // one is left to the run, which refuses its pair.
  std::vector<TCibleListe> cibles;
  for (size_t i = 3; i < lignes.size(); i += 2) {
    std::string cible = CheminDeCellule(lignes[i]);
    if (!cible.empty() && cible[0] == '/')
      cibles.push_back({static_cast<int>(i) + 1, std::move(cible)});
  }
  const std::vector<TCiblesEnConflit> conflits = CiblesEnConflit(cibles);
  return conflits.empty() ? std::string() : TexteListeCiblesEnConflit(conflits.front(), chemin);
}

}  // namespace

bool TJumelix::LireFichierListe(const std::string& chemin) {
  lignes_fichier_ = {kTitreSource, kTitreCible};
  if (chemin.empty()) {
    grille_.RetenirGrille();
    return true;
  }
  bool lu = false;
  std::vector<std::string> lignes;
  // Only a regular file is read: a FIFO would block a nightly run for ever, a device
  // such as /dev/zero would never end.
  struct stat st {};
  const bool ordinaire = ::stat(chemin.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (!ordinaire || LireLignesFichier(chemin, lignes) != 0) {
    lignes.clear();
    const std::string texte = "ERREUR : Fichier non trouvé : " + chemin;
    if (mode_service_) {
      ErreurListeService(texte);
    } else {
      vue_.Message("ERREUR : Fichier non trouvé\n" + chemin, "Jumelix", TBoutonsMessage::Ok,
                   TIconeMessage::Erreur);
      CompteRendu().AjouterErreur(texte);
    }
  } else if (mode_service_) {
    // Unattended, a list that cannot be trusted is not run at all: its rows are not even
    // loaded. The window loads it, so that the user sees what is wrong, and warns before
    // a run that would skip a half-filled row or let two rows overwrite one another.
    if (const std::string refus = RefusListeService(lignes, chemin); !refus.empty()) {
      ErreurListeService(refus);
      grille_.DefinirLignesReference(std::move(lignes));
      return false;
    }
    lu = true;
  } else {
    lu = true;
    recentes_.Ajouter(chemin);
  }
  const size_t nb_paires = lignes.size() / 2;
  const bool titres_justes = nb_paires > 0 && lignes[0] == kTitreSource && lignes[1] == kTitreCible;
  // An empty file holds nothing that saving could lose.
  fichier_non_liste_ = lu && !titres_justes && !lignes.empty();
  if (lu) lignes_fichier_ = lignes;
  grille_.DefinirLignesReference(std::move(lignes));
  if (!titres_justes) {
    grille_.RetenirGrille();
    return lu;
  }
  const std::vector<std::string>& ref = grille_.LignesReference();
  for (size_t k = 1; k < nb_paires; ++k) {
    const int ligne = static_cast<int>(k);
    if (ligne > grille_.DerniereLigne()) grille_.AjouterLigneVide();
    grille_.DefinirCellule(kColSource, ligne, ref[2 * k]);
    grille_.DefinirCellule(kColCible, ligne, ref[2 * k + 1]);
  }
  vue_.AjusterHauteurGrille(static_cast<int>(nb_paires));
  return lu;
}

bool TJumelix::EnregistrerFichierListe(bool demander) {
  std::string nom = fichier_liste_;
  if (!demander && !nom.empty() && fichier_non_liste_ && Existe(nom)) {
    // Opened through "Lire un fichier liste..." by mistake, a document would otherwise be
    // lost to the next Ctrl+S.
    demander = vue_.Message("« " + EchapperControles(nom) +
                                " » n'a pas été lu comme un fichier liste : l'enregistrer "
                                "remplacerait tout ce qu'il contient.\nRemplacer ce fichier ?",
                            "Remplacer le fichier", TBoutonsMessage::OuiNon,
                            TIconeMessage::Question) != TReponseMessage::Oui;
  }
  if (demander || nom.empty()) {
    TDialogueFichier dialogue{
        {{"Fichiers ini", "*.INI"}, {"Tous les fichiers", "*.*"}}, "ini", fichier_liste_};
    std::optional<std::string> choix = vue_.DialogueEnregistrer(dialogue);
    if (!choix) return false;
    nom = Trim(*choix);
    if (nom.empty()) return false;
  }
  // Replacing goes through a new file renamed over the old one: write through a link to
  // the file it names, and keep the permissions of the file being replaced.
  std::string cible = nom;
  unsigned mode = 0644;
  if (char* reel = ::realpath(nom.c_str(), nullptr)) {
    cible = reel;
    std::free(reel);
  }
  if (struct stat st{}; ::stat(cible.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    mode = st.st_mode & 07777;
  std::vector<std::string> ecrites = grille_.LignesAEnregistrer();
  if (int err = EcrireLignesFichier(cible, ecrites, mode); err != 0) {
    // Saying nothing would let the user believe the list was kept.
    vue_.Message("ERREUR : Impossible d'enregistrer le fichier liste\n" + nom + "\n" +
                     TexteErreurSysteme(err),
                 "Jumelix", TBoutonsMessage::Ok, TIconeMessage::Erreur);
    return false;
  }
  grille_.RetenirGrille();
  fichier_liste_ = nom;
  fichier_non_liste_ = false;
  lignes_fichier_ = std::move(ecrites);
  recentes_.Ajouter(nom);
  ListeChangee();
  return true;
}

bool TJumelix::ListeAEnregistrer() const {
  return fichier_liste_.empty() || grille_.LignesAEnregistrer() != lignes_fichier_;
}

std::string TJumelix::TitreFenetre() const {
  // Built piece by piece: a chain of + (or assigning "*") trips a false -Wrestrict of
  // GCC 12 at -O3.
  std::string titre;
  if (fichier_liste_.empty()) {
    titre = kTitreSansListe;
  } else {
    const size_t barre = fichier_liste_.find_last_of('/');
    titre.append(fichier_liste_, barre == std::string::npos ? 0 : barre + 1);
    titre += " — Jumelix";
  }
  // Built a character at a time: "*" + std::string, or even assigning "*", trips a false
  // -Wrestrict of GCC 12 at -O3.
  std::string r;
  if (grille_.LignesAEnregistrer() != lignes_fichier_) r.push_back('*');
  r += EchapperControles(titre);
  return r;
}

bool TJumelix::ProposerEnregistrement() {
  if (!grille_.GrilleModifiee() || grille_.GrilleVide()) return true;
  switch (vue_.Message(kTexteSauvegarde, kTitreSauvegarde, TBoutonsMessage::OuiNonAnnuler,
                       TIconeMessage::Question)) {
    case TReponseMessage::Oui:
      return EnregistrerFichierListe();
    case TReponseMessage::Non:
      return true;
    default:
      return false;
  }
}

bool TJumelix::OuvrirFichierListe(const std::string& chemin, bool demander) {
  if (en_cours_ || (demander && !ProposerEnregistrement())) return false;
  RetenirPourAnnulation();
  fichier_liste_ = chemin;
  grille_.SupprimerToutesLesLignes();
  // A recent list that has gone leaves the history.
  if (!LireFichierListe(fichier_liste_)) recentes_.Retirer(chemin);
  vue_.RepeindreGrille();
  ListeChangee();
  return true;
}

TDecisionFermeture TJumelix::DecisionFermeture() const {
  if (en_cours_) return TDecisionFermeture::AttendreFinRun;
  if (!grille_.GrilleModifiee() || grille_.GrilleVide()) return TDecisionFermeture::Fermer;
  return TDecisionFermeture::Demander;
}

bool TJumelix::FormCloseQuery() {
  switch (DecisionFermeture()) {
    case TDecisionFermeture::Fermer:
      return true;
    case TDecisionFermeture::AttendreFinRun:
      // Asked while the walk processes its events: the run goes on until the answer.
      if (!fermeture_demandee_ &&
          vue_.Message(comparaison_ ? kTexteAbandonComparaison : kTexteAbandonSynchro,
                       "Jumelix", TBoutonsMessage::OuiNon,
                       TIconeMessage::Question) == TReponseMessage::Oui &&
          en_cours_) {
        demande_abandon_ = true;
        fermeture_demandee_ = true;
      }
      return false;
    case TDecisionFermeture::Demander:
      break;
  }
  return ProposerEnregistrement();
}

}  // namespace jumelix
