// The main window's logic without the window: the grid rows and the list file, the run over
// every pair (compare or synchronise) with its report, status texts, elapsed time and mail
// step, and the commands of the window. It talks to its window only through IVueJumelix,
// so service mode and the tests drive it headlessly. Owns the grid; uses the engine's
// run-wide state and the process-wide CompteRendu. GUI thread only; never throws.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/EtatBureau.h"
#include "app/GrilleLignes.h"
#include "app/NotificationFin.h"
#include "app/PlanApercu.h"
#include "app/Programme.h"
#include "app/RapportMail.h"
#include "app/VueJumelix.h"
#include "engine/UDelta.h"

namespace jumelix {

inline constexpr const char* kLegendeFermer = "Fermer";
inline constexpr const char* kLegendeAbandonner = "Abandonner";

// What the window must do when asked to close (the save-on-exit rule).
enum class TDecisionFermeture {
  Fermer,          // close at once, no question
  Demander,        // ask whether to save the rows (TJumelix::FormCloseQuery does it)
  AttendreFinRun,  // a run is under way: it is asked to stop, the window closes after it
};

// Panel 4's text: "h:mm:ss" of (t - debut) milliseconds, hours unpadded; empty when the
// tick count wrapped (t < debut).
std::string TexteTempsEcoule(uint32_t t, uint32_t debut);

// A grid cell as a path for the walk: trimmed, "~" or "~/" at its start replaced by the
// home directory, then one trailing "/" removed unless the path is "/" itself.
std::string CheminDeCellule(const std::string& cellule);

// Whether a cell's text names a directory relative to wherever the program happens to
// run: not blank, and, once trimmed, neither absolute ("/...") nor in the home directory
// ("~" or "~/..."). Such a path is refused in the cell and by the run.
bool CheminRelatif(const std::string& cellule);

// The archive's retention in days for the synchronisations of this process (TEtatRun::
// JoursArchive), asked at the start of every run: main installs the settings file's value,
// so that the window's "Options..." dialog and /S both apply it. Without one, 0: deleted
// entries are not kept.
void InstallerJoursArchive(std::function<int()> jours);
int JoursArchiveProgramme();
// Whether the walks of this process leave out the directories tagged as caches (TEtatRun::
// IgnorerCaches), asked at the start of every run like the retention; without one, false.
void InstallerIgnorerCaches(std::function<bool()> ignorer);
bool IgnorerCachesProgramme();

// A byte count as the window shows it: "512 octets", "12,5 ko", "3,1 Mo", "1,2 Go".
std::string TexteVolume(uint64_t octets);

inline constexpr const char* kTexteAbandonSynchro = "Abandonner la synchronisation en cours ?";
inline constexpr const char* kTexteAbandonComparaison = "Abandonner la comparaison en cours ?";
inline constexpr const char* kTexteSupprimerTout =
    "Supprimer toutes les lignes du tableau ?\nCtrl+Z les rétablit.";
inline constexpr const char* kTitreSansListe = "Synchronisation de répertoires";

// One pair of a run as it ended, for the command line's result file.
struct TBilanCouple {
  int ligne = 0;  // grid row, from 1
  std::string source, destination;  // as the run reads them (CheminDeCellule)
  bool traite = false;              // walked, wholly or until a stop
  bool abandonne = false;
  std::vector<std::string> lignes;  // its report lines (escaped, as shown)
  std::vector<int> causes;          // beside each line, the system error behind it (0: none)
  int32_t copies = 0, supprimes = 0, identiques = 0;
  uint64_t octets = 0;
  // What a synchronisation from the window did, as the walk told it: files replaced (among
  // the copies), entries whose old version went to the archive, and the pair's archive
  // folder for this run (empty when nothing went there).
  int32_t remplaces = 0, archives = 0;
  std::string dossier_archive;
  // The "Etat" text the window shows: "=", "2 erreur(s)", "abandonné",
  // "1 erreur(s), abandonné", or "???" for a pair the run left out.
  std::string etat = kEtatAFaire;
};

class TJumelix {
 public:
  using TJournal = std::function<void(const std::string&)>;
  using THorloge = std::function<uint32_t()>;

  // `journal` receives the service-mode log lines (Journaliser by default); `horloge` gives
  // the tick count (platform::TickCount by default).
  // `recentes` keeps the recently used lists (the state directory's file by default).
  explicit TJumelix(IVueJumelix& vue, IRapportMail& mail = RapportMailProgramme(),
                    TJournal journal = {}, THorloge horloge = {},
                    std::string fichier_recentes = CheminListesRecentes());
  // The file of the recent lists in the state directory (empty without a home).
  static std::string CheminListesRecentes();
  TJumelix(const TJumelix&) = delete;
  TJumelix& operator=(const TJumelix&) = delete;

