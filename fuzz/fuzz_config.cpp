// The mail settings file reader: any bytes as JumelixConfig.dat. Reading never fails on
// content, and the settings it gives survive being written and read again.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCommun.h"
#include "shared/URoutines.h"
#include "mail/ConfigMail.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string config = jumelix::fuzz::Brouillon() + "/config";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  const std::string rep = config + "/jumelix";
  std::string commande = "mkdir -p '" + rep + "'";
  if (std::system(commande.c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  TConfigMail lu;
  fuzz::EcrireOctets(lu.CheminConfig(),
                     std::string_view(reinterpret_cast<const char*>(data), size));
  lu.LireConfig();
  JUMELIX_FUZZ_VERIFIER(EstUtf8Valide(lu.AuthPass.View()));
  const int port = lu.PortSMTP();
  // Any number other than 0 stands as written (a bad port fails at connection time).
  JUMELIX_FUZZ_VERIFIER(port != 0);

  JUMELIX_FUZZ_VERIFIER(EcrireLignesFichier(lu.CheminConfig(), lu.LignesConfig(), 0600) == 0);
  TConfigMail relu;
  relu.LireConfig();
  JUMELIX_FUZZ_VERIFIER(relu.AdresseMail == lu.AdresseMail);
  JUMELIX_FUZZ_VERIFIER(relu.ServeurSMTP == lu.ServeurSMTP);
  JUMELIX_FUZZ_VERIFIER(relu.AuthNom == lu.AuthNom);
  JUMELIX_FUZZ_VERIFIER(relu.AuthPass == lu.AuthPass);
  JUMELIX_FUZZ_VERIFIER(relu.PortSMTP() == port);
  JUMELIX_FUZZ_VERIFIER(relu.QuandApp == lu.QuandApp);
  JUMELIX_FUZZ_VERIFIER(relu.QuandServ == lu.QuandServ);
  JUMELIX_FUZZ_VERIFIER(relu.Securite == lu.Securite);
  // The subject text is stored trimmed and cut, as it is used.
  JUMELIX_FUZZ_VERIFIER(relu.ComplementPourObjet() == lu.ComplementPourObjet());
  return 0;
}
