// One complete mail delivery: TMonMail fills an SMTP client from its fields (and, for the
// system's mailer, only lets it compose the message), chains the
// requests Connect, EHLO (with STARTTLS inside when Securite asks for it) and AUTH, or
// HELO when security is off and there is no account, then MAIL FROM, RCPT TO, DATA and
// QUIT from the client's completions, and waits at most 30 s for the end while pumping the
// thread's message loop; the server's 250 to the end of the data makes the mail sent,
// whatever happens at QUIT. It lives for one send; the connection goes with it. GUI thread
// only. Failures are never thrown: Envoyer returns false and MessageErreur says why.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mail/ConfigMail.h"
#include "smtp/SmtpClient.h"

namespace jumelix {

class TMonMail {
 public:
  // `port` 0 means 25; `programme` goes into the X-Mailer header.
  TMonMail(int32_t port, std::string programme);
  ~TMonMail();
  TMonMail(const TMonMail&) = delete;
  TMonMail& operator=(const TMonMail&) = delete;

  // One delivery; true on success. Returns after success, the first failure, or the wait.
  bool Envoyer();
  // The error of the last Envoyer; empty after a success.
  std::string MessageErreur() const { return Erreur; }
  // The last Envoyer has ended, one way or the other.
  bool Termine() const { return Fini || !Erreur.empty(); }

  // PremiereAdresse("a@x; b@y") = "a@x": the text before the first ";" or ",", trimmed.
  static std::string PremiereAdresse(const std::string& texte);
  // A message of the SMTP client as the user reads it: the client's own (English) texts
  // for a misuse or a bad setting become French ones; a server's reply is kept.
  static std::string TexteErreurClient(const std::string& message);

  // How long Envoyer waits for the session.
  static constexpr uint32_t kDelaiEnvoiMs = 30000;
  // Another wait than kDelaiEnvoiMs. For the tests only.
  static void DefinirDelaiPourTests(uint32_t delaiMs);

  // The error texts of a send that the wait ended.
  static constexpr const char* kTexteDelaiDepasse = "Délai dépassé.";
  static constexpr const char* kTexteAbandon = "Envoi abandonné : arrêt demandé.";
  // How long the answer to QUIT is awaited once the server has taken the message.
  static constexpr uint32_t kDelaiQuitMs = 5000;

  std::string Serveur;
  std::vector<std::string> Objet;      // subject lines, joined into one header value
  std::vector<std::string> Corps;      // body lines
  std::vector<std::string> Signature;  // more body lines, right after Corps
  int32_t Port;
  std::string NomExpediteur;      // display name of the sender, and the HELO/EHLO word
  std::string AdresseExpediteur;  // the first address is the sender's
  std::string AdresseA;           // the first address goes into the To header
  std::string Destinataires;      // every recipient, separated by ";" or ","
  std::string DestinatairesCc;
  std::string DestinatairesCci;
  std::string Utilisateur;  // empty: no authentication
  TSecret MotDePasse;       // handed over to the SMTP client by Envoyer
  TSecuriteMail Securite = TSecuriteMail::smStartTlsSiPropose;
  // The system's mailer instead of the server: the same message, handed to
  // `Sendmail -t -i` (recipients from the header; the ones past the first in a Bcc line
  // that the mailer removes), within the same 30 s.
  TTransportMail Transport = TTransportMail::tmSmtp;
  std::string Sendmail = kSendmailParDefaut;
  // When set, the command that prints an OAuth 2 access token: AUTH XOAUTH2 with
  // Utilisateur and that token instead of the password.
  std::string CommandeJeton;
  // A CA file (PEM) trusted besides the system's authorities; empty in the program, set
  // by tests that run their own TLS server.
  std::string TlsCaFile;
  // A stop asked from outside (a signal in service mode), polled before the send and at
  // every pass of the wait: true abandons the send at once with kTexteAbandon.
  std::function<bool()> Arret;

  // The session's security for the setting and the port: port 465 speaks TLS from the
  // first byte, unless the user chose no security at all.
  static TSmtpSecurity SecuriteSession(TSecuriteMail securite, int32_t port);

 private:
  void SurRequeteTerminee(TSmtpSession& client, int requete, uint16_t erreur);
  void SurLigneDonnees(int numero, std::string& ligne, int maxLongueur, bool& encore);
  void SurEntetes(std::vector<std::string>& entetes) const;
  // Starts the next request; a refusal by the client becomes the error of the send.
  template <typename F>
  void Demarrer(F requete);

  bool EnvoyerParSendmail(TSmtpClient& c);

  bool ArretDemande() const { return Arret && Arret(); }

  std::unique_ptr<TSmtpClient> client_;
  std::string Erreur;
  bool Fini = false;
  // The server answered 250 to the end of the data: the mail is sent, whatever QUIT gives.
  bool Accepte = false;
  uint32_t debutQuit_ = 0;
  std::string Programme;
};

// Mails CompteRendu() under `sujet` with the settings of `p` (checked first with
// VerifierSaisie). Returns the empty text on success, else the error text. `arret`, when
// set, abandons the send as soon as it returns true.
std::string EnvoyerCompteRendu(TConfigMail& p, const std::string& sujet,
                               const std::function<bool()>& arret = {});

// Sends the dialog's test message with the current settings, which the caller has
// checked. Returns the empty text on success, else the error text. `arret`, when set,
// abandons the send as soon as it returns true (kTexteAbandon).
std::string EnvoyerMessageTest(const TConfigMail& p, const std::function<bool()>& arret = {});

}  // namespace jumelix