  // Start: "Fermer" caption, service flag and list file from the command line, the list
  // file read (an empty path keeps the blank grid as baseline), every row marked "???".
  void FormCreate(const TLigneCommande& ligne_commande);

  // Tells the user, at start, that the settings `refus` names (a line of RefusReglages)
  // are not used.
  void AvertirReglagesRefuses(const std::string& refus);

  TGrilleLignes& Grille() { return grille_; }
  const TGrilleLignes& Grille() const { return grille_; }

  bool ModeService() const { return mode_service_; }
  const std::string& FichierListe() const { return fichier_liste_; }
  int LigneNum() const { return ligne_num_; }
  bool DemandeAbandon() const { return demande_abandon_; }
  int32_t NbErreursService() const { return nb_erreurs_service_; }
  uint32_t DebutRun() const { return debut_run_; }
  // True from the start of Executer to its end, mail included.
  bool EnCours() const { return en_cours_; }
  // Whether the run under way is a comparison (else a synchronisation).
  bool ComparaisonEnCours() const { return comparaison_; }
  // The grid row whose pair is being walked, 0 outside a run.
  int LigneEnCours() const { return en_cours_ ? ligne_num_ : 0; }
  // Where the run under way stands.
  TAvancementRun Avancement() const;
  // Outcome of the last run, read after Executer (the report itself is emptied by then):
  // whether the report held an error line, and whether the run was stopped.
  bool DernierRunEnErreur() const { return dernier_run_en_erreur_; }
  bool DernierRunAbandonne() const { return dernier_run_abandonne_; }
  // Whether the last synchronisation had a report mail due that could not be sent.
  bool DernierMailEnEchec() const { return dernier_mail_en_echec_; }

  // A stop asked from outside the window (a signal in service mode), polled at every check
  // point of a walk in both modes; true stops the run as "Abandonner" does, and abandons
  // the report mail's send.
  void DefinirArretExterne(std::function<bool()> arret) { arret_externe_ = std::move(arret); }

  // Runs started from the command line. `sortie` turns a service-mode comparison into a
  // dry run: its report lines go to `sortie`, as the window's log area gets them, and
  // nothing to the log. `sur_action` is told each change of every walk (TEtatRun::
  // SurAction, on this thread). Only the grid rows `lignes` are run (empty: all). In
  // service mode the view's AfficherAvancement is called at the walk's check points, at
  // most every few hundred milliseconds.
  void DefinirSortieSimulation(std::function<void(const std::string&)> sortie) {
    sortie_simulation_ = std::move(sortie);
  }
  void DefinirSurAction(TSurAction sur_action) { sur_action_ = std::move(sur_action); }
  // Told, in a synchronisation without window, each report line (escaped, as logged) and
  // the system error behind it (0: none), so that the itemised output shows its cause.
  void DefinirSurErreur(std::function<void(const std::string& texte, int erreur)> sur_erreur) {
    sur_erreur_ = std::move(sur_erreur);
  }
  // Told, once per pair, what a destination keeps less of than its source (TRemarque).
  void DefinirSurRemarque(TSurRemarque sur_remarque) { sur_remarque_ = std::move(sur_remarque); }
  void DefinirLignesRetenues(std::vector<int> lignes) { lignes_retenues_ = std::move(lignes); }
  // Every pair of the last run (rows that have both cells), in grid order.
  const std::vector<TBilanCouple>& BilanDernierRun() const { return bilan_; }

  // Told at the end of every run from the window (not in service mode), once the run is over.
  void DefinirSurFinRun(std::function<void(const TFinRun&)> f) { sur_fin_run_ = std::move(f); }

  // The run. Ignored when a run is already under way.
  void Executer(bool ComparerSeulement);
  void SurMessageRun(const std::string& texte, int nombre, int erreur);
  void SurAvancementRun(bool& abandon);
  void MajBarreEtat(bool forcer);
  // "Nombre de fichiers copiés " + n + " ; Supprimés " + n + " ; identiques " + n.
  std::string TexteCompteurs() const;
  // The run's stop flag and counters (read by the tests and the windows).
  const TEtatRun& EtatRun() const { return etat_; }
  // The walk called for each pair: TraiterCouple unless a test gives a scripted one.
  void DefinirParcours(TParcoursCouple parcours) { parcours_ = std::move(parcours); }

