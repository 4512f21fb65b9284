#include "app/Planification.h"

#include <algorithm>
#include <cstdio>

#include "shared/URoutines.h"

namespace jumelix {

namespace {

// systemd's own day names, which OnCalendar= reads in any locale.
constexpr const char* kJoursSystemd[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::string_view kChaqueJour = "*-*-* ";
// A unit name is at most 255 bytes.
constexpr size_t kLongueurNomUniteMax = 255;
constexpr std::string_view kPrefixeOnCalendar = "OnCalendar=";

std::string DeuxChiffres(int n) {
  char tampon[8];
  std::snprintf(tampon, sizeof tampon, "%02d", n);
  return tampon;
}

bool EstCaractereNomValide(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
         c == '_' || c == '.';
}

void AjouterOctetEchappe(std::string& r, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  r += '\\';
  r += 'x';
  r += kHex[c >> 4];
  r += kHex[c & 0xf];
}

// "HH:MM" or "HH:MM:00" at the start of `texte`.
bool LireHeure(std::string_view texte, int& heure, int& minute) {
  if (texte.size() != 8 || texte[2] != ':' || texte.substr(5) != ":00") return false;
  auto chiffre = [](char c) { return c >= '0' && c <= '9'; };
  if (!chiffre(texte[0]) || !chiffre(texte[1]) || !chiffre(texte[3]) || !chiffre(texte[4]))
    return false;
  heure = (texte[0] - '0') * 10 + (texte[1] - '0');
  minute = (texte[3] - '0') * 10 + (texte[4] - '0');
  return heure < 24 && minute < 60;
}

std::string Commentaire(const std::string& liste) {
  std::string r = "# Écrit par Jumelix (Action > Planifier...) pour la liste ";
  r += EchapperControles(liste);
  r += " ;\n# « Retirer la planification » dans le même dialogue le supprime.\n";
  return r;
}

}  // namespace

const std::vector<std::string>& NomsJours() {
  static const std::vector<std::string> noms = {"lundi",    "mardi",  "mercredi", "jeudi",
                                                "vendredi", "samedi", "dimanche"};
  return noms;
}

std::string ExpressionOnCalendar(const THoraire& h) {
  std::string r;
  if (h.frequence == TFrequence::Hebdomadaire) {
    r += kJoursSystemd[h.jour >= 0 && h.jour < 7 ? h.jour : 0];
    r += ' ';
  }
  r += kChaqueJour;
  r += DeuxChiffres(h.heure);
  r += ':';
  r += DeuxChiffres(h.minute);
  r += ":00";
  return r;
}

std::optional<THoraire> LireExpressionOnCalendar(std::string_view e) {
  THoraire h;
  if (e.size() > 4 && e[3] == ' ') {
    bool trouve = false;
    for (int j = 0; j < 7 && !trouve; ++j) {
      if (e.substr(0, 3) == kJoursSystemd[j]) {
        h.frequence = TFrequence::Hebdomadaire;
        h.jour = j;
        trouve = true;
      }
    }
    if (!trouve) return std::nullopt;
    e.remove_prefix(4);
  }
  if (e.substr(0, kChaqueJour.size()) != kChaqueJour) return std::nullopt;
  e.remove_prefix(kChaqueJour.size());
  if (!LireHeure(e, h.heure, h.minute)) return std::nullopt;
  return h;
}

std::string DescriptionHoraire(const THoraire& h) {
  std::string r = "chaque ";
  r += h.frequence == TFrequence::Hebdomadaire && h.jour >= 0 && h.jour < 7 ? NomsJours()[h.jour]
                                                                            : "jour";
  r += " à ";
  r += DeuxChiffres(h.heure);
  r += ':';
  r += DeuxChiffres(h.minute);
  return r;
}

std::string EchapperNomSystemd(std::string_view texte) {
  std::string r;
  for (size_t i = 0; i < texte.size(); ++i) {
    const auto c = static_cast<unsigned char>(texte[i]);
    if (c == '/')
      r += '-';
    else if (EstCaractereNomValide(c) && !(i == 0 && c == '.'))
      r += static_cast<char>(c);
    else
      AjouterOctetEchappe(r, c);
  }
  return r;
}

std::optional<std::string> EchapperCheminSystemd(std::string_view chemin) {
  if (chemin.empty() || chemin[0] != '/') return std::nullopt;
  std::string simple;
  size_t i = 0;
  while (i < chemin.size()) {
    while (i < chemin.size() && chemin[i] == '/') ++i;
    const size_t fin = std::min(chemin.find('/', i), chemin.size());
    const std::string_view composant = chemin.substr(i, fin - i);
    i = fin;
    if (composant.empty() || composant == ".") continue;
    if (composant == "..") return std::nullopt;
    if (!simple.empty()) simple += '/';
    simple += composant;
  }
  if (simple.empty()) return std::string("-");
  return EchapperNomSystemd(simple);
}

bool UnitesDeListe(const std::string& liste, const std::string& config_home, TUnitesListe& u,
                   std::string& erreur) {
  u = TUnitesListe{};
  if (liste.empty() || liste[0] != '/') {
    erreur =
        "Le fichier liste doit être désigné par un chemin absolu : " + EchapperControles(liste);
    return false;
  }
  if (config_home.empty() || config_home[0] != '/') {
    erreur =
        "Aucun répertoire de configuration utilisable (HOME ou XDG_CONFIG_HOME) : les unités "
        "systemd n'ont pas de place.";
    return false;
  }
  // The package's service reads "%E/jumelix/%i.ini": a list there needs no drop-in of its own.
  std::string dossier_paquet = config_home;
  dossier_paquet += "/jumelix/";
  constexpr std::string_view kExtension = ".ini";
  bool instance_paquet = false;
  if (liste.size() > dossier_paquet.size() + kExtension.size() &&
      liste.compare(0, dossier_paquet.size(), dossier_paquet) == 0 &&
      liste.compare(liste.size() - kExtension.size(), kExtension.size(), kExtension) == 0) {
    const std::string nom = liste.substr(dossier_paquet.size(),
                                         liste.size() - dossier_paquet.size() - kExtension.size());
    // The package's service takes %i, the instance as written in the unit's name: only a
    // name systemd takes without escaping finds its file there.
    bool nom_simple = !nom.empty();
    for (const char c : nom)
      nom_simple = nom_simple && (EstCaractereNomValide(static_cast<unsigned char>(c)) || c == '-');
    if (nom_simple) {
      u.instance = nom;
      instance_paquet = true;
    }
  }
  if (!instance_paquet) {
    const std::optional<std::string> echappe = EchapperCheminSystemd(liste);
    if (!echappe) {
      erreur = "Chemin de fichier liste refusé par systemd (composant « .. ») : " +
               EchapperControles(liste);
      return false;
    }
    u.instance = *echappe;
  }
  u.timer = "jumelix@";
  u.timer += u.instance;
  u.timer += ".timer";
  u.service = "jumelix@";
  u.service += u.instance;
  u.service += ".service";
  if (u.timer.size() > kLongueurNomUniteMax || u.service.size() > kLongueurNomUniteMax) {
    erreur =
        "Chemin de fichier liste trop long pour un nom d'unité systemd (255 octets au plus "
        "une fois échappé) : ";
    erreur += EchapperControles(liste);
    u = TUnitesListe{};
    return false;
  }
  u.repertoire_unites = config_home;
  u.repertoire_unites += "/systemd/user";
  u.horaire = u.repertoire_unites;
  u.horaire += '/';
  u.horaire += u.timer;
  u.horaire += ".d/horaire.conf";
  if (!instance_paquet) {
    u.service_liste = u.repertoire_unites;
    u.service_liste += '/';
    u.service_liste += u.service;
    u.service_liste += ".d/liste.conf";
  }
  return true;
}

std::string ArgumentExecStart(std::string_view argument) {
  std::string r = "\"";
  for (const char ch : argument) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      r += '\\';
      r += ch;
    } else if (c == '%') {
      r += "%%";
    } else if (c == '$') {
      r += "$$";
    } else if (c < 0x20 || c == 0x7f) {
      AjouterOctetEchappe(r, c);
    } else {
      r += ch;
    }
  }
  r += '"';
  return r;
}

