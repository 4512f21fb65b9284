#include "mail/RapportMailSmtp.h"

#include "mail/UMonMail.h"

namespace jumelix {

bool TRapportMailSmtp::MailAEnvoyer(bool mode_service) {
  return parametres_.MailAEnvoyer(mode_service);
}

std::string TRapportMailSmtp::EnvoyerCompteRendu(const std::string& sujet,
                                                 const std::function<bool()>& arret) {
  return jumelix::EnvoyerCompteRendu(parametres_, sujet, arret);
}

}  // namespace jumelix
