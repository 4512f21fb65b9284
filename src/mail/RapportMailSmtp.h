// The run's report mail, sent through SMTP with the process's mail settings. main
// installs it at start, in both modes: InstallerRapportMail(std::make_unique<
// TRapportMailSmtp>()). Uses the settings object given at construction, which must
// outlive it. GUI thread only.
#pragma once

#include <string>

#include "app/RapportMail.h"
#include "mail/ConfigMail.h"

namespace jumelix {

class TRapportMailSmtp : public IRapportMail {
 public:
  explicit TRapportMailSmtp(TConfigMail& parametres = ParametresMail()) : parametres_(parametres) {}

  bool MailAEnvoyer(bool mode_service) override;
  std::string EnvoyerCompteRendu(const std::string& sujet,
                                 const std::function<bool()>& arret) override;

 private:
  TConfigMail& parametres_;
};

}  // namespace jumelix
