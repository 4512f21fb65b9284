// The report mail settings of the process and their file, JumelixConfig.dat in the
// user's configuration directory. One instance (ParametresMail()) lives for the whole
// process; the settings dialog edits it, the run and the service mode read it. Not
// thread-safe (the GUI thread owns it). Nothing here throws for a file failure: reading
// fails silently, writing returns the message to show.
#pragma once

#include <string>
#include <vector>

#include "platform/Secret.h"

namespace jumelix {

// When a report mail is due after a synchronisation.
enum class TQuandMail { qmChaqueFois, qmSiErreur, qmJamais };

// How the report mail protects its connection ("Sécurité de la connexion"): STARTTLS when
// the server offers it (and never a password in clear to another machine), TLS required
// (STARTTLS, or TLS from the first byte on port 465), or none at all.
enum class TSecuriteMail { smStartTlsSiPropose, smTlsExige, smAucune };

// How the report mail leaves the machine: through an SMTP server, or handed to the
// system's mailer (a sendmail-compatible program: postfix, exim, msmtp...).
enum class TTransportMail { tmSmtp, tmSendmail };

// The mailer used when the settings name none.
inline constexpr const char* kSendmailParDefaut = "/usr/sbin/sendmail";

// How many days a destination's archive keeps what a synchronisation replaced or deleted,
// when the settings say nothing; and the most the settings accept (a century).
inline constexpr int kJoursArchiveParDefaut = 30;
inline constexpr int kJoursArchiveMax = 36500;

class TConfigMail {
 public:
  // The settings, as the dialog's fields hold them (texts as typed).
  std::string AdresseMail;  // recipients separated by ";"
  std::string ServeurSMTP;
  std::string AuthNom;
  TSecret AuthPass;  // in clear in a wiped buffer of its own, scrambled in the file
  std::string Port = "25";
  TQuandMail QuandApp = TQuandMail::qmJamais;
  TQuandMail QuandServ = TQuandMail::qmSiErreur;
  std::string ComplementObjet;  // typing is free; cut to 50 characters when used
  // Key "Securite" (SiPropose, Exige, Aucune), written only when it is not the default, so
  // that files without it (older versions, the Windows program) keep the default.
  TSecuriteMail Securite = TSecuriteMail::smStartTlsSiPropose;
  // Keys "Transport" (sendmail), "Sendmail" (the mailer's path) and "Jeton" (the command
  // line that prints an OAuth 2 access token), each written only when it is not the
  // default, so that older files and readers keep working. A non-empty Jeton means the
  // SMTP server is logged into with that token (XOAUTH2) instead of the password.
  TTransportMail Transport = TTransportMail::tmSmtp;
  std::string Sendmail = kSendmailParDefaut;
  std::string Jeton;
  // Key "JoursArchive", written only when it is not the default: the days a destination's
  // archive keeps replaced and deleted entries, 0 to keep none. A value that is not a
  // number from 0 to kJoursArchiveMax reads as the default.
  int JoursArchive = kJoursArchiveParDefaut;
  // Key "IgnorerCaches", written ("1") only when on: the walks leave out every source
  // directory tagged as a cache (CACHEDIR.TAG) and keep its destination copy as it is.
  bool IgnorerCaches = false;

  // Computes CheminConfig from the environment; reads nothing.
  TConfigMail();

  // $XDG_CONFIG_HOME/jumelix/JumelixConfig.dat (default ~/.config/jumelix/); empty when
  // neither that variable nor a home directory gives an absolute path.
  const std::string& CheminConfig() const { return chemin_config_; }

  // Applies every known key of the file to the fields; a missing file, a read error or
  // an absent key leaves the fields as they are, except Securite, Transport, Sendmail,
  // Jeton, JoursArchive and IgnorerCaches: a file read without one of them means its
  // default. A file or directory another user could have written (platform/Prive.h) is
  // not used: the fields stay as they are and Refus() says why.
  void LireConfig();
  const std::string& Refus() const { return refus_; }

  // Writes the fields to the file (mode 0600, through a temporary file and rename), never
  // into a directory another user could have written. Returns the empty text on success,
  // else the message to show the user.
  std::string EnregistrerConfig() const;

  // The file's lines for the current fields, in the order the file holds them.
  std::vector<std::string> LignesConfig() const;

  // Trims the recipient and server fields, rewrites the port, and returns the empty text
  // when the fields are acceptable, else the error to show. With `arretPermis`, empty
  // recipient and server fields are accepted: that is how the user switches the report
  // mail off. The server is needed only by the SMTP transport; a token command needs a
  // user name (the account the token belongs to) and makes the password unnecessary.
  std::string VerifierSaisie(bool arretPermis = false);

  // The port field as a number; 25 when empty, not a number, or 0.
  int PortSMTP() const;

  // The subject text trimmed and cut to 50 characters, preceded by " - "; empty when
  // there is no subject text.
  std::string ComplementPourObjet() const;

  // Whether the settings name where to send the mail: a recipient, and a server unless
  // the system's mailer carries it.
  bool DestinationDefinie() const;

  // Whether a report mail is due after a synchronisation (`service`: started with /S).
  bool MailAEnvoyer(bool service) const;

 private:
  std::string chemin_config_;
  std::string refus_;
};

// The process-wide settings, created (and read from the file) at first use.
TConfigMail& ParametresMail();

}  // namespace jumelix
