#include "app/Programme.h"

#include <getopt.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "app/BilanJson.h"
#include "app/Journal.h"
#include "app/SortieTerminal.h"
#include "app/RapportMail.h"
#include "app/UJumelix.h"
#include "engine/UDelta.h"
#include "shared/UMessErreurs.h"
#include "platform/FichierAtomique.h"
#include "platform/System.h"
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

enum : int { kOptProgress = 256, kOptNoProgress, kOptPair, kOptJson, kOptVersion };

const option kOptionsLongues[] = {
    {"dry-run", no_argument, nullptr, 'n'},
    {"itemize-changes", no_argument, nullptr, 'i'},
    {"progress", no_argument, nullptr, kOptProgress},
    {"no-progress", no_argument, nullptr, kOptNoProgress},
    {"pair", required_argument, nullptr, kOptPair},
    {"json", required_argument, nullptr, kOptJson},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kOptVersion},
    {nullptr, 0, nullptr, 0},
};
// "-": the other arguments come back in order, as option 1, whatever POSIXLY_CORRECT says
// (so "/S" and the list file may stand anywhere); ":": no message from getopt itself.
constexpr char kOptionsCourtes[] = "-:nih";

// Why the long option written `ecrit` ("--nom" or "--nom=valeur") was refused.
std::string ErreurOptionLongue(const std::string& ecrit, bool valeur_manquante) {
  const std::string nom = ecrit.substr(0, ecrit.find('='));
  if (valeur_manquante) return "l'option « " + nom + " » demande une valeur";
  std::vector<const option*> candidates;
  for (const option* o = kOptionsLongues; o->name != nullptr; ++o) {
    const std::string complet = std::string("--") + o->name;
    if (complet == nom) {
      candidates = {o};
      break;
    }
    if (complet.starts_with(nom)) candidates.push_back(o);
  }
  if (candidates.size() == 1 && ecrit.find('=') != std::string::npos &&
      candidates[0]->has_arg == no_argument)
    return "l'option « --" + std::string(candidates[0]->name) + " » ne prend pas de valeur";
  if (candidates.size() > 1) {
    std::string noms;
    for (const option* o : candidates) noms += (noms.empty() ? "--" : ", --") + std::string(o->name);
    return "option ambiguë : « " + nom + " » (" + noms + ")";
  }
  return "option inconnue : « " + nom + " »";
}

