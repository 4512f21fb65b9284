#include "app/VueJumelix.h"

#include <cstdio>

namespace jumelix {

void TVueSansFenetre::AjouterLog(const std::string& ligne) {
  std::fprintf(stderr, "%s\n", ligne.c_str());
}

TReponseMessage TVueSansFenetre::Message(const std::string& texte, const std::string&,
                                         TBoutonsMessage boutons, TIconeMessage) {
  std::fprintf(stderr, "%s\n", texte.c_str());
  switch (boutons) {
    case TBoutonsMessage::Ok:
      return TReponseMessage::Ok;
    case TBoutonsMessage::OuiNon:
      return TReponseMessage::Non;
    default:
      return TReponseMessage::Annuler;
  }
}

}  // namespace jumelix
