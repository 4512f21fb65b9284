#include "mail/ConfigMail.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "mail/UCryptePass.h"
#include "platform/Prive.h"
#include "platform/System.h"

namespace jumelix {
namespace {

constexpr size_t kMaxComplementObjet = 50;
constexpr int kPortConfigParDefaut = 25;

// Empty without any home: the settings are then neither read nor written, never taken
// from the working directory.
std::string CheminFichierConfiguration() {
  const auto repertoire = platform::RepertoireXdg("XDG_CONFIG_HOME", ".config");
  return repertoire ? *repertoire + "/jumelix/JumelixConfig.dat" : std::string();
}

// A line end inside a value would start a new key in the file (a server name could then
// set the password): such characters become blanks.
std::string SurUneLigne(std::string valeur) {
  for (char& c : valeur) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  return valeur;
}

// A retention in days from the file: a later version's or a hand-edited value that is not
// a number in range keeps the default rather than switching the archive off.
int LireJours(const std::string& texte) {
  const std::string t = Trim(texte);
  int valeur = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), valeur);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || valeur < 0 ||
      valeur > kJoursArchiveMax) {
    return kJoursArchiveParDefaut;
  }
  return valeur;
}

}  // namespace

TConfigMail::TConfigMail() : chemin_config_(CheminFichierConfiguration()) {}

void TConfigMail::LireConfig() {
  // Only a regular file is read, without blocking: a FIFO at this path must not hold the
  // start of the program for ever. Another user's file would choose the programs run for
  // the mail: it is not read.
  if (chemin_config_.empty()) return;
  std::string contenu;
  platform::TRefusPrive refus;
  const int err = platform::LireFichierPrive(chemin_config_, contenu, refus);
  if (err == platform::kNonPrive) refus_ = TexteRefusPrive(refus);
  if (err != 0) return;
  const std::vector<std::string> lignes = LignesDuContenu(std::move(contenu));
  // The file holds the security only when it is not the default: without the key, the
  // default holds, never what was chosen and then cancelled in the dialog.
  Securite = TSecuriteMail::smStartTlsSiPropose;
  Transport = TTransportMail::tmSmtp;
  Sendmail = kSendmailParDefaut;
  Jeton.clear();
  JoursArchive = kJoursArchiveParDefaut;
  IgnorerCaches = false;
  for (const std::string& ligne : lignes) {
    size_t egal = ligne.find('=');
    if (egal == std::string::npos) continue;
    std::string cle = ligne.substr(0, egal);
    std::string valeur = ligne.substr(egal + 1);
    if (cle == "Addr") {
      AdresseMail = valeur;
    } else if (cle == "SMTP") {
      ServeurSMTP = valeur;
    } else if (cle == "NOM") {
      AuthNom = valeur;
    } else if (cle == "PASS") {
      // A file written on Windows holds a password scrambled from Windows-1252 bytes.
      std::string pass = DecrypterMotDePasse(valeur);
      if (!EstUtf8Valide(pass)) {
        std::string utf8 = Cp1252VersUtf8(pass);
        EffacerTexte(pass);
        pass.swap(utf8);
      }
      AuthPass = pass;
      EffacerTexte(pass);
    } else if (cle == "Port") {
      Port = valeur;
    } else if (cle == "QdApp") {
      QuandApp = valeur == "ACF"   ? TQuandMail::qmChaqueFois
                 : valeur == "ASE" ? TQuandMail::qmSiErreur
                                   : TQuandMail::qmJamais;
    } else if (cle == "QdServ") {
      QuandServ = valeur == "SCF"   ? TQuandMail::qmChaqueFois
                  : valeur == "SSE" ? TQuandMail::qmSiErreur
                                    : TQuandMail::qmJamais;
    } else if (cle == "CO") {
      ComplementObjet = PremiersCaracteres(valeur, kMaxComplementObjet);
    } else if (cle == "Securite") {
      // An unknown value (a later version's) falls back on the default, which never sends
      // a password in clear across a network.
      Securite = valeur == "Exige"    ? TSecuriteMail::smTlsExige
                 : valeur == "Aucune" ? TSecuriteMail::smAucune
                                      : TSecuriteMail::smStartTlsSiPropose;
    } else if (cle == "Transport") {
      // Anything but "sendmail" (a later version's transport) keeps SMTP.
      Transport = valeur == "sendmail" ? TTransportMail::tmSendmail : TTransportMail::tmSmtp;
    } else if (cle == "Sendmail") {
      Sendmail = Trim(valeur).empty() ? std::string(kSendmailParDefaut) : valeur;
    } else if (cle == "Jeton") {
      Jeton = valeur;
    } else if (cle == "JoursArchive") {
      JoursArchive = LireJours(valeur);
    } else if (cle == "IgnorerCaches") {
      IgnorerCaches = Trim(valeur) == "1";
    }
  }
}