bool EstNombre(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool TLigneCommande::SansFenetre() const {
  return ModeService || Simulation || Detail || Avancement != TAvancementTerminal::Auto ||
         !Couples.empty() || !FichierJson.empty();
}

TLigneCommande AnalyserLigneCommande(const std::vector<std::string>& arguments) {
  TLigneCommande lc;
  std::vector<std::string> copies;
  copies.reserve(arguments.size() + 1);
  copies.push_back("jumelix");
  copies.insert(copies.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(copies.size());

  std::vector<std::string> operandes;
  optind = 0;  // a full reset: this process may parse more than one command line
  opterr = 0;
  for (int c; lc.Erreur.empty() &&
              (c = getopt_long(argc, argv.data(), kOptionsCourtes, kOptionsLongues, nullptr)) != -1;) {
    switch (c) {
      case 1:
        operandes.push_back(optarg);
        break;
      case 'n':
        lc.Simulation = true;
        break;
      case 'i':
        lc.Detail = true;
        break;
      case 'h':
        lc.Aide = true;
        break;
      case kOptVersion:
        lc.Version = true;
        break;
      case kOptProgress:
        lc.Avancement = TAvancementTerminal::Toujours;
        break;
      case kOptNoProgress:
        lc.Avancement = TAvancementTerminal::Jamais;
        break;
      case kOptPair:
        if (Trim(optarg).empty())
          lc.Erreur = "l'option « --pair » demande une valeur";
        else if (EstNombre(optarg) && std::string(optarg).find_first_not_of('0') == std::string::npos)
          lc.Erreur = "--pair=" + std::string(optarg) + " : les couples sont numérotés à partir de 1";
        else
          lc.Couples.push_back(optarg);
        break;
      case kOptJson:
        if (optarg[0] == '\0')
          lc.Erreur = "l'option « --json » demande une valeur";
        else
          lc.FichierJson = optarg;
        break;
      case ':':
        lc.Erreur = ErreurOptionLongue(argv[optind - 1], true);
        break;
      default:  // '?'
        // A short option unknown has its letter in optopt; a long option's error leaves
        // optopt at 0 or at the value of the option it named, and its text just behind optind.
        if (optopt != 0 && optopt != 'n' && optopt != 'i' && optopt != 'h' && optopt < 256)
          lc.Erreur = "option inconnue : « -" + std::string(1, static_cast<char>(optopt)) + " »";
        else
          lc.Erreur = ErreurOptionLongue(argv[optind - 1], false);
        break;
    }
  }
  // After "--", the rest are operands too.
  for (int k = optind; lc.Erreur.empty() && k < argc; ++k) operandes.push_back(argv[k]);
  for (const std::string& a : operandes) {
    if (EgauxSansCasseAscii(a, "/S"))
      lc.ModeService = true;
    else
      lc.FichierListe = a;
  }
  return lc;
}

std::vector<int> LignesDesCouples(const std::vector<std::string>& demandes,
                                  const std::vector<std::pair<std::string, std::string>>& couples,
                                  std::string& erreur) {
  std::vector<int> lignes;
  const auto complet = [&](size_t k) {
    return !CheminDeCellule(couples[k].first).empty() && !CheminDeCellule(couples[k].second).empty();
  };
  size_t nb_couples = 0;
  for (size_t k = 0; k < couples.size(); ++k) nb_couples += complet(k) ? 1 : 0;
  for (const std::string& demande : demandes) {
    const size_t avant = lignes.size();
    if (EstNombre(demande)) {
      size_t n = 0;
      const auto [fin, ec] = std::from_chars(demande.data(), demande.data() + demande.size(), n);
      if (ec == std::errc() && n >= 1 && n <= couples.size() && complet(n - 1))
        lignes.push_back(static_cast<int>(n));
      if (lignes.size() == avant) {
        erreur = "--pair=" + demande + " : la liste n'a pas de couple en position " + demande +
                 " (elle en a " + std::to_string(nb_couples) + ")";
        return {};
      }
      continue;
    }
    const std::string chemin = CheminDeCellule(demande);
    for (size_t k = 0; k < couples.size(); ++k) {
      if (complet(k) && (CheminDeCellule(couples[k].first) == chemin ||
                         CheminDeCellule(couples[k].second) == chemin))
        lignes.push_back(static_cast<int>(k + 1));
    }
    if (lignes.size() == avant) {
      erreur = "--pair=" + demande + " : aucun couple de la liste n'a « " + chemin +
               " » pour source ou pour cible";
      return {};
    }
  }
  std::sort(lignes.begin(), lignes.end());
  lignes.erase(std::unique(lignes.begin(), lignes.end()), lignes.end());
  return lignes;
}

std::string TexteAide(const std::string& programme) {
  return "Utilisation : " + programme +
         " [/S] [fichier-liste]\n"
         "        ou : " + programme + " [OPTION]... [--] fichier-liste\n"
         "\n"
         "Synchronise des répertoires : chaque répertoire cible devient identique à son\n"
         "répertoire source. Le fichier liste contient les couples de répertoires.\n"
         "\n"
         "  fichier-liste        fichier des couples de répertoires (le dernier argument\n"
         "                       autre que /S et les options)\n"
         "  /S                   mode service, sans fenêtre : synchronise une fois chaque\n"
         "                       couple du fichier liste, ajoute le compte-rendu au journal\n"
         "                       et se termine (majuscule ou minuscule)\n"
         "  -n, --dry-run        compare seulement, sans rien modifier : les lignes de la\n"
         "                       comparaison sur la sortie standard ; rien au journal, pas\n"
         "                       de courriel\n"
         "  -i, --itemize-changes\n"
         "                       une ligne par changement (fait, ou à faire avec -n) sur la\n"
         "                       sortie standard\n"
         "      --progress       avancement sur la sortie d'erreur, même hors d'un terminal\n"
         "      --no-progress    jamais d'avancement (par défaut : sur un terminal, avec\n"
         "                       l'une de ces options)\n"
         "      --pair=N|CHEMIN  ne traite que ce couple (sa position dans la liste, à partir\n"
         "                       de 1, ou sa source ou sa cible) ; répétable\n"
         "      --json=FICHIER   écrit le résultat en JSON dans FICHIER (remplacé d'un coup)\n"
         "  -h, --help           affiche cette aide\n"
         "      --version        affiche la version\n"
         "\n"
         "Chacune de ces options lance un traitement sans fenêtre, avec ou sans /S.\n"
         "Un fichier liste dont le nom commence par « - » s'écrit après « -- » ou « ./ ».\n"
         "\n"
         "Lignes de -i (verbe sur 11 colonnes, puis le chemin dans la cible ; « / » après\n"
         "un répertoire ; sans « -> ... » avec -n) :\n"
         "  créé       /cible/rep/\n"
         "  créé       /cible/fichier (1 234 octets)\n"
         "  remplacé   /cible/fichier (1 234 octets) -> archivé dans ARCHIVE\n"
         "  attributs  /cible/fichier\n"
         "  supprimé   /cible/ancien\n"
         "  archivé    /cible/ancien -> ARCHIVE\n"
         "\n"
         "État de sortie : 0 sans erreur (avec -n : tous les couples identiques), 1 au\n"
         "moins une erreur ou différence, 2 arrêt par un signal ou erreur d'utilisation.\n"
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

namespace {

// Why --json may not write to `chemin`: something other than a regular file, or a file
// whose content is not a JSON object; "" when it may (or when no file is asked for).
std::string RefusFichierJson(const std::string& chemin) {
  if (chemin.empty()) return {};
  struct stat st {};
  if (::stat(chemin.c_str(), &st) != 0) return {};
  std::string debut;
  if (S_ISREG(st.st_mode)) {
    if (FILE* f = std::fopen(chemin.c_str(), "rb")) {
      char buf[64];
      debut.assign(buf, std::fread(buf, 1, sizeof buf, f));
      std::fclose(f);
    }
    debut = Trim(debut);
    if (debut.empty() || debut[0] == '{') return {};
  }
  return "--json=" + chemin + " : ce fichier existe et n'est pas un résultat JSON ; il n'est "
         "pas remplacé.";
}

// A run without window: service mode's, or a dry run's comparison.
int LancerSansFenetre(TLigneCommande ligne_commande, bool simulation) {
  InstallerSignauxArret();
  // A plain "/S" shows nothing more than it always has; the new options show progress on
  // a terminal.
  const bool seul_s = ligne_commande.ModeService && !simulation && !ligne_commande.Detail &&
                      ligne_commande.Couples.empty() && ligne_commande.FichierJson.empty();
  const bool avancement =
      ligne_commande.Avancement == TAvancementTerminal::Toujours ||
      (ligne_commande.Avancement == TAvancementTerminal::Auto && !seul_s &&
       platform::EstTerminal(2));
  // The result file replaces only an earlier result: "--json liste.ini" must not cost the
  // list (getopt takes the next argument as the value).
  if (const std::string refus = RefusFichierJson(ligne_commande.FichierJson); !refus.empty()) {
    std::fprintf(stderr, "%s : %s Aucun couple n'est traité.\n", NomProgramme().c_str(),
                 EchapperControles(refus).c_str());
    return kSortieUsage;
  }
  TVueTerminal vue(avancement);
  // A dry run's log lines go nowhere: it must not need, nor touch, a log.
  TJumelix jumelix(vue, RapportMailProgramme(),
                   simulation ? TJumelix::TJournal([](const std::string&) {}) : TJumelix::TJournal());
  jumelix.DefinirArretExterne([] { return g_signal_recu != 0; });
  if (simulation) jumelix.DefinirSortieSimulation([&vue](const std::string& l) { vue.Sortie(l); });
  if (ligne_commande.Detail) {
    jumelix.DefinirSurAction([&vue](const TAction& a) { vue.Sortie(TexteAction(a)); });
    jumelix.DefinirSurRemarque([&vue](const TRemarque& r) { vue.Sortie(TexteRemarque(r)); });
    jumelix.DefinirSurErreur(
        [&vue](const std::string& ligne, int erreur) { vue.Sortie(TexteErreur(ligne, erreur)); });
  }
  ligne_commande.ModeService = true;
  jumelix.FormCreate(ligne_commande);

  // A list that failed to load already counts as an error: its run walks nothing.
  if (!ligne_commande.Couples.empty() && !CompteRendu().ErreurSignalee()) {
    std::vector<std::pair<std::string, std::string>> couples;
    for (int l = 1; l < jumelix.Grille().NbLignes(); ++l)
      couples.emplace_back(jumelix.Grille().Cellule(kColSource, l),
                           jumelix.Grille().Cellule(kColCible, l));
    std::string erreur;
    std::vector<int> lignes = LignesDesCouples(ligne_commande.Couples, couples, erreur);
    if (!erreur.empty()) {
      std::fprintf(stderr, "%s : %s. Aucun couple n'est traité.\n", NomProgramme().c_str(),
                   EchapperControles(erreur).c_str());
      return kSortieUsage;
    }
    jumelix.DefinirLignesRetenues(std::move(lignes));
  }

  TResultatRun resultat;
  resultat.simulation = simulation;
  resultat.fichier_liste = jumelix.FichierListe();
  resultat.debut = static_cast<int64_t>(std::time(nullptr));
  if (!simulation)
    Journaliser("***** Debut synchronisation, fichier " + jumelix.FichierListe() + " *****");
  jumelix.Executer(simulation);
  vue.Effacer();
  resultat.fin = static_cast<int64_t>(std::time(nullptr));

  int code = kSortieSucces;
  if (jumelix.DernierRunAbandonne())
    code = kSortieInterrompu;
  else if (jumelix.DernierRunEnErreur() || (!simulation && jumelix.DernierMailEnEchec()))
    code = kSortieErreurs;
  std::fflush(stdout);

  if (!ligne_commande.FichierJson.empty()) {
    resultat.couples = jumelix.BilanDernierRun();
    resultat.code_sortie = code;
    const std::string& chemin = ligne_commande.FichierJson;
    // A file replaced keeps its permissions; a new one is the user's alone, like the log.
    unsigned mode = 0600;
    if (struct stat st {}; ::stat(chemin.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      mode = st.st_mode & 07777;
    if (const int err = platform::EcrireFichierAtomique(chemin, TexteJson(resultat), mode);
        err != 0) {
      const std::string texte = "ERREUR : Impossible d'écrire le résultat " + chemin + " : " +
                                TexteErreurSysteme(err);
      std::fprintf(stderr, "%s : %s\n", NomProgramme().c_str(), EchapperControles(texte).c_str());
      if (!simulation) Journaliser(texte);
      if (code == kSortieSucces) code = kSortieErreurs;
    }
  }
  return code;
}

}  // namespace

int LancerService(const TLigneCommande& ligne_commande) {
  return LancerSansFenetre(ligne_commande, false);
}

int LancerSimulation(const TLigneCommande& ligne_commande) {
  return LancerSansFenetre(ligne_commande, true);
}

}  // namespace jumelix