  // The preview (app/UJumelixApercu.cpp). A comparison from the window makes a plan of
  // every change a synchronisation would make; the user may leave some out (through
  // Plan(), never during a run). A synchronisation with something left out follows the
  // plan for the rows it covers; otherwise it runs as if there were none. The plan is
  // dropped by any change of the rows, by a synchronisation, and by a comparison stopped
  // before its end. GenerationPlan changes whenever the plan is made anew or dropped.
  TPlanApercu& Plan() { return plan_; }
  const TPlanApercu& Plan() const { return plan_; }
  int GenerationPlan() const { return generation_plan_; }
  // "Comparer la sélection", "Synchroniser la sélection": only the grid rows `lignes` run,
  // with the questions, the "Etat" reset and the mail rule of a run over every row.
  void ComparerSelectionClick(const std::vector<int>& lignes);
  void SynchroniserSelectionClick(const std::vector<int>& lignes);
  // The log of the window's synchronisations, in the service log's line format
  // (JournaliserDans(CheminJournalFenetre()) by default).
  void DefinirJournalFenetre(TJournal journal) { journal_fenetre_ = std::move(journal); }

  // The list file.
  // False when the file could not be read (the user was told).
  bool LireFichierListe(const std::string& chemin);
  // Writes the rows to the current list file, or through the save dialog when there is
  // none or `demander` is set; true only when a file was written. A current file that was
  // read and found not to be a list is replaced only once the user agrees (else the dialog
  // asks where to write).
  bool EnregistrerFichierListe(bool demander = false);
  // Opens another list file, after asking whether to save unsaved rows; ignored during a
  // run. False when the user cancelled.
  bool OuvrirFichierListe(const std::string& chemin, bool demander = true);
  // "liste.ini — Jumelix" (the list file's name), or the program's title without a list;
  // "*" in front while saving would write other lines than the file holds (without a
  // file: other lines than an empty list's). Blank or half-filled rows, which saving
  // leaves out, change nothing.
  std::string TitreFenetre() const;
  // Whether there is no list file yet, or saving would write other lines than it holds.
  bool ListeAEnregistrer() const;
  const std::vector<std::string>& ListesRecentes() const { return recentes_.Chemins(); }
  TDecisionFermeture DecisionFermeture() const;

  // Commands of the window. Row commands, run commands and list reading are ignored during
  // a run (the window also keeps the grid read-only then).
  void ButtonAjouterLigneClick();
  void ButtonSupprimerLigneClick();
  void SupprimerToutesLesLignesClick();
  void ButtonParcourirClick();
  void ButtonComparerClick();
  void ButtonSynchroniserClick();
  // During a run: asks it to stop. Otherwise asks the window to close.
  void ButtonFermerClick();
  void Lireunfichierliste1Click();
  // "Enregistrer" writes to the current list; "Enregistrer sous..." always asks.
  void Enregistrerlefichierliste1Click();
  void EnregistrerSous1Click();
  // Ctrl+Z: the rows as they were before the last row operation or cell edit.
  void AnnulerClick();
  bool PeutAnnuler() const { return !annulations_.empty(); }
  // Paths dropped on the grid cell (colonne, ligne), or on the window (ligne 0): a list
  // file opens; directories fill the cell (two fill the row's source then destination).
  // Any other file is refused with a message, the rows and the current list left as they
  // are. Ignored during a run. True when something was done.
  bool DeposerChemins(int colonne, int ligne, const std::vector<std::string>& chemins);
  // The window's close query: true when the window may close now. During a run it asks
  // the run to stop, answers false, and closes the window through the view once the run
  // has ended.
  bool FormCloseQuery();

  // Grid events. A cell edited in place (every change of its text): the text is stored and
  // the row's state reset. Refused during a run and for the state column.
  void StringGrid1SetEditText(int colonne, int ligne, const std::string& texte);
  // The cell's editor has closed, however (Enter, Escape, another cell or control chosen).
  // A text the edit turned into a relative path is refused: the cell gets back the text it
  // had before the edit and the user is told. False when refused.
  bool StringGrid1FinEdition(int colonne, int ligne);
  // Refuses the state column and the title row (the current cell does not move then).
  bool StringGrid1SelectCell(int colonne, int ligne);
  // Applies the keyboard rule; returns whether the key must still go on to the grid.
  bool StringGrid1KeyDown(TTouche touche, bool editeur_ouvert);

  // MarquerEtat on one row (ligne >= 1) or, for kToutesLesLignes, on every data row; the
  // grid is repainted and panel 0 shows the credit text.
  static constexpr int kToutesLesLignes = -1;
  void MarquerEtat(int ligne);