std::vector<std::string> TConfigMail::LignesConfig() const {
  std::vector<std::string> lignes;
  lignes.push_back("Addr=" + SurUneLigne(AdresseMail));
  lignes.push_back("SMTP=" + SurUneLigne(ServeurSMTP));
  if (!AuthNom.empty()) lignes.push_back("NOM=" + SurUneLigne(AuthNom));
  if (!AuthPass.empty()) lignes.push_back("PASS=" + CrypterMotDePasse(AuthPass.View()));
  lignes.push_back("Port=" + std::to_string(PortSMTP()));
  switch (QuandApp) {
    case TQuandMail::qmChaqueFois:
      lignes.push_back("QdApp=ACF");
      break;
    case TQuandMail::qmSiErreur:
      lignes.push_back("QdApp=ASE");
      break;
    case TQuandMail::qmJamais:
      lignes.push_back("QdApp=AJ");
      break;
  }
  switch (QuandServ) {
    case TQuandMail::qmChaqueFois:
      lignes.push_back("QdServ=SCF");
      break;
    case TQuandMail::qmSiErreur:
      lignes.push_back("QdServ=SSE");
      break;
    case TQuandMail::qmJamais:
      lignes.push_back("QdServ=SJ");
      break;
  }
  std::string co = PremiersCaracteres(Trim(ComplementObjet), kMaxComplementObjet);
  if (!co.empty()) lignes.push_back("CO=" + SurUneLigne(co));
  if (Securite == TSecuriteMail::smTlsExige) lignes.push_back("Securite=Exige");
  if (Securite == TSecuriteMail::smAucune) lignes.push_back("Securite=Aucune");
  if (Transport == TTransportMail::tmSendmail) lignes.push_back("Transport=sendmail");
  const std::string sendmail = Trim(Sendmail);
  if (!sendmail.empty() && sendmail != kSendmailParDefaut)
    lignes.push_back("Sendmail=" + SurUneLigne(sendmail));
  const std::string jeton = Trim(Jeton);
  if (!jeton.empty()) lignes.push_back("Jeton=" + SurUneLigne(jeton));
  if (JoursArchive != kJoursArchiveParDefaut && JoursArchive >= 0 &&
      JoursArchive <= kJoursArchiveMax)
    lignes.push_back("JoursArchive=" + std::to_string(JoursArchive));
  if (IgnorerCaches) lignes.push_back("IgnorerCaches=1");
  return lignes;
}

std::string TConfigMail::EnregistrerConfig() const {
  if (chemin_config_.empty())
    return "Erreur en enregistrant les réglages : aucun répertoire personnel (HOME) utilisable";
  // The directory is private to the user, as the file is: it holds a password.
  const std::string repertoire = std::filesystem::path(chemin_config_).parent_path().string();
  int err = platform::CreerRepertoiresPrives(repertoire);
  if (const std::string refus = RefusReglages({repertoire}); !refus.empty()) return refus;
  if (err == 0) err = EcrireLignesFichier(chemin_config_, LignesConfig(), 0600);
  if (err == 0) return {};
  return "Erreur en enregistrant le fichier " + chemin_config_ + "\n" + MessageErreurSysteme(err);
}

std::string TConfigMail::VerifierSaisie(bool arretPermis) {
  AdresseMail = Trim(AdresseMail);
  ServeurSMTP = Trim(ServeurSMTP);
  if (!AdresseMail.empty() && AdresseMail.find('@') == std::string::npos) {
    return "L'adresse mail ne semble pas correcte";
  }
  if (Transport == TTransportMail::tmSendmail) {
    Sendmail = Trim(Sendmail);
    if (Sendmail.empty()) Sendmail = kSendmailParDefaut;
    if (AdresseMail.empty() && !arretPermis) return "Il manque l'adresse mail du destinataire";
    Port = std::to_string(PortSMTP());
    return {};
  }
  bool arret = arretPermis && AdresseMail.empty() && ServeurSMTP.empty();
  if (ServeurSMTP.empty() && !arret) return "Il manque le serveur SMTP";
  Port = std::to_string(PortSMTP());
  Jeton = Trim(Jeton);
  if (!Jeton.empty()) {
    if (Trim(AuthNom).empty()) {
      return "Avec une commande de jeton d'accès, le nom d'utilisateur (l'adresse du compte) "
             "est nécessaire";
    }
    return {};
  }
  if (AuthNom.empty() != AuthPass.empty()) {
    return "Le nom et le mot de passe doivent être tous les deux vides (pas d'authentification) "
           "ou tous les deux non vides (authentification)";
  }
  return {};
}

int TConfigMail::PortSMTP() const {
  int valeur = 0;
  std::string texte = Trim(Port);
  const char* debut = texte.data();
  const char* fin = texte.data() + texte.size();
  if (fin - debut > 1 && debut[0] == '+' && debut[1] != '-') ++debut;  // "+25" is a number too
  auto [ptr, ec] = std::from_chars(debut, fin, valeur);
  // Outside 1-65535 no socket can use it: the default rather than a failure at send time.
  if (ec != std::errc() || ptr != fin || valeur < 1 || valeur > 65535) return kPortConfigParDefaut;
  return valeur;
}

std::string TConfigMail::ComplementPourObjet() const {
  std::string co = PremiersCaracteres(Trim(ComplementObjet), kMaxComplementObjet);
  return co.empty() ? co : " - " + co;
}

bool TConfigMail::DestinationDefinie() const {
  if (AdresseMail.empty()) return false;
  return Transport == TTransportMail::tmSendmail || !ServeurSMTP.empty();
}

bool TConfigMail::MailAEnvoyer(bool service) const {
  if (!DestinationDefinie()) return false;
  switch (service ? QuandServ : QuandApp) {
    case TQuandMail::qmChaqueFois:
      return true;
    case TQuandMail::qmSiErreur:
      return CompteRendu().ErreurSignalee();
    case TQuandMail::qmJamais:
      return false;
  }
  return false;
}

TConfigMail& ParametresMail() {
  static TConfigMail parametres = [] {
    TConfigMail p;
    p.LireConfig();
    return p;
  }();
  return parametres;
}

}  // namespace jumelix
