// What scheduling a list writes, as pure text: the systemd user units that run a list file
// unattended at a chosen time. The package installs the templates jumelix@.service (which
// runs "%E/jumelix/<instance>.ini") and jumelix@.timer; a schedule is an instance of them
// plus drop-ins of our own: one for the timer's time, and, for a list kept anywhere else,
// one for the service's command line. Nothing here touches the disk; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

enum class TFrequence { Quotidienne, Hebdomadaire };

struct THoraire {
  TFrequence frequence = TFrequence::Quotidienne;
  int jour = 0;  // 0 Monday ... 6 Sunday, for a weekly schedule
  int heure = 2;
  int minute = 30;
  bool operator==(const THoraire&) const = default;
};

// French day names, Monday first ("lundi").
const std::vector<std::string>& NomsJours();

// The timer's OnCalendar value: "*-*-* 02:30:00" daily, "Mon *-*-* 18:05:00" weekly.
std::string ExpressionOnCalendar(const THoraire& horaire);
// The inverse, for the values ExpressionOnCalendar writes; nothing for any other text.
std::optional<THoraire> LireExpressionOnCalendar(std::string_view expression);
// "chaque jour à 02:30", "chaque lundi à 18:05".
std::string DescriptionHoraire(const THoraire& horaire);

// systemd-escape: "/" becomes "-", letters, digits, ":", "_" and "." stay (a leading "."
// does not), every other byte becomes "\xNN".
std::string EchapperNomSystemd(std::string_view texte);
// systemd-escape --path: duplicate and trailing slashes dropped, the leading one too, "/"
// itself is "-". Nothing for a relative path or one holding a ".." component.
std::optional<std::string> EchapperCheminSystemd(std::string_view chemin);

// A file to write, and what goes in it.
struct TFichierUnite {
  std::string chemin;
  std::string texte;
};

// The units of one list file's schedule.
struct TUnitesListe {
  std::string instance;           // escaped, as in "jumelix@<instance>.timer"
  std::string timer;              // "jumelix@<instance>.timer"
  std::string service;            // "jumelix@<instance>.service"
  std::string repertoire_unites;  // $XDG_CONFIG_HOME/systemd/user
  std::string horaire;            // the timer's drop-in
  // The service's drop-in: empty when the list lies where the package's service looks
  // for an instance's list ($XDG_CONFIG_HOME/jumelix/<name>.ini), so nothing overrides it.
  std::string service_liste;
};

// The units for the list file `liste` (absolute) under the configuration directory
// `config_home` ($XDG_CONFIG_HOME, or ~/.config). A list at config_home/jumelix/<name>.ini,
// <name> made of letters, digits, "-", "_", ":" and ".", is the package's instance <name>
// (its service reads %i, the name unescaped); any other is named after its escaped path. False,
// with the reason in French in `erreur`, for a relative path or a name systemd cannot take.
bool UnitesDeListe(const std::string& liste, const std::string& config_home, TUnitesListe& u,
                   std::string& erreur);

// The drop-ins' texts. `executable` is the program the service runs with /S.
std::string TexteHoraire(const THoraire& horaire, const std::string& liste);
std::string TexteServiceListe(const std::string& executable, const std::string& liste);
// The files a schedule writes, the timer's drop-in first.
std::vector<TFichierUnite> FichiersPlanification(const TUnitesListe& u, const THoraire& horaire,
                                                 const std::string& liste,
                                                 const std::string& executable);
// The schedule a timer drop-in written by TexteHoraire holds; nothing for another text.
std::optional<THoraire> LireTexteHoraire(std::string_view texte);

// One argument of an ExecStart= line, double-quoted, with what systemd would expand (%, $)
// or end the word with (", \, control characters) escaped.
std::string ArgumentExecStart(std::string_view argument);

}  // namespace jumelix
