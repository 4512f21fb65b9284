#include "mail/UMonMail.h"

#include <netdb.h>

#include <algorithm>
#include <exception>
#include <utility>

#include "mail/JetonAcces.h"
#include "net/AttenteMessages.h"
#include "shared/URoutines.h"
#include "net/SocketErrors.h"
#include "platform/Processus.h"
#include "platform/System.h"
#include "smtp/SmtpClient.h"

namespace jumelix {
namespace {

constexpr int kPortParDefaut = 25;
constexpr int kConnexionFermee = kWsaeIntr;  // the client's code for a lost connection

uint32_t& DelaiEnvoi() {
  static uint32_t delai = TMonMail::kDelaiEnvoiMs;
  return delai;
}

// The system's own text for a socket error code of the client: the errno or resolver
// code it was made from, in the user's language; empty when there is none.
std::string TexteSystemeSocket(int code) {
  for (int e = 1; e < 256; ++e) {
    if (WinsockErrorFromErrno(e) == code && e != code) return platform::SystemErrorText(e);
  }
  for (int g = -1; g >= -20; --g) {
    if (g == EAI_SYSTEM) continue;
    if (WinsockErrorFromGai(g, 0) == code) {
      const char* texte = gai_strerror(g);
      return texte != nullptr ? texte : "";
    }
  }
  return {};
}

// Quoted-printable rather than 8bit for a body with 8-bit bytes: it needs nothing of the
// server (8bit would need 8BITMIME announced and asked for), and its soft line breaks
// carry a line longer than SMTP allows (a deep path in the report) whole instead of cut.
bool BesoinQuotedPrintable(const std::vector<std::string>& corps,
                           const std::vector<std::string>& signature) {
  for (const auto* lignes : {&corps, &signature}) {
    for (const std::string& ligne : *lignes) {
      // One byte short of the limit: a leading dot is doubled on the wire.
      if (ligne.size() >= static_cast<size_t>(kSmtpMaxLineLength)) return true;
      for (char ch : ligne) {
        if (static_cast<unsigned char>(ch) >= 0x80) return true;
      }
    }
  }
  return false;
}

}  // namespace

TMonMail::TMonMail(int32_t port, std::string programme)
    : Port(port == 0 ? kPortParDefaut : port),
      client_(std::make_unique<TSmtpClient>()),
      Programme(std::move(programme)) {
  client_->OnRequestDone = [this](TSmtpSession& s, TSmtpRequest rq, uint16_t err) {
    SurRequeteTerminee(s, rq, err);
  };
  client_->OnGetData = [this](TSmtpSession&, int n, std::string& ligne, int max, bool& encore) {
    SurLigneDonnees(n, ligne, max, encore);
  };
  client_->OnProcessHeader = [this](TSmtpSession&, std::vector<std::string>& entetes) {
    SurEntetes(entetes);
  };
  // The reply to QUIT ends the send: a server that keeps the connection open after it
  // must not hold the caller until the deadline.
  client_->OnResponse = [this](TSmtpSession&, const std::string& ligne) {
    int code = 0;
    if (Accepte && !TSmtpSession::ParseReplyLine(ligne, code)) Fini = true;
  };
}

TMonMail::~TMonMail() = default;

void TMonMail::DefinirDelaiPourTests(uint32_t delaiMs) { DelaiEnvoi() = delaiMs; }

TSmtpSecurity TMonMail::SecuriteSession(TSecuriteMail securite, int32_t port) {
  constexpr int32_t kPortTlsDirect = 465;
  switch (securite) {
    case TSecuriteMail::smAucune:
      return smtpSecNone;
    case TSecuriteMail::smTlsExige:
      return port == kPortTlsDirect ? smtpSecImplicitTls : smtpSecStartTlsRequired;
    case TSecuriteMail::smStartTlsSiPropose:
      break;
  }
  // Nothing but TLS answers on 465: plain SMTP there would only wait for the timeout.
  return port == kPortTlsDirect ? smtpSecImplicitTls : smtpSecStartTlsIfOffered;
}

std::string TMonMail::PremiereAdresse(const std::string& texte) {
  // The address check takes "," as a separator too: the first address ends at either.
  return Trim(texte.substr(0, texte.find_first_of(";,")));
}

std::string TMonMail::TexteErreurClient(const std::string& message) {
  // The SMTP and socket layers speak English to programmers; what they throw is put in
  // the user's words here. A server's own reply line is kept as it came.
  const bool interne = message.find("Exception") != std::string::npos ||
                       message.find("SMTP component") != std::string::npos ||
                       message.rfind("Resolve", 0) == 0 || message.rfind("Winsock", 0) == 0 ||
                       message.rfind("Program error", 0) == 0 ||
                       message.rfind("RcptName", 0) == 0 || message.rfind("File not found", 0) == 0;
  if (!interne) return message;
  struct Cas {
    const char* motif;
    const char* texte;
  };
  static const Cas cas[] = {
      {"Invalid Port", "le port SMTP n'est pas valide (un nombre de 1 à 65535 est attendu)."},
      {"Invalid Hostname", "le nom du serveur SMTP n'est pas valide."},
      {"Invalid Proto", "protocole réseau inconnu."},
      {"RcptName list is empty", "aucun destinataire."},
      {"File not found", "fichier joint introuvable."},
      {"GetHostName", "le nom de cet ordinateur est introuvable."},
  };
  for (const Cas& c : cas) {
    if (message.find(c.motif) != std::string::npos) return c.texte;
  }
  return "échec interne de la session SMTP.";
}

template <typename F>
void TMonMail::Demarrer(F requete) {
  try {
    requete();
  } catch (const std::exception& e) {
    Erreur = "Erreur : " + TexteErreurClient(e.what());
  }
}

bool TMonMail::Envoyer() {
  Erreur.clear();
  Fini = false;
  TSmtpClient& c = *client_;
  AdresseExpediteur = PremiereAdresse(AdresseExpediteur);
  AdresseA = PremiereAdresse(AdresseA);
  c.Host = Serveur;
  c.Port = std::to_string(Port);
  c.SignOn = NomExpediteur;
  c.Security = SecuriteSession(Securite, Port);
  c.TlsCaFile = TlsCaFile;

  std::string expediteur;
  if (!AdresseExpediteur.empty()) {
    c.HdrFrom = NomExpediteur + " <" + AdresseExpediteur + ">";
    expediteur = Trim(AdresseExpediteur);
  } else {
    c.HdrFrom = NomExpediteur;
    expediteur = Trim(NomExpediteur);
  }
  // The whole address is the envelope sender. (Keeping only the part before "@" would
  // leave MAIL FROM empty, which servers take for a bounce or refuse once logged in.)
  c.FromName = expediteur;

  if (AdresseA.empty()) AdresseA = PremiereAdresse(Destinataires);
  c.HdrTo = AdresseA;
  c.HdrCc.clear();
  std::string sujet;
  for (const std::string& ligne : Objet) sujet += ligne + "\r\n";
  c.HdrSubject = sujet;
  c.SetEmailFiles({});
  c.DefaultEncoding =
      BesoinQuotedPrintable(Corps, Signature) ? smtpEncQuotedPrintable : smtpEnc7bit;
  if (!Utilisateur.empty()) {
    c.AuthType = smtpAuthAutoSelect;
    c.Username = Utilisateur;
    // One buffer: the client takes it over, and wipes it once AUTH has ended.
    c.Password = std::move(MotDePasse);
  } else {
    c.AuthType = smtpAuthNone;
    c.Username.clear();
    c.Password.Wipe();
    MotDePasse.Wipe();
  }
  c.HdrPriority = smtpPriorityNone;
  c.ConfirmReceipt = false;
  c.RcptName.clear();
  c.AddRecipientLists(Destinataires, DestinatairesCc, DestinatairesCci);
  // Without a recipient the server would be contacted for nothing: say so at once.
  if (c.RcptName.empty()) {
    Erreur = "Aucune adresse de destinataire.";
    return false;
  }

  Accepte = false;
  if (ArretDemande()) {
    Erreur = kTexteAbandon;
    return false;
  }
  if (Transport == TTransportMail::tmSendmail) {
    c.Password.Wipe();
    return EnvoyerParSendmail(c);
  }
  if (!Trim(CommandeJeton).empty()) {
    TSecret jeton;
    std::string erreur = ObtenirJetonAcces(CommandeJeton, jeton, Arret);
    if (!erreur.empty()) {
      Erreur = ArretDemande() ? kTexteAbandon : erreur;
      return false;
    }
    c.AuthType = smtpAuthXOAuth2;
    c.Username = Utilisateur;
    c.Password = std::move(jeton);
  }
  Demarrer([&] { c.Connect(); });
  AttendreAvecMessages(DelaiEnvoi(), kIgnorerClavier | kIgnorerSouris, [this] {
    return Termine() || ArretDemande() ||
           (Accepte && platform::TickCount() - debutQuit_ > kDelaiQuitMs);
  });
  if (Accepte) {
    // Nothing after the server took the message can undo it.
    Fini = true;
    Erreur.clear();
  } else if (!Fini && Erreur.empty()) {
    Erreur = ArretDemande() ? kTexteAbandon : kTexteDelaiDepasse;
  }
  // The connection ends here, not with the object: an abandoned session must not be
  // left open behind the caller.
  try {
    c.Abort();
  } catch (const std::exception&) {
  }
  return Fini;
}

bool TMonMail::EnvoyerParSendmail(TSmtpClient& c) {
  std::vector<std::string> lignes;
  bool compose = false;
  try {
    compose = c.ComposeMessage(lignes);
  } catch (const std::exception& e) {
    Erreur = "Erreur : " + TexteErreurClient(e.what());
    return false;
  }
  if (!compose) {
    Erreur = "Erreur : " + TexteErreurClient(c.ErrorMessage());
    return false;
  }
  // sendmail -t reads the recipients from To, Cc and Bcc and removes Bcc: the To header
  // shows the first address only, as over SMTP, and the others travel in Bcc.
  std::string autres;
  for (const std::string& r : c.RcptName) {
    std::string nom, adresse;
    TSmtpSession::SplitAddress(r, nom, adresse);
    if (adresse.empty() || adresse == AdresseA) continue;
    autres += (autres.empty() ? "" : ", ") + adresse;
  }
  if (!autres.empty()) {
    auto fin = std::find(lignes.begin(), lignes.end(), std::string());
    lignes.insert(fin, "Bcc: " + autres);
  }
  platform::TOptionsProcessus options;
  for (const std::string& l : lignes) options.entree += l + "\n";
  options.delaiMs = DelaiEnvoi();
  options.arret = Arret;
  options.pendant = PomperEvenementsUneFois;
  const std::string programme = Trim(Sendmail).empty() ? kSendmailParDefaut : Trim(Sendmail);
  platform::TResultatProcessus r = platform::ExecuterProcessus({programme, "-t", "-i"}, options);
  const std::string erreurs = ResumeErreurs(r.erreurs);
  const std::string suite = erreurs.empty() ? std::string() : " : " + erreurs;
  if (r.erreurLancement != 0) {
    Erreur = "Erreur : impossible de lancer " + programme + " (" +
             platform::SystemErrorText(r.erreurLancement) + ")";
  } else if (r.arrete) {
    Erreur = kTexteAbandon;
  } else if (r.delaiDepasse) {
    Erreur = std::string(kTexteDelaiDepasse) + " (" + programme + " arrêté)" + suite;
  } else if (r.signal != 0) {
    Erreur = "Erreur : " + programme + " arrêté par le signal " + std::to_string(r.signal) + suite;
  } else if (r.statut != 0) {
    Erreur = "Erreur : " + programme + " a échoué (code de sortie " + std::to_string(r.statut) +
             ")" + suite;
  } else {
    Fini = true;
  }
  return Fini;
}

void TMonMail::SurRequeteTerminee(TSmtpSession& client, int requete, uint16_t erreur) {
  if (Termine()) return;  // a late completion after the end of the send
  if (Accepte) {
    Fini = true;  // QUIT ended, one way or another: the mail went out before it
    return;
  }
  if (erreur >= 1 && erreur <= 9999) {
    // EHLO is only there to look for STARTTLS when no account is set: an old server that
    // does not know it still gets HELO, as without security.
    if (requete == smtpEhlo && erreur >= 500 && erreur <= 504 && client.AuthType == smtpAuthNone &&
        client.Security == smtpSecStartTlsIfOffered) {
      Demarrer([&] { client.Helo(); });
      return;
    }
    Erreur = "Erreur : " + TexteErreurClient(client.ErrorMessage());
    return;
  }
  if (erreur >= 10000) {
    if (erreur == kConnexionFermee) {
      // The client's code for a connection that ended under a request: the server's
      // refusal line says more than any system text.
      Erreur = client.ErrorMessage().empty() ? "Erreur : connexion fermée par le serveur."
                                             : "Erreur : " + TexteErreurClient(client.ErrorMessage());
      return;
    }
    std::string texte = TexteSystemeSocket(erreur);
    Erreur = texte.empty() ? "Erreur : " + std::to_string(erreur) : texte;
    return;
  }
  switch (requete) {
    case smtpConnect:
      // EHLO also learns whether STARTTLS is offered (and runs it when it is).
      if (client.AuthType != smtpAuthNone || client.Security != smtpSecNone) {
        Demarrer([&] { client.Ehlo(); });
      } else {
        Demarrer([&] { client.Helo(); });
      }
      break;
    case smtpHelo:
      Demarrer([&] { client.MailFrom(); });
      break;
    case smtpEhlo:
      if (client.AuthType != smtpAuthNone) {
        Demarrer([&] { client.Auth(); });
      } else {
        Demarrer([&] { client.MailFrom(); });
      }
      break;
    case smtpAuth:
      Demarrer([&] { client.MailFrom(); });
      break;
    case smtpMailFrom:
      Demarrer([&] { client.RcptTo(); });
      break;
    case smtpRcptTo:
      Demarrer([&] { client.Data(); });
      break;
    case smtpData:
      Accepte = true;
      debutQuit_ = platform::TickCount();
      Demarrer([&] { client.Quit(); });
      break;
    case smtpQuit:
      Fini = true;
      break;
    default:
      break;
  }
}

void TMonMail::SurLigneDonnees(int numero, std::string& ligne, int maxLongueur, bool& encore) {
  const size_t c = Corps.size();
  const size_t n = static_cast<size_t>(numero);
  if (numero >= 1 && n <= c) {
    ligne = Corps[n - 1];
  } else if (numero >= 1 && n - c - 1 < Signature.size()) {
    ligne = Signature[n - c - 1];
  } else {
    encore = false;
    return;
  }
  if (maxLongueur > 0 && ligne.size() >= static_cast<size_t>(maxLongueur)) {
    CouperOctets(ligne, static_cast<size_t>(maxLongueur) - 1);
  }
}

void TMonMail::SurEntetes(std::vector<std::string>& entetes) const {
  if (Programme.empty()) return;
  static const std::string kXMailer = "X-Mailer: ";
  for (std::string& ligne : entetes) {
    if (EgauxSansCasseAscii(ligne.substr(0, kXMailer.size()), kXMailer)) {
      ligne = kXMailer + Programme + " - " + ligne.substr(kXMailer.size());
      return;
    }
  }
  entetes.push_back(kXMailer + Programme);
}

namespace {

void ReglerTransport(TMonMail& mail, const TConfigMail& p) {
  mail.Serveur = p.ServeurSMTP;
  mail.Utilisateur = p.AuthNom;
  mail.Securite = p.Securite;
  mail.Transport = p.Transport;
  mail.Sendmail = p.Sendmail;
  mail.CommandeJeton = p.Jeton;
  // With a token the password is of no use: it is not even copied.
  if (Trim(p.Jeton).empty()) mail.MotDePasse = p.AuthPass.View();
}

}  // namespace

std::string EnvoyerCompteRendu(TConfigMail& p, const std::string& sujet,
                               const std::function<bool()>& arret) {
  std::string erreur = p.VerifierSaisie();
  if (!erreur.empty()) return erreur;
  TMonMail mail(p.PortSMTP(), "Jumelix");
  mail.Arret = arret;
  ReglerTransport(mail, p);
  mail.Objet.push_back((sujet.empty() ? std::string("Jumelix") : sujet) + p.ComplementPourObjet());
  mail.Corps = CompteRendu().Lignes();
  mail.NomExpediteur = "Jumelix";
  mail.AdresseExpediteur = p.AdresseMail;
  mail.AdresseA = p.AdresseMail;
  mail.Destinataires = p.AdresseMail;
  mail.Envoyer();
  return mail.MessageErreur();
}

std::string EnvoyerMessageTest(const TConfigMail& p, const std::function<bool()>& arret) {
  TMonMail mail(p.PortSMTP(), "Jumelix");
  mail.Arret = arret;
  ReglerTransport(mail, p);
  mail.Objet.push_back("Jumelix [" + NomOrdinateur() + "] : Test" + p.ComplementPourObjet());
  mail.Corps = {
      "Ce message a été envoyé par Jumelix.", "Adresse e-mail du destinataire : " + p.AdresseMail,
      "Serveur SMTP utilisé : " + p.ServeurSMTP, "Port SMTP : " + std::to_string(p.PortSMTP())};
  if (p.Transport == TTransportMail::tmSendmail) {
    mail.Corps.resize(2);
    mail.Corps.push_back("Programme sendmail utilisé : " + p.Sendmail);
  }
  mail.Signature = {std::string(20, '-'), "Ce message a été envoyé en cliquant sur \"Tester\""};
  mail.NomExpediteur = "Jumelix";
  mail.AdresseExpediteur = p.AdresseMail;
  mail.AdresseA = p.AdresseMail;
  mail.Destinataires = p.AdresseMail;
  mail.Envoyer();
  return mail.MessageErreur();
}

}  // namespace jumelix
