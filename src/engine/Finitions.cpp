// A directory's finish once its content is done, attribute fix-ups in place, and the
// hard links of a file with several names (engine/Parcours.h).
#include <string>
#include <utility>

#include "engine/Parcours.h"
#include "platform/FileSystem.h"

namespace jumelix::parcours {

void TParcours::CorrigerAttributs(const TRepertoire& srcRep, const TRepertoire& dstRep,
                                  const EntreeRepertoire& e, const Decision& d,
                                  const std::string& nomDst, const std::string& chemin) {
  ++etat_.NbIdentiques;
  const TAction a = Cible(Changement(TypeAction::Attributs, false, chemin, &e), dstRep, nomDst);
  if (comparer_) {
    Signaler(chemin + " ==> attributs différents du fichier source.");
    Dire(a);
    return;
  }
  if (!Choisir(a)) return;
  modifie_ = true;
  platform::EntreeRepertoire listee;  // the destination entry the plan decided on
  listee.Mode = e.Mode;               // of the same kind as the source's
  listee.Inode = d.inodeDst;
  if (fs_.AppliquerAttributs(dstRep, nomDst, e, listee, options_) != 0 ||
      (options_.AttributsEtendus && e.Genre == GenreEntree::Fichier &&
       attributs_.Donner(srcRep, e.Nom, dstRep, nomDst, listee) != 0)) {
    Signaler({TEchec::Quoi::Attributs, 0, chemin});
  } else {
    Dire(a);
  }
}

void TParcours::FinirRepertoire(const TRepertoire& srcRep, const TRepertoire& dstRep,
                                const std::string& dst, const platform::ProprietesRepertoire& props,
                                bool enAttenteIci) {
  EntreeRepertoire s, d;
  if (fs_.Decrire(srcRep, s) != 0 || fs_.Decrire(dstRep, d) != 0) return;
  // Its extended attributes change no time: given now, whatever still waits in it.
  if (!props.SansAttributsEtendus) {
    if (const int err = attributs_.Accorder(srcRep, dstRep, d, modifie_)) {
      Signaler({TEchec::Quoi::Attributs, err, dst});
    }
  }
  const bool garder = !props.NomsWindows;
  const int64_t ecart = s.Secondes - d.Secondes;
  const bool date = props.DeuxSecondes
                        ? (ecart < -2 || ecart > 2)
                        : !platform::MemeDateAPrecision(s.Secondes, s.Nanos, d.Secondes, d.Nanos);
  // Renames still to come in it would change its time again.
  if (!enAttenteIci || publication_.Vide()) {
    if (date || AttributsDifferents(s, d, garder)) AppliquerFinition(dstRep, s, dst, garder);
  } else if (!publication_.Differer(dstRep, std::move(s), dst, garder)) {
    Signaler({TEchec::Quoi::Attributs, errno, dst});
  }
}

void TParcours::AppliquerFinition(const TRepertoire& dstRep, const EntreeRepertoire& s,
                                  const std::string& dst, bool garder) {
  platform::OptionsCopie o = options_;
  o.GarderDroits = garder;
  if (const int err = fs_.AppliquerAttributsRepertoire(dstRep, s, o)) {
    Signaler({TEchec::Quoi::Attributs, err, dst});
  } else {
    modifie_ = true;
  }
}

bool TParcours::LierAuGroupe(const TRepertoire& dstRep, const EntreeRepertoire& e,
                             const Decision& d, const std::string& nomDst, const std::string& src,
                             const std::string& dst) {
  platform::CopieEnAttente lien{{}, nomDst};
  if (!liens_.Lien(racine_, dstRep, RelatifDst(), peripheriqueSrc_, e.Inode, d.quoi == Quoi::Copier,
                   d.inodeDst, !etat_.SurChoix, options_.GarderDroits, lien)) {
    return false;
  }
  const std::string chemin = Joindre(dst, nomDst);
  const TypeAction type = d.manquant ? TypeAction::Creation : TypeAction::Remplacement;
  if (!Choisir(Changement(type, false, chemin, &e, d.cibleRecente))) {
    fs_.Abandonner(dstRep, lien);
  } else {
    publication_.Ajouter(dstRep, std::move(lien), Joindre(src, e.Nom), chemin, e.Taille,
                         !d.manquant);
  }
  return true;
}

}  // namespace jumelix::parcours
