// The report mail as the run controller sees it: whether a mail is due for this run's mode
// and the sending of the accumulated report. The mail layer provides the real
// implementation and installs it at start; until then the process-wide one is a null
// object that never finds a mail due. Called on the GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace jumelix {

class IRapportMail {
 public:
  virtual ~IRapportMail() = default;
  // True when the rule chosen for the mode (service or interactive) asks for a mail now,
  // given CompteRendu().ErreurSignalee(), and a server and a recipient are set.
  virtual bool MailAEnvoyer(bool mode_service) = 0;
  // Sends CompteRendu() as the body under `sujet`; returns the empty text on success, else
  // the error text. Returns once the send succeeded, failed or timed out, or as soon as
  // `arret` (when set) returns true: the send is then abandoned.
  virtual std::string EnvoyerCompteRendu(const std::string& sujet,
                                         const std::function<bool()>& arret) = 0;
};

// Never finds a mail due.
class TPasDeRapportMail : public IRapportMail {
 public:
  bool MailAEnvoyer(bool) override { return false; }
  std::string EnvoyerCompteRendu(const std::string&, const std::function<bool()>&) override {
    return "Envoi de mail indisponible";
  }
};

// The process-wide report mail: the installed one, else a TPasDeRapportMail.
IRapportMail& RapportMailProgramme();
// Installs the real implementation (main does it before choosing the mode); nullptr puts
// the null object back. Install before any TJumelix exists: each keeps the reference it
// was given, and the one replaced here is destroyed.
void InstallerRapportMail(std::unique_ptr<IRapportMail> rapport);

}  // namespace jumelix
