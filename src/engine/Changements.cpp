#include "engine/Changements.h"

namespace jumelix {

TAction TChangements::Changement(TypeAction type, bool repertoire, const std::string& chemin,
                                 const platform::EntreeRepertoire* e, bool cibleRecente) const {
  TAction a;
  if (!Ecoute()) return a;
  a.type = type;
  a.repertoire = repertoire;
  a.chemin = chemin;
  a.archivee = (type == TypeAction::Remplacement || type == TypeAction::Suppression) &&
               etat_.JoursArchive > 0;
  if (e != nullptr && !repertoire) {
    if (type != TypeAction::Attributs) a.octets = e->Taille;
    a.secondes = e->Secondes;
    a.nanos = e->Nanos;
  }
  a.cibleRecente = cibleRecente;
  return a;
}

TAction TChangements::Cible(TAction a, platform::TSystemeFichiers& fs,
                            const platform::TRepertoire& rep, const std::string& nom) const {
  if (!Ecoute()) return a;
  platform::EntreeRepertoire c;
  if (fs.DecrireEntree(rep, nom, c) == 0) {
    a.octetsCible = c.Genre == platform::GenreEntree::Repertoire ? 0 : c.Taille;
    a.secondesCible = c.Secondes;
  }
  return a;
}

TAction TChangements::Archivee(TAction a) const {
  a.archive = archive_.Actif() ? archive_.DernierArchive() : std::string();
  a.archivee = !a.archive.empty();
  return a;
}

TChoix TChangements::Choisir(const TAction& a) const {
  if (comparer_ || !etat_.SurChoix) return TChoix::Faire;
  return etat_.SurChoix(a);
}

}  // namespace jumelix
