// What the run controller needs from its window: the log area, the status-bar panels,
// the close/stop button caption, message boxes, file and folder dialogs, the processing of
// pending events and the wait cursor. The Qt main window implements it; service mode and
// the tests use headless implementations. Every call comes from the GUI thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace jumelix {

enum class TBoutonsMessage { Ok, OkAnnuler, OuiNon, OuiNonAnnuler };
enum class TIconeMessage { Aucune, Information, Question, Erreur };
enum class TReponseMessage { Ok, Annuler, Oui, Non };

// Where a run stands, given to the window at each pair and with the status bar's refresh.
struct TAvancementRun {
  int paire = 0;       // the pair being walked, from 1, among the rows that have both cells
  int nb_paires = 0;   // how many pairs the run walks
  int ligne = 0;       // its grid row (from 1)
  std::string repertoire;  // the source directory being walked, empty when not yet known
  std::string volume;      // copied volume and rate ("12,5 Mo à 3,1 Mo/s"), empty when none
  int64_t entrees = 0;     // entries done so far in the run: copied, deleted or identical
  uint64_t octets = 0;     // bytes copied so far in the run
  uint32_t ecoule_ms = 0;  // since the run started
  // A synchronisation that follows a previewed plan knows its totals: the entries changed
  // so far (`changements`) out of `changements_total`, `octets` out of `octets_total`, and
  // how far the pair is (per mille). -1: not known (no plan, or a comparison).
  int64_t changements = 0;
  int64_t changements_total = -1;
  int64_t octets_total = -1;
  int pour_mille_paire = -1;
  int64_t restant_ms = -1;  // time left, once it can be estimated
};

// An open or save dialog: its filters as (name, pattern) pairs in display order, the
// default extension (with or without the dot, as given) and the proposed file name.
struct TDialogueFichier {
  std::vector<std::pair<std::string, std::string>> filtres;
  std::string extension_defaut;
  std::string nom_initial;
};

class IVueJumelix {
 public:
  virtual ~IVueJumelix() = default;

  // Log area (MemoLog): empty it; add one line at the end and repaint it at once.
  virtual void ViderLog() = 0;
  virtual void AjouterLog(const std::string& ligne) = 0;
  // Several lines at once, in order: a run hands its lines over in batches, since a log
  // area that repaints once per line makes a long comparison many times slower.
  virtual void AjouterLignesLog(const std::vector<std::string>& lignes) {
    for (const std::string& l : lignes) AjouterLog(l);
  }

  // Status bar: panel 0 state text, 1-3 counters, 4 elapsed time.
  virtual void DefinirPanneau(int panneau, const std::string& texte) = 0;
  virtual void RepeindreBarreEtat() = 0;

  // The grid's cells changed during a run: repaint it now, before the walk goes on.
  virtual void RepeindreGrille() = 0;

  // Caption of ButtonFermer ("Fermer" or "Abandonner"), repainted at once.
  virtual void DefinirLegendeFermer(const std::string& legende) = 0;

  // A modal message box owned by the main window.
  virtual TReponseMessage Message(const std::string& texte, const std::string& titre,
                                  TBoutonsMessage boutons, TIconeMessage icone) = 0;

  // Open and save dialogs: the chosen name, or nothing when cancelled.
  virtual std::optional<std::string> DialogueOuvrir(const TDialogueFichier& d) = 0;
  virtual std::optional<std::string> DialogueEnregistrer(const TDialogueFichier& d) = 0;
  // Folder browser: the chosen directory, or nothing when cancelled.
  virtual std::optional<std::string> ChoisirRepertoire(const std::string& titre) = 0;

  // Processes every pending window event (repaints, "Abandonner", Escape).
  virtual void TraiterEvenements() = 0;
  // Wait cursor on or off (shown while the report mail is being sent).
  virtual void CurseurAttente(bool /*actif*/) {}

  // A list file of `nb_paires` line pairs (the title pair included) was read: grow the grid
  // and the window together until the grid is (row height + grid-line width) x
  // (nb_paires + 1) high, at most two thirds of the screen height; never shrink.
  virtual void AjusterHauteurGrille(int /*nb_paires*/) {}

  // The program's credit text, put into panel 0 whenever the state column is reset.
  virtual std::string TexteCredit() { return {}; }

  // A run starts (true) or has ended (false): the commands it ignores look disabled.
  virtual void RunEnCours(bool /*en_cours*/) {}
  // The progress of the run under way.
  virtual void AfficherAvancement(const TAvancementRun& /*avancement*/) {}
  // The list file's name, its modified state or the recent lists changed.
  virtual void ListeChangee() {}

  // Closes the main window (used when a close was asked during a run: the run stops, then
  // the window closes through its usual close query).
  virtual void FermerFenetre() {}
};

// The view of service mode: nothing is shown and nobody answers. Message boxes answer
// Annuler (Ok when it is the only button, Non when there is no Annuler), dialogs are cancelled. The lines of the
// hidden log area (blank cell, mail outcome) go to standard error, where cron or the
// systemd journal keeps them.
class TVueSansFenetre : public IVueJumelix {
 public:
  void ViderLog() override {}
  void AjouterLog(const std::string& ligne) override;
  void DefinirPanneau(int, const std::string&) override {}
  void RepeindreBarreEtat() override {}
  void RepeindreGrille() override {}
  void DefinirLegendeFermer(const std::string&) override {}
  TReponseMessage Message(const std::string& texte, const std::string& titre,
                          TBoutonsMessage boutons, TIconeMessage icone) override;
  std::optional<std::string> DialogueOuvrir(const TDialogueFichier&) override { return {}; }
  std::optional<std::string> DialogueEnregistrer(const TDialogueFichier&) override { return {}; }
  std::optional<std::string> ChoisirRepertoire(const std::string&) override { return {}; }
  void TraiterEvenements() override {}
};

}  // namespace jumelix
