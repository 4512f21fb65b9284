// A report-mail port for the run controller's tests: says whether a mail is due as told,
// and records what would have been sent instead of sending it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/RapportMail.h"
#include "shared/URoutines.h"

namespace jumelix::test {

class MailFactice : public IRapportMail {
 public:
  bool du = false;
  std::string erreur;
  std::vector<bool> modes;
  std::vector<std::string> sujets;
  std::vector<std::vector<std::string>> corps;

  bool MailAEnvoyer(bool mode_service) override {
    modes.push_back(mode_service);
    return du;
  }
  std::string EnvoyerCompteRendu(const std::string& sujet, const std::function<bool()>&) override {
    sujets.push_back(sujet);
    corps.push_back(CompteRendu().Lignes());
    return erreur;
  }
};

}  // namespace jumelix::test