 private:
  void Journal(const std::string& texte);
  // A line of the run's report in service mode: to the log, or to a dry run's output.
  void LigneRapportService(const std::string& texte);
  bool LigneRetenue(int ligne) const;
  // A list-file error of service mode: logged, on standard error, counted among the run's
  // errors (the closing line must not say 0) and added to the report as an error.
  void ErreurListeService(const std::string& texte);
  void AjouterLigneCommande();
  // Before a run from the window: when some rows have one directory only (a list file
  // with a line missing shows that way), asks whether to run without them.
  bool AccepterLignesIncompletes();
  // Before a synchronisation from the window: when two rows write to the same directory
  // or one inside the other, says which and asks whether to go on. A comparison changes
  // nothing and asks nothing.
  bool AccepterCiblesEnConflit();
  void FinDeRun(bool ComparerSeulement);
  TFinRun FinDuRun(uint32_t duree_ms) const;
  // The preview's side of a run: at its start, for each pair, and at its end.
  void DebutRunApercu(bool ComparerSeulement);
  void PreparerCouple(int ligne, const std::string& source, const std::string& destination);
  void SurActionRun(const TAction& a);
  void CompleterAvancement(TAvancementRun& a) const;
  void FinRunApercu();
  void AbandonnerPlan();
  // The rows changed (or the list): tells the window, after dropping a plan they outdate.
  void ListeChangee();
  std::vector<std::pair<std::string, std::string>> CouplesGrille() const;
  // A line of a window synchronisation's log.
  void JournalFenetre(const std::string& texte);
  void ExecuterSelection(const std::vector<int>& lignes, bool ComparerSeulement);
  void EnvoyerMailSiDu();
  // The run's log lines wait in a buffer and reach the window in batches: at check
  // points every kIntervalleLogMs, and before anything else is shown.
  void Log(const std::string& ligne);
  void ViderTamponLog();
  void SignalerAvancement();
  // The save question before the rows are replaced or the window closes: true when the
  // caller may go on (saved, or not wanted).
  bool ProposerEnregistrement();
  // Remembers the rows before a change, for Ctrl+Z. A cell edited keystroke after
  // keystroke is one change.
  void RetenirPourAnnulation(int colonne_editee = -1, int ligne_editee = -1);

  IVueJumelix& vue_;
  IRapportMail& mail_;
  TEtatRun etat_;
  TParcoursCouple parcours_ = TraiterCouple;
  TJournal journal_;
  THorloge horloge_;
  TGrilleLignes grille_;

  bool mode_service_ = false;
  std::string fichier_liste_;
  // The current list file was read and its title lines were not a list's: saving there
  // would replace whatever it holds.
  bool fichier_non_liste_ = false;
  // The lines the current list file holds, as read or as last written; the title lines
  // alone when there is no file.
  std::vector<std::string> lignes_fichier_ = {kTitreSource, kTitreCible};
  int32_t ligne_num_ = 0;
  bool demande_abandon_ = false;
  int32_t nb_erreurs_service_ = 0;
  uint32_t debut_run_ = 0;
  uint32_t derniere_maj_barre_ = 0;
  bool en_cours_ = false;
  bool fermeture_demandee_ = false;
  bool dernier_run_en_erreur_ = false;
  bool dernier_run_abandonne_ = false;
  bool dernier_mail_en_echec_ = false;
  std::function<bool()> arret_externe_;
  bool comparaison_ = false;
  std::vector<std::string> tampon_log_;
  int erreurs_a_afficher_ = 0;  // the pair's error count, written to "Etat" with the batch
  uint32_t dernier_vidage_log_ = 0;
  int paire_ = 0;
  int nb_paires_ = 0;
  std::vector<TGrilleLignes::TInstantane> annulations_;
  int colonne_editee_ = -1;
  int ligne_editee_ = -1;
  std::string texte_avant_edition_;  // of the cell being edited
  TListesRecentes recentes_;
  std::function<void(const std::string&)> sortie_simulation_;
  TSurAction sur_action_;
  TSurRemarque sur_remarque_;
  std::function<void(const std::string&, int)> sur_erreur_;
  std::vector<int> lignes_retenues_;
  std::vector<TBilanCouple> bilan_;
  int bilan_courant_ = -1;  // index in bilan_ of the pair being walked
  std::function<void(const TFinRun&)> sur_fin_run_;

  TPlanApercu plan_;
  int generation_plan_ = 0;
  std::vector<std::pair<std::string, std::string>> couples_plan_;  // the rows it was made of
  bool suivre_plan_ = false;  // the synchronisation under way follows the plan
  TPlanApercu::TTotaux totaux_suivis_;  // of the plan's pairs this run walks
  size_t paire_plan_ = TPlanApercu::kAucun;  // the plan's pair being walked
  TPlanApercu::TTotaux totaux_paire_;
  int64_t changements_run_ = 0, changements_debut_paire_ = 0;
  uint64_t octets_debut_paire_ = 0;
  TJournal journal_fenetre_;
  int32_t nb_erreurs_fenetre_ = 0;
};

}  // namespace jumelix
