#include "app/VueJumelix.h"

#include <cstdio>

namespace jumelix {

void TVueSansFenetre::AjouterLog(const std::string& ligne) {
  std::fprintf(stderr, "%s\n", ligne.c_str());
}

TReponseMessage TVueSansFenetre::Message(const std::string& texte, const std::string&,
                                         TBoutonsMessage boutons, TIconeMessage) {
  std::fprintf(stderr, "%s\n", texte.c_str());
  return boutons == TBoutonsMessage::Ok ? TReponseMessage::Ok : TReponseMessage::Annuler;
}

}  // namespace jumelix
