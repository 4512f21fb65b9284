// The list-file reader: any bytes as a list file, read into the grid rows as a run would
// read them. Reading never fails on content, and a list saved from the grid reads back into
// the same rows (saving is then stable).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCommun.h"
#include "app/GrilleLignes.h"
#include "app/RapportMail.h"
#include "app/UJumelix.h"
#include "shared/URoutines.h"
#include "app/VueJumelix.h"

namespace {

std::vector<std::string> LignesLues(const std::string& chemin) {
  jumelix::TVueSansFenetre vue;
  jumelix::TPasDeRapportMail mail;
  jumelix::TJumelix jumelix(
      vue, mail, [](const std::string&) {}, [] { return 0u; });
  jumelix.LireFichierListe(chemin);
  const jumelix::TGrilleLignes& g = jumelix.Grille();
  JUMELIX_FUZZ_VERIFIER(g.NbLignes() >= 2);
  return g.LignesAEnregistrer();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  static const std::string liste = fuzz::Brouillon() + "/liste.ini";
  static const std::string copie = fuzz::Brouillon() + "/copie.ini";
  fuzz::EcrireOctets(liste, std::string_view(reinterpret_cast<const char*>(data), size));

  const std::vector<std::string> une = LignesLues(liste);
  JUMELIX_FUZZ_VERIFIER(une.size() % 2 == 0);
  JUMELIX_FUZZ_VERIFIER(EcrireLignesFichier(copie, une) == 0);
  const std::vector<std::string> deux = LignesLues(copie);
  // A saved list always starts with the titles, so the second reading fills the rows.
  JUMELIX_FUZZ_VERIFIER(EcrireLignesFichier(copie, deux) == 0);
  JUMELIX_FUZZ_VERIFIER(LignesLues(copie) == deux);
  CompteRendu().ViderCompteRendu();
  return 0;
}
