#include "app/UJumelix.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <utility>
#include <vector>

#include "app/DiagnosticListe.h"
#include "app/Journal.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "engine/UDelta.h"
#include "platform/System.h"

namespace jumelix {

namespace {

constexpr uint32_t kIntervalleBarreMs = 300;
// The log area takes the run's lines in batches this often: often enough to follow the
// run, seldom enough that its repaints cost little against the walk.
constexpr uint32_t kIntervalleLogMs = 200;
constexpr size_t kNbAnnulationsMax = 100;

const char* const kTexteConfirmation =
    "Chaque répertoire cible va devenir identique au répertoire source correspondant. "
    "Veuillez confirmer...";
const char* const kTitreConfirmation = "Synchronisation des répertoires";
const char* const kTitreCiblesEnConflit = "Répertoires cibles en conflit";

// Beyond this, the question says how many more: ten pairs with one destination make 45.
constexpr size_t kNbConflitsMontres = 5;

std::string TexteFinService(int32_t nb_erreurs) {
  return "Synchronisation terminée. Nombre d'erreurs " + std::to_string(nb_erreurs);
}

std::function<int()>& JoursArchiveInstalles() {
  static std::function<int()> jours;
  return jours;
}

std::function<bool()>& IgnorerCachesInstalle() {
  static std::function<bool()> ignorer;
  return ignorer;
}

}  // namespace

void InstallerJoursArchive(std::function<int()> jours) {
  JoursArchiveInstalles() = std::move(jours);
}

int JoursArchiveProgramme() {
  const auto& jours = JoursArchiveInstalles();
  return jours ? std::max(0, jours()) : 0;
}

void InstallerIgnorerCaches(std::function<bool()> ignorer) {
  IgnorerCachesInstalle() = std::move(ignorer);
}

bool IgnorerCachesProgramme() {
  const auto& ignorer = IgnorerCachesInstalle();
  return ignorer && ignorer();
}

std::string TexteTempsEcoule(uint32_t t, uint32_t debut) {
  if (t < debut) return {};
  uint32_t s = (t - debut) / 1000;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u:%02u:%02u", s / 3600, (s % 3600) / 60, s % 60);
  return buf;
}

std::string CheminDeCellule(const std::string& cellule) {
  std::string chemin = DevelopperTilde(Trim(cellule), platform::RepertoirePersonnel());
  if (chemin.size() > 1 && chemin.back() == '/') chemin.pop_back();
  return chemin;
}

bool CheminRelatif(const std::string& cellule) {
  const std::string texte = Trim(cellule);
  return !texte.empty() && texte[0] != '/' && texte != "~" && texte.rfind("~/", 0) != 0;
}

std::string TexteVolume(uint64_t octets) {
  if (octets < 1000) return std::to_string(octets) + " octets";
  const char* unites[] = {"ko", "Mo", "Go", "To"};
  double v = static_cast<double>(octets) / 1000;
  size_t u = 0;
  while (v >= 999.95 && u + 1 < std::size(unites)) {
    v /= 1000;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", v, unites[u]);
  std::string texte = buf;
  for (char& c : texte)
    if (c == '.') c = ',';  // French decimal comma, whatever the C locale says
  return texte;
}

TJumelix::TJumelix(IVueJumelix& vue, IRapportMail& mail, TJournal journal, THorloge horloge,
                   std::string fichier_recentes)
    : vue_(vue),
      mail_(mail),
      journal_(journal ? std::move(journal) : TJournal(Journaliser)),
      horloge_(horloge ? std::move(horloge) : THorloge(platform::TickCount)),
      recentes_(std::move(fichier_recentes)) {}

void TJumelix::AvertirReglagesRefuses(const std::string& refus) {
  vue_.Message(refus + "\n\nCes réglages ne sont pas utilisés. Des exclusions globales "
                       "refusées arrêtent chaque couple tant qu'elles ne sont pas à vous seul.",
               "Jumelix", TBoutonsMessage::Ok, TIconeMessage::Erreur);
}

std::string TJumelix::CheminListesRecentes() {
  const std::string etat = RepertoireEtat();
  return etat.empty() ? etat : etat + "/listes-recentes";
}

void TJumelix::Log(const std::string& ligne) {
  if (en_cours_ && !mode_service_) {
    tampon_log_.push_back(ligne);
  } else {
    vue_.AjouterLog(ligne);
  }
}

void TJumelix::ViderTamponLog() {
  dernier_vidage_log_ = horloge_();
  if (erreurs_a_afficher_ > 0) {
    grille_.DefinirCellule(kColEtat, ligne_num_, std::to_string(erreurs_a_afficher_) + " erreur(s)");
    erreurs_a_afficher_ = 0;
    vue_.RepeindreGrille();
  }
  if (tampon_log_.empty()) return;
  std::vector<std::string> lignes;
  lignes.swap(tampon_log_);
  vue_.AjouterLignesLog(lignes);
}

void TJumelix::Journal(const std::string& texte) { journal_(texte); }

void TJumelix::LigneRapportService(const std::string& texte) {
  if (sortie_simulation_)
    sortie_simulation_(texte);
  else
    Journal(texte);
}

bool TJumelix::LigneRetenue(int ligne) const {
  return lignes_retenues_.empty() ||
         std::find(lignes_retenues_.begin(), lignes_retenues_.end(), ligne) !=
             lignes_retenues_.end();
}

void TJumelix::ErreurListeService(const std::string& texte) {
  if (!sortie_simulation_) Journal(texte);  // a dry run writes no log
  vue_.AjouterLog(texte);  // standard error: what cron mails, what the systemd journal keeps
  ++nb_erreurs_service_;
  CompteRendu().AjouterErreur(texte);
}

void TJumelix::FormCreate(const TLigneCommande& ligne_commande) {
  vue_.DefinirLegendeFermer(kLegendeFermer);
  mode_service_ = ligne_commande.ModeService;
  fichier_liste_ = ligne_commande.FichierListe;
  // A scheduler started without a list must not believe all went well.
  if (mode_service_ && fichier_liste_.empty()) ErreurListeService(kTexteSansFichierListe);
  LireFichierListe(fichier_liste_);
  MarquerEtat(kToutesLesLignes);
}

void TJumelix::MarquerEtat(int ligne) {
  if (ligne == kToutesLesLignes)
    grille_.MarquerEtatTout();
  else
    grille_.MarquerEtat(ligne);
  vue_.RepeindreGrille();
  vue_.DefinirPanneau(0, vue_.TexteCredit());
}

// ---- The run ----

std::string TJumelix::TexteCompteurs() const {
  return "Nombre de fichiers copiés " + std::to_string(etat_.NbCopies) + " ; Supprimés " +
         std::to_string(etat_.NbSupprimes) + " ; identiques " + std::to_string(etat_.NbIdentiques);
}

void TJumelix::MajBarreEtat(bool forcer) {
  uint32_t t = horloge_();
  if (!forcer && static_cast<uint32_t>(t - derniere_maj_barre_) < kIntervalleBarreMs) return;
  derniere_maj_barre_ = t;
  vue_.DefinirPanneau(4, TexteTempsEcoule(t, debut_run_));
  std::string copies = "Copiés : " + std::to_string(etat_.NbCopies);
  vue_.DefinirPanneau(1, copies);
  vue_.DefinirPanneau(2, "Supprimés : " + std::to_string(etat_.NbSupprimes));
  vue_.DefinirPanneau(3, "Identiques : " + std::to_string(etat_.NbIdentiques));
  if (en_cours_ && paire_ > 0) vue_.AfficherAvancement(Avancement());
  vue_.RepeindreBarreEtat();
}

TAvancementRun TJumelix::Avancement() const {
  TAvancementRun a;
  if (!en_cours_) return a;
  a.paire = paire_;
  a.nb_paires = nb_paires_;
  a.ligne = ligne_num_;
  a.repertoire = EchapperControles(etat_.RepertoireCourant);
  a.entrees = int64_t{etat_.NbCopies} + etat_.NbSupprimes + etat_.NbIdentiques;
  a.octets = etat_.OctetsCopies;
  a.ecoule_ms = horloge_() - debut_run_;
  CompleterAvancement(a);
  if (etat_.OctetsCopies > 0) {
    const uint32_t ms = horloge_() - debut_run_;
    a.volume = TexteVolume(etat_.OctetsCopies);
    if (ms >= 1000)
      a.volume += " à " + TexteVolume(etat_.OctetsCopies * 1000 / ms) + "/s";
  }
  return a;
}

void TJumelix::SurMessageRun(const std::string& brut, int nombre, int erreur) {
  // A file name may hold a line end or other control characters: shown as they are, it
  // would split the line or forge another one in the log, the window or the mail.
  const std::string texte = EchapperControles(brut);
  if (bilan_courant_ >= 0) {
    bilan_[bilan_courant_].lignes.push_back(texte);
    bilan_[bilan_courant_].causes.push_back(erreur);
  }
  if (mode_service_) {
    LigneRapportService(texte);
    // A dry run's lines are its output already.
    if (sur_erreur_ && !sortie_simulation_) sur_erreur_(texte, erreur);
    ++nb_erreurs_service_;
  } else {
    Log(texte);
    JournalFenetre(texte);
    ++nb_erreurs_fenetre_;
    // Shown with the next batch of log lines: a grid repainted once per line costs more
    // than the walk.
    erreurs_a_afficher_ = nombre;
  }
  CompteRendu().AjouterErreur(texte);
}

void TJumelix::SurAvancementRun(bool& abandon) {
  if (arret_externe_ && arret_externe_()) {
    demande_abandon_ = true;
    abandon = true;
    return;
  }
  if (mode_service_) {
    // Nobody watches a service run, unless the command line asked for its progress.
    const uint32_t t = horloge_();
    if (static_cast<uint32_t>(t - derniere_maj_barre_) >= kIntervalleBarreMs) {
      derniere_maj_barre_ = t;
      vue_.AfficherAvancement(Avancement());
    }
    return;
  }
  if (static_cast<uint32_t>(horloge_() - dernier_vidage_log_) >= kIntervalleLogMs) ViderTamponLog();
  MajBarreEtat(false);
  vue_.TraiterEvenements();
  if (demande_abandon_) abandon = true;
}

void TJumelix::Executer(bool ComparerSeulement) {
  // A command arriving while a walk processes events must not start a run inside the run.
  if (en_cours_) return;
  en_cours_ = true;
  comparaison_ = ComparerSeulement;
  tampon_log_.clear();
  erreurs_a_afficher_ = 0;
  colonne_editee_ = ligne_editee_ = -1;
  nb_paires_ = 0;
  paire_ = 0;
  bilan_.clear();
  for (int l = 1; l < grille_.NbLignes(); ++l) {
    std::string s = CheminDeCellule(grille_.Cellule(kColSource, l));
    std::string d = CheminDeCellule(grille_.Cellule(kColCible, l));
    if (s.empty() || d.empty()) continue;
    if (LigneRetenue(l)) ++nb_paires_;
    TBilanCouple b;
    b.ligne = l;
    b.source = std::move(s);
    b.destination = std::move(d);
    bilan_.push_back(std::move(b));
  }
  vue_.RunEnCours(true);

  // Fresh counters and stop flag: the end of the run reads the flag the last walk left, and
  // a run that walks nothing must not inherit the flag of an earlier stopped run.
  etat_ = TEtatRun{};
  etat_.JoursArchive = JoursArchiveProgramme();
  etat_.IgnorerCaches = IgnorerCachesProgramme();
  if (const std::string etat = RepertoireEtat(); !etat.empty()) etat_.Marques = etat + "/marques";
  etat_.DebutRun = static_cast<int64_t>(std::time(nullptr));
  etat_.SurAction = sur_action_;
  DebutRunApercu(ComparerSeulement);
  etat_.SurRemarque = sur_remarque_;
  ChargerExclusionsGlobales(CheminExclusionsGlobales(), etat_);
  debut_run_ = horloge_();
  if (!mode_service_) MajBarreEtat(true);
  vue_.ViderLog();
  if (lignes_retenues_.empty()) {
    MarquerEtat(kToutesLesLignes);
  } else {
    // A run of some rows leaves the others' state as the last run gave it.
    for (int l : lignes_retenues_)
      if (l >= 1 && l < grille_.NbLignes()) grille_.MarquerEtat(l);
    MarquerEtat(lignes_retenues_.front());
  }
  demande_abandon_ = false;
  vue_.DefinirLegendeFermer(kLegendeAbandonner);
  vue_.DefinirPanneau(
      0, ComparerSeulement ? "Comparaison en cours..." : "Synchronisation en cours...");
  vue_.RepeindreBarreEtat();
  dernier_vidage_log_ = horloge_();

  TSurMessage sur_message = [this](const std::string& texte, int nombre, int erreur) {
    SurMessageRun(texte, nombre, erreur);
  };
  TSurAvancement sur_avancement = [this](bool& abandon) { SurAvancementRun(abandon); };

  for (ligne_num_ = 1; ligne_num_ < grille_.NbLignes() && !demande_abandon_; ++ligne_num_) {
    std::string s = CheminDeCellule(grille_.Cellule(kColSource, ligne_num_));
    std::string d = CheminDeCellule(grille_.Cellule(kColCible, ligne_num_));
    if (!s.empty() && !d.empty() && !LigneRetenue(ligne_num_)) continue;
    if (!s.empty() && !d.empty()) {
      ++paire_;
      bilan_courant_ = -1;
      for (size_t k = 0; k < bilan_.size(); ++k)
        if (bilan_[k].ligne == ligne_num_) bilan_courant_ = static_cast<int>(k);
      if (s[0] != '/' || d[0] != '/') {
        // Relative to the directory the program was started from, a destination could be
        // anywhere: the pair is refused, as one error of its row. (A "~/" path stays
        // relative only when the home directory is unknown.)
        const std::string& cellule =
            grille_.Cellule(s[0] != '/' ? kColSource : kColCible, ligne_num_);
        SurMessageRun("Chemin relatif refusé en ligne " + std::to_string(ligne_num_) + " : " +
                          Trim(cellule) + " (un chemin doit commencer par / ou ~/)",
                      1, 0);
        ViderTamponLog();
        if (bilan_courant_ >= 0) {
          bilan_[bilan_courant_].traite = true;
          bilan_[bilan_courant_].etat = "1 erreur(s)";
          bilan_courant_ = -1;
        }
        continue;
      }
      const int32_t copies = etat_.NbCopies, supprimes = etat_.NbSupprimes,
                    identiques = etat_.NbIdentiques;
      const uint64_t octets = etat_.OctetsCopies;
      etat_.RepertoireCourant = s;
      PreparerCouple(ligne_num_, s, d);
      vue_.AfficherAvancement(Avancement());
      vue_.RepeindreGrille();
      int n = parcours_(s, d, ComparerSeulement, sur_message, sur_avancement, etat_);
      ViderTamponLog();
      if (bilan_courant_ >= 0) {
        TBilanCouple& b = bilan_[bilan_courant_];
        b.traite = true;
        b.abandonne = etat_.Abandon;
        b.copies = etat_.NbCopies - copies;
        b.supprimes = etat_.NbSupprimes - supprimes;
        b.identiques = etat_.NbIdentiques - identiques;
        b.octets = etat_.OctetsCopies - octets;
        const std::string erreurs = std::to_string(n) + " erreur(s)";
        b.etat = etat_.Abandon ? (n == 0 ? std::string(kEtatAbandonne)
                                         : erreurs + ", " + kEtatAbandonne)
                               : (n == 0 ? std::string("=") : erreurs);
        bilan_courant_ = -1;
      }
      if (etat_.Abandon) {
        // A pair cut short is never shown as done: "=" would claim a mirror it is not.
        const std::string abandon = EchapperControles(s + " et " + d + " " + kEtatAbandonne);
        if (mode_service_) {
          LigneRapportService(abandon);
        } else {
          Log(abandon);
          JournalFenetre(abandon);
        }
        grille_.DefinirCellule(kColEtat, ligne_num_,
                               n == 0 ? std::string(kEtatAbandonne)
                                      : std::to_string(n) + " erreur(s), " + kEtatAbandonne);
        vue_.RepeindreGrille();
        CompteRendu().AjouterMessage(abandon);
      } else if (n == 0) {
        const std::string egal = EchapperControles(s + " et " + d + " =");
        if (mode_service_ && !sortie_simulation_) Journal(egal);
        if (!mode_service_) JournalFenetre(egal);
        grille_.DefinirCellule(kColEtat, ligne_num_, "=");
        vue_.RepeindreGrille();
        CompteRendu().AjouterMessage(egal);
      }
    } else if (!s.empty() || !d.empty()) {
      Log("Nom de répertoire vide en ligne " + std::to_string(ligne_num_));
    }
  }

  FinDeRun(ComparerSeulement);
}

void TJumelix::FinDeRun(bool ComparerSeulement) {
  ViderTamponLog();
  if (ComparerSeulement) {
    if (etat_.Abandon) {
      vue_.DefinirPanneau(0, "Comparaison abandonnée");
      if (sortie_simulation_)
        sortie_simulation_("ABANDON");
      else
        vue_.AjouterLog("ABANDON");
    } else {
      vue_.DefinirPanneau(0, "Comparaison terminée");
    }
  } else {
    if (etat_.Abandon) {
      // Only a signal can stop a service run; its log then says so instead of ending
      // without any closing line.
      if (mode_service_) {
        Journal("Synchronisation abandonnée");
        Journal(TexteCompteurs() + "\n");
      }
      JournalFenetre("Synchronisation abandonnée");
      JournalFenetre(TexteCompteurs() + "\n");
      vue_.DefinirPanneau(0, "Synchronisation abandonnée");
      vue_.AjouterLog("ABANDON");
      CompteRendu().AjouterErreur("Synchronisation abandonnée");
    } else {
      if (mode_service_) {
        Journal(TexteFinService(nb_erreurs_service_));
        // The line end makes the date and time of this line a line of its own, which
        // also separates one run from the next in the log file.
        Journal(TexteCompteurs() + "\n");
      }
      JournalFenetre(TexteFinService(nb_erreurs_fenetre_));
      JournalFenetre(TexteCompteurs() + "\n");
      vue_.DefinirPanneau(0, "Synchronisation terminée.");
      CompteRendu().AjouterMessage(mode_service_ ? TexteFinService(nb_erreurs_service_)
                                                 : std::string("Synchronisation terminée."));
      CompteRendu().AjouterMessage(TexteCompteurs());
    }
    EnvoyerMailSiDu();
  }

  vue_.DefinirLegendeFermer(kLegendeFermer);
  MajBarreEtat(true);
  dernier_run_en_erreur_ = CompteRendu().ErreurSignalee();
  dernier_run_abandonne_ = etat_.Abandon;
  CompteRendu().ViderCompteRendu();
  FinRunApercu();
  en_cours_ = false;
  vue_.RunEnCours(false);
  vue_.RepeindreGrille();
  if (sur_fin_run_ && !mode_service_) sur_fin_run_(FinDuRun(horloge_() - debut_run_));

  if (fermeture_demandee_) {
    fermeture_demandee_ = false;
    vue_.FermerFenetre();
  }
}

TFinRun TJumelix::FinDuRun(uint32_t duree_ms) const {
  TFinRun f;
  f.comparaison = comparaison_;
  f.abandon = dernier_run_abandonne_;
  for (const TBilanCouple& b : bilan_) f.erreurs += static_cast<int32_t>(b.lignes.size());
  f.duree_ms = duree_ms;
  f.mail_en_echec = !comparaison_ && dernier_mail_en_echec_;
  f.compteurs = TexteCompteurs();
  return f;
}

void TJumelix::EnvoyerMailSiDu() {
  dernier_mail_en_echec_ = false;
  if (!mail_.MailAEnvoyer(mode_service_)) return;
  vue_.AjouterLog("Envoi du compte-rendu par mail.");
  const std::string ordinateur = NomOrdinateur();
  CompteRendu().InsererEnTete("Synchronisation effectuée sur " + ordinateur + " le " +
                              platform::LocalDateTimeText());
  const std::string sujet = "Jumelix [" + ordinateur + "] : " +
                            (CompteRendu().ErreurSignalee() ? "AU MOINS UNE ERREUR" : "Ok");
  vue_.CurseurAttente(true);
  std::string erreur = mail_.EnvoyerCompteRendu(sujet, arret_externe_);
  vue_.CurseurAttente(false);
  dernier_mail_en_echec_ = !erreur.empty();
  vue_.AjouterLog(erreur.empty() ? std::string("Mail envoyé.") : "Erreur mail : " + erreur);
}

// ---- Commands ----

void TJumelix::RetenirPourAnnulation(int colonne_editee, int ligne_editee) {
  const bool meme_edition =
      colonne_editee >= 0 && colonne_editee == colonne_editee_ && ligne_editee == ligne_editee_;
  colonne_editee_ = colonne_editee;
  ligne_editee_ = ligne_editee;
  if (meme_edition) return;
  TGrilleLignes::TInstantane instantane = grille_.Instantane();
  // An operation that changes nothing (emptying an empty grid) leaves nothing to undo.
  if (!annulations_.empty() && annulations_.back().cellules == instantane.cellules) return;
  annulations_.push_back(std::move(instantane));
  if (annulations_.size() > kNbAnnulationsMax) annulations_.erase(annulations_.begin());
}

void TJumelix::AnnulerClick() {
  if (en_cours_ || annulations_.empty()) return;
  grille_.Restaurer(annulations_.back());
  annulations_.pop_back();
  colonne_editee_ = ligne_editee_ = -1;
  vue_.RepeindreGrille();
  ListeChangee();
}

bool TJumelix::DeposerChemins(int colonne, int ligne, const std::vector<std::string>& chemins) {
  if (en_cours_ || chemins.empty()) return false;
  struct stat st {};
  if (::stat(chemins[0].c_str(), &st) != 0) return false;
  if (S_ISREG(st.st_mode)) {
    // Only a list opens: anything else would become the current list, its name in the
    // title and its content lost to the next save.
    std::vector<std::string> debut;
    const int err = LireLignesFichier(chemins[0], debut, kOctetsTitresListe);
    const std::string nom = EchapperControles(chemins[0]);
    std::string refus;
    if (err != 0) {
      refus = "Impossible de lire le fichier déposé :\n" + nom + "\n" + TexteErreurSysteme(err);
    } else if (DiagnostiquerListe(debut).defaut == TDefautListe::PasUneListe) {
      refus = "Ce fichier n'est pas un fichier liste, il n'a pas été ouvert :\n" + nom +
              "\n\nUn fichier liste commence par les lignes « " + kTitreSource + " » et « " +
              kTitreCible + " ». Pour remplir une cellule, déposez un répertoire.";
    }
    if (!refus.empty()) {
      vue_.Message(refus, "Jumelix", TBoutonsMessage::Ok, TIconeMessage::Erreur);
      return false;
    }
    return OuvrirFichierListe(chemins[0]);
  }
  if (!S_ISDIR(st.st_mode)) return false;
  if (ligne < 1 || ligne >= grille_.NbLignes()) {
    ligne = grille_.LigneCourante();
    colonne = grille_.ColonneCourante();
  }
  if (colonne == kColEtat) colonne = kColCible;
  RetenirPourAnnulation();
  if (chemins.size() >= 2 && ::stat(chemins[1].c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    grille_.DefinirCellule(kColSource, ligne, chemins[0]);
    grille_.DefinirCellule(kColCible, ligne, chemins[1]);
  } else {
    grille_.DefinirCellule(colonne, ligne, chemins[0]);
  }
  grille_.DefinirCelluleCourante(colonne, ligne);
  MarquerEtat(ligne);
  ListeChangee();
  return true;
}

void TJumelix::ButtonAjouterLigneClick() {
  if (en_cours_) return;
  RetenirPourAnnulation();
  grille_.DefinirCelluleCourante(grille_.ColonneCourante(), grille_.DerniereLigne());
  grille_.AjouterLigne();
  ListeChangee();
}

void TJumelix::ButtonSupprimerLigneClick() {
  if (en_cours_) return;
  RetenirPourAnnulation();
  grille_.SupprimerLigne();
  ListeChangee();
}

void TJumelix::SupprimerToutesLesLignesClick() {
  if (en_cours_) return;
  // One blank row is what deleting everything leaves: nothing to do, nothing to undo.
  if (grille_.NbLignes() == 2 && grille_.GrilleVide()) return;
  if (!grille_.GrilleVide() &&
      vue_.Message(kTexteSupprimerTout, "Supprimer toutes les lignes", TBoutonsMessage::OkAnnuler,
                   TIconeMessage::Question) != TReponseMessage::Ok)
    return;
  RetenirPourAnnulation();
  grille_.SupprimerToutesLesLignes();
  ListeChangee();
}

void TJumelix::ButtonParcourirClick() {
  if (en_cours_) return;
  std::optional<std::string> repertoire = vue_.ChoisirRepertoire("Choix du répertoire");
  if (!repertoire) return;
  const int ligne = grille_.LigneCourante();
  RetenirPourAnnulation();
  grille_.DefinirCellule(grille_.ColonneCourante(), ligne, *repertoire);
  MarquerEtat(ligne);
  ListeChangee();
}

bool TJumelix::AccepterLignesIncompletes() {
  std::vector<int> lignes = grille_.LignesAMoitieRemplies();
  lignes.erase(std::remove_if(lignes.begin(), lignes.end(),
                              [this](int l) { return !LigneRetenue(l); }),
               lignes.end());
  if (lignes.empty()) return true;
  std::string numeros;
  for (int l : lignes) numeros += (numeros.empty() ? "" : ", ") + std::to_string(l);
  const std::string texte =
      lignes.size() == 1
          ? "La ligne " + numeros +
                " du tableau n'a qu'un des deux répertoires : elle ne sera pas traitée."
          : "Les lignes " + numeros +
                " du tableau n'ont qu'un des deux répertoires : elles ne seront pas traitées.";
  return vue_.Message(texte + "\nContinuer quand même ?", "Lignes incomplètes",
                      TBoutonsMessage::OkAnnuler,
                      TIconeMessage::Question) == TReponseMessage::Ok;
}

bool TJumelix::AccepterCiblesEnConflit() {
  std::vector<TCibleListe> cibles;
  for (int l = 1; l < grille_.NbLignes(); ++l) {
    std::string cible = CheminDeCellule(grille_.Cellule(kColCible, l));
    // A relative one is refused by the run itself.
    if (!cible.empty() && cible[0] == '/' && LigneRetenue(l) &&
        !CheminDeCellule(grille_.Cellule(kColSource, l)).empty())
      cibles.push_back({l, std::move(cible)});
  }
  const std::vector<TCiblesEnConflit> conflits = CiblesEnConflit(cibles);
  if (conflits.empty()) return true;
  std::string texte = "Des lignes du tableau écrivent dans le même répertoire cible :\n";
  const size_t montres = std::min(conflits.size(), kNbConflitsMontres);
  for (size_t k = 0; k < montres; ++k) texte += "- " + TexteCiblesEnConflit(conflits[k]) + "\n";
  if (conflits.size() > montres)
    texte += "- et " + std::to_string(conflits.size() - montres) + " autre(s) cas\n";
  texte +=
      "La synchronisation de l'une de ces lignes écrasera ce que l'autre y a copié.\n"
      "Synchroniser quand même ?";
  return vue_.Message(texte, kTitreCiblesEnConflit, TBoutonsMessage::OuiNon,
                      TIconeMessage::Question) == TReponseMessage::Oui;
}

void TJumelix::ButtonComparerClick() {
  if (en_cours_) return;
  if (!AccepterLignesIncompletes()) return;
  Executer(true);
}

void TJumelix::ButtonSynchroniserClick() {
  if (en_cours_) return;
  if (!AccepterLignesIncompletes() || !AccepterCiblesEnConflit()) return;
  // With actions left out of the previewed plan, the question says so.
  const size_t laisses = plan_.NbLaisses();
  std::string texte = kTexteConfirmation;
  if (laisses > 0) {
    texte = "Le plan de l'aperçu va être appliqué en laissant de côté ";
    texte += std::to_string(laisses);
    texte += " élément(s) décoché(s). Ce qui a changé depuis l'aperçu est laissé tel quel "
             "et signalé. Veuillez confirmer...";
  }
  if (vue_.Message(texte, kTitreConfirmation, TBoutonsMessage::OkAnnuler,
                   TIconeMessage::Question) == TReponseMessage::Ok)
    Executer(false);
}

void TJumelix::ButtonFermerClick() {
  if (en_cours_) {
    demande_abandon_ = true;
    return;
  }
  vue_.FermerFenetre();
}

void TJumelix::Lireunfichierliste1Click() {
  if (en_cours_) return;
  TDialogueFichier dialogue{
      {{"Fichiers .ini", "*.ini"}, {"Tous les fichiers", "*.*"}}, ".ini", fichier_liste_};
  // Unsaved rows are offered for saving before the dialog, not after a file was chosen.
  if (!ProposerEnregistrement()) return;
  std::optional<std::string> choix = vue_.DialogueOuvrir(dialogue);
  if (!choix) return;
  OuvrirFichierListe(*choix, /*demander=*/false);
}

void TJumelix::Enregistrerlefichierliste1Click() {
  if (!en_cours_) EnregistrerFichierListe();
}

void TJumelix::EnregistrerSous1Click() {
  if (!en_cours_) EnregistrerFichierListe(true);
}

void TJumelix::StringGrid1SetEditText(int colonne, int ligne, const std::string& texte) {
  if (en_cours_ || colonne == kColEtat || ligne < 1) return;
  if (colonne != colonne_editee_ || ligne != ligne_editee_)
    texte_avant_edition_ = grille_.Cellule(colonne, ligne);
  RetenirPourAnnulation(colonne, ligne);
  grille_.DefinirCellule(colonne, ligne, texte);
  MarquerEtat(ligne);
  ListeChangee();
}

bool TJumelix::StringGrid1FinEdition(int colonne, int ligne) {
  const bool modifiee = colonne == colonne_editee_ && ligne == ligne_editee_;
  // The next keystroke starts a change of its own for Ctrl+Z.
  colonne_editee_ = ligne_editee_ = -1;
  // A text read from a list file is shown as it is: only what the user types is judged
  // here (the run refuses the pair either way).
  if (en_cours_ || !modifiee || !CheminRelatif(grille_.Cellule(colonne, ligne))) return true;
  const std::string refuse = EchapperControles(Trim(grille_.Cellule(colonne, ligne)));
  grille_.DefinirCellule(colonne, ligne, texte_avant_edition_);
  // Back as it was: the edit leaves nothing to undo.
  if (!annulations_.empty() && annulations_.back().cellules == grille_.Instantane().cellules)
    annulations_.pop_back();
  MarquerEtat(ligne);
  ListeChangee();
  vue_.Message("Chemin relatif refusé : « " + refuse +
                   " ».\nUn répertoire s'écrit depuis la racine (/...) ou depuis votre dossier "
                   "personnel (~/...). La cellule reprend son texte précédent.",
               "Chemin relatif", TBoutonsMessage::Ok, TIconeMessage::Erreur);
  return false;
}

bool TJumelix::StringGrid1SelectCell(int colonne, int ligne) {
  return grille_.DefinirCelluleCourante(colonne, ligne);
}

bool TJumelix::StringGrid1KeyDown(TTouche touche, bool editeur_ouvert) {
  // During a run the rows are read-only: keys only move within the grid.
  if (en_cours_) return touche != TTouche::Inser;
  const TActionTouche action = grille_.DecisionTouche(touche, editeur_ouvert).action;
  if (action == TActionTouche::AjouterLigne || action == TActionTouche::InsererLigne)
    RetenirPourAnnulation();
  const int lignes = grille_.NbLignes();
  const bool transmettre = grille_.AppliquerTouche(touche, editeur_ouvert);
  if (grille_.NbLignes() != lignes) ListeChangee();
  return transmettre;
}

}  // namespace jumelix