std::string TexteHoraire(const THoraire& horaire, const std::string& liste) {
  std::string r = Commentaire(liste);
  r += "[Timer]\n";
  r += "# La liste vide efface l'horaire du paquet (chaque nuit à 02:30).\n";
  r += kPrefixeOnCalendar;
  r += '\n';
  r += kPrefixeOnCalendar;
  r += ExpressionOnCalendar(horaire);
  r += '\n';
  r += "# À l'heure choisie, sans le délai au hasard du paquet.\n";
  r += "RandomizedDelaySec=0\n";
  return r;
}

std::string TexteServiceListe(const std::string& executable, const std::string& liste) {
  std::string r = Commentaire(liste);
  r += "# La liste n'est pas dans le répertoire où le service du paquet cherche celle d'une\n";
  r += "# instance : la commande la désigne par son chemin.\n";
  r += "[Service]\n";
  r += "ExecStart=\n";
  r += "ExecStart=";
  r += ArgumentExecStart(executable);
  r += " /S ";
  r += ArgumentExecStart(liste);
  r += '\n';
  return r;
}

std::vector<TFichierUnite> FichiersPlanification(const TUnitesListe& u, const THoraire& horaire,
                                                 const std::string& liste,
                                                 const std::string& executable) {
  std::vector<TFichierUnite> fichiers;
  fichiers.push_back({u.horaire, TexteHoraire(horaire, liste)});
  if (!u.service_liste.empty())
    fichiers.push_back({u.service_liste, TexteServiceListe(executable, liste)});
  return fichiers;
}

std::optional<THoraire> LireTexteHoraire(std::string_view texte) {
  std::optional<THoraire> h;
  for (const std::string& ligne : DecouperLignes(texte)) {
    if (ligne.compare(0, kPrefixeOnCalendar.size(), kPrefixeOnCalendar) != 0) continue;
    const std::string_view valeur = std::string_view(ligne).substr(kPrefixeOnCalendar.size());
    if (valeur.empty()) continue;  // the reset line
    h = LireExpressionOnCalendar(valeur);
    if (!h) return std::nullopt;
  }
  return h;
}

}  // namespace jumelix
