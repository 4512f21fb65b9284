#include "app/RapportMail.h"

#include <utility>

namespace jumelix {

namespace {

std::unique_ptr<IRapportMail>& Installe() {
  static std::unique_ptr<IRapportMail> rapport;
  return rapport;
}

}  // namespace

IRapportMail& RapportMailProgramme() {
  static TPasDeRapportMail aucun;
  if (Installe()) return *Installe();
  return aucun;
}

void InstallerRapportMail(std::unique_ptr<IRapportMail> rapport) {
  Installe() = std::move(rapport);
}

}  // namespace jumelix
