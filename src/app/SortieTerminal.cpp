#include "app/SortieTerminal.h"

#include <cstdio>

#include "app/UJumelix.h"
#include "platform/System.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {

namespace {

// "1234567" -> "1 234 567".
std::string Milliers(uint64_t n) { return GrouperMilliers(n, " "); }

// The verb padded to 11 columns, counted in characters, not bytes.
std::string Verbe(const std::string& verbe) {
  std::string texte = verbe;
  for (size_t n = NbCaracteres(verbe); n < 11; ++n) texte += ' ';
  return texte;
}

// The last `n` characters of a UTF-8 text.
std::string DerniersCaracteres(const std::string& s, size_t n) {
  const size_t total = NbCaracteres(s);
  if (total <= n) return s;
  const std::string debut = PremiersCaracteres(s, total - n);
  return s.substr(debut.size());
}

}  // namespace

std::string TexteAction(const TAction& a) {
  std::string chemin = EchapperControles(a.chemin);
  if (a.repertoire) chemin += '/';
  const std::string taille = " (" + Milliers(static_cast<uint64_t>(a.octets)) + " octets)";
  const std::string archive = EchapperControles(a.archive);
  switch (a.type) {
    case TypeAction::Creation:
      return Verbe("créé") + chemin + (a.repertoire ? "" : taille);
    case TypeAction::Remplacement:
      return Verbe("remplacé") + chemin + (a.repertoire ? "" : taille) +
             (archive.empty() ? "" : " -> archivé dans " + archive);
    case TypeAction::Attributs:
      return Verbe("attributs") + chemin;
    case TypeAction::Suppression:
      if (!a.archivee) return Verbe("supprimé") + chemin;
      return Verbe("archivé") + chemin + (archive.empty() ? "" : " -> " + archive);
  }
  return chemin;
}

std::string TexteRemarque(const TRemarque& r) {
  std::string texte = Verbe("remarque");
  texte += EchapperControles(r.destination);
  switch (r.type) {
    case TypeRemarque::AttributsEtendusNonGardes:
      texte += " : ce système de fichiers ne garde ni les attributs étendus ni les ACL";
      break;
    case TypeRemarque::LiensDursNonGardes:
      texte += " : ce système de fichiers ne garde pas les liens physiques, copies séparées";
      break;
  }
  return texte;
}

std::string LigneAvecCause(const std::string& ligne, int erreur) {
  std::string texte = ligne;
  if (erreur <= 0) return texte;
  const std::string cause = TexteErreurSysteme(erreur);
  const std::string nom = platform::SystemErrorName(erreur);
  if (ligne.find(cause) == std::string::npos) texte += " : " + cause;
  if (!nom.empty()) texte += " (" + nom + ")";
  return texte;
}

std::string TexteErreur(const std::string& ligne, int erreur) {
  return Verbe("erreur") + LigneAvecCause(ligne, erreur);
}

std::string TexteErreursCouple(const TBilanCouple& c, size_t max) {
  std::string texte;
  for (size_t l = 0; l < c.lignes.size() && l < max; ++l) {
    if (l > 0) texte += '\n';
    texte += LigneAvecCause(c.lignes[l], l < c.causes.size() ? c.causes[l] : 0);
  }
  if (c.lignes.size() > max) {
    texte += "\n… et " + Milliers(c.lignes.size() - max) + " autre(s)";
  }
  return texte;
}

std::string TexteAvancement(const TAvancementRun& a, size_t largeur) {
  // Appended piece by piece: a chain of + makes GCC 12 see a false overlap (-Wrestrict).
  std::string texte = "[";
  texte += std::to_string(a.paire);
  texte += '/';
  texte += std::to_string(a.nb_paires);
  texte += "] ";
  texte += Milliers(static_cast<uint64_t>(a.entrees));
  texte += " entrées";
  if (a.octets > 0) {
    texte += ", " + TexteVolume(a.octets);
    if (a.ecoule_ms >= 1000) texte += " à " + TexteVolume(a.octets * 1000 / a.ecoule_ms) + "/s";
  }
  texte += ", " + TexteTempsEcoule(a.ecoule_ms, 0) + " écoulé";
  if (!a.repertoire.empty()) texte += ", ";
  const size_t longueur = NbCaracteres(texte);
  if (largeur == 0) return texte + a.repertoire;
  if (longueur >= largeur) return PremiersCaracteres(texte, largeur);
  const size_t place = largeur - longueur;
  if (NbCaracteres(a.repertoire) <= place) return texte + a.repertoire;
  return texte + "…" + DerniersCaracteres(a.repertoire, place - 1);
}

void TVueTerminal::Effacer() {
  if (!affiche_) return;
  std::fputs("\r\033[K", stderr);
  affiche_ = false;
}

void TVueTerminal::AjouterLog(const std::string& ligne) {
  Effacer();
  TVueSansFenetre::AjouterLog(ligne);
}

TReponseMessage TVueTerminal::Message(const std::string& texte, const std::string& titre,
                                      TBoutonsMessage boutons, TIconeMessage icone) {
  Effacer();
  return TVueSansFenetre::Message(texte, titre, boutons, icone);
}

void TVueTerminal::Sortie(const std::string& ligne) {
  Effacer();
  std::fputs(ligne.c_str(), stdout);
  std::fputc('\n', stdout);
  // On a terminal shared with the progress line, each line must be out before it is redrawn.
  if (avancement_) std::fflush(stdout);
}

void TVueTerminal::AfficherAvancement(const TAvancementRun& avancement) {
  if (!avancement_ || avancement.paire == 0) return;
  // One column short of the width: a line that fills it would wrap on some terminals.
  const int colonnes = platform::LargeurTerminal(2);
  const std::string ligne =
      TexteAvancement(avancement, colonnes > 1 ? static_cast<size_t>(colonnes - 1) : 79);
  std::fputs(("\r" + ligne + "\033[K").c_str(), stderr);
  affiche_ = true;
}

}  // namespace jumelix
