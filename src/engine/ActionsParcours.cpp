// What the walk decides, acted on: copies, deletions and what goes to the archive
// (engine/Parcours.h).
#include <cerrno>
#include <string>
#include <utility>

#include "engine/Parcours.h"
#include "engine/UVerif.h"
#include "platform/FileSystem.h"
#include "shared/UMessErreurs.h"

namespace jumelix::parcours {

void TParcours::SupprimerSurplus(const TRepertoire& dstRep, const std::string& dst,
                                 const TPlanNiveau& plan) {
  if (!plan.cede.empty() || !plan.fichiersEnTrop.empty() || !plan.repertoiresEnTrop.empty() ||
      !plan.temporaires.empty()) {
    modifie_ = true;
  }
  // What an interrupted run left is no version of anything: deleted, not kept.
  for (const std::string& nom : plan.temporaires) {
    if (fs_.SupprimerFichier(dstRep, nom) != 0) {
      Signaler("Impossible de supprimer le fichier " + Joindre(dst, nom));
    }
  }
  for (const std::string& nom : plan.cede) SupprimerFichier(dstRep, dst, nom);
  for (const std::string& nom : plan.fichiersEnTrop) {
    if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, false, Joindre(dst, nom)),
                                   dstRep, nom))) {
      continue;
    }
    if (!SupprimerFichier(dstRep, dst, nom)) {
      Signaler("Impossible de supprimer le fichier " + Joindre(dst, nom));
    }
  }
  for (const std::string& nom : plan.repertoiresEnTrop) {
    if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, true, Joindre(dst, nom)),
                                   dstRep, nom))) {
      continue;
    }
    if (SupprimerRepertoire(dstRep, dst, nom) != 0) {
      Signaler("Impossible de supprimer le répertoire " + Joindre(dst, nom));
    }
    if (PointDeControle()) break;
  }
}

void TParcours::SignalerSurplus(const TRepertoire& dstRep, const std::string& dst,
                                const TPlanNiveau& plan) {
  for (const std::string& nom : plan.fichiersEnTrop) {
    Signaler(Joindre(dst, nom) + " ==> Fichier en trop.");
    if (changements_.Dit())
      Dire(Cible(Changement(TypeAction::Suppression, false, Joindre(dst, nom)), dstRep, nom));
  }
  for (const std::string& nom : plan.repertoiresEnTrop) {
    Signaler(Joindre(dst, nom) + " ==> Répertoire en trop.");
    if (changements_.Dit())
      Dire(Cible(Changement(TypeAction::Suppression, true, Joindre(dst, nom)), dstRep, nom));
  }
}

void TParcours::Agir(const TRepertoire& srcRep, const TRepertoire& dstRep, const std::string& src,
                     const std::string& dst, size_t indice, const EntreeRepertoire& e,
                     const Decision& d, std::string nomDst, TSousRepertoires& descentes) {
  const bool repertoire = e.Genre == GenreEntree::Repertoire;
  if (e.AttributsEtendus && !options_.AttributsEtendus) attributs_.NonGardes();
  if (d.quoi == Quoi::Collision) {
    Signaler(std::string(repertoire ? "Répertoire" : "Fichier") +
             " non copié, son nom ne diffère que par la casse d'un autre : " + Joindre(src, e.Nom));
    return;
  }
  if (comparer_ && d.renommer) {
    Signaler(Joindre(dst, nomDst) + " ==> nom différent du fichier source : " + e.Nom);
  }
  if (!comparer_ && d.renommer) {
    modifie_ = true;
    // A case-only rename on a case-folding destination.
    if (fs_.Renommer(dstRep, nomDst, e.Nom) == 0) {
      nomDst = e.Nom;
    } else {
      Signaler("Impossible de renommer " + Joindre(dst, nomDst) + " en " + e.Nom);
    }
  }
  if (!comparer_ && e.PlusieursNoms && e.Genre == GenreEntree::Fichier &&
      LierAuGroupe(dstRep, e, d, nomDst, src, dst)) {
    return;
  }
  if (d.quoi == Quoi::Rien) {
    ++etat_.NbIdentiques;
    return;
  }
  const std::string chemin = Joindre(dst, nomDst);
  switch (d.quoi) {
    case Quoi::Attributs:
      CorrigerAttributs(srcRep, dstRep, e, d, nomDst, chemin);
      return;
    case Quoi::Copier: {
      TAction a = Changement(d.manquant ? TypeAction::Creation : TypeAction::Remplacement, false,
                             chemin, &e, d.cibleRecente);
      if (!d.manquant) a = Cible(std::move(a), dstRep, nomDst);
      if (comparer_) {
        Signaler(chemin +
                 (d.manquant ? " ==> Fichier inexistant" : " ==> diffère du fichier source."));
        Dire(a);
      } else if (Choisir(a)) {
        CopierFichier(srcRep, dstRep, indice, e, nomDst, Joindre(src, e.Nom), chemin, !d.manquant);
      }
      return;
    }
    case Quoi::CreerRep: {
      const TAction a = Changement(TypeAction::Creation, true, chemin);
      if (!Choisir(a)) return;  // nor anything of its content
      modifie_ = true;
      if (fs_.CreerRepertoire(dstRep, nomDst) != 0) {
        Signaler("Impossible de créer " + chemin);
      } else {
        Dire(a);
      }
      break;
    }
    case Quoi::Descendre:
      if (d.manquant) {
        Signaler(chemin + " ==> Répertoire inexistant");
        Dire(Changement(TypeAction::Creation, true, chemin));
      }
      break;
    default:
      return;
  }
  descentes.push_back({indice, e.Nom, nomDst});
}

void TParcours::CopierFichier(const TRepertoire& srcRep, const TRepertoire& dstRep, size_t indice,
                              const EntreeRepertoire& e, const std::string& nom,
                              const std::string& source, const std::string& destination,
                              bool remplace) {
  if (props_.NomsWindows && !NomCorrect(e.Nom)) {
    Signaler("Fichier non copié, son nom n'est pas correct : " + source);
    return;
  }
  platform::CopieEnAttente copie{{}, nom};
  int err = 0;
  if (copiesAvance_ == nullptr || !copiesAvance_->Prendre(indice, err, copie)) {
    err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
  }
  if (Plein(err) || TropDeDescripteurs(err)) {
    // The copies written ahead hold room and descriptors: they are removed, and the level
    // goes on one copy at a time. The waiting copies still hold the room of the files
    // they replace: they are published. Then the copy is tried once more.
    bool libere = copiesAvance_ != nullptr && copiesAvance_->Arreter();
    if (!publication_.Vide()) {
      publication_.Tout();
      libere = true;
    }
    if (libere) err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
  }
  // Then the archive gives up its oldest folders, one by one, and at last what this run
  // put in it: the mirror comes first.
  while (Plein(err) && LibererPlace(destination)) {
    err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
  }
  if (err == platform::kPasFichierOrdinaire) {
    Signaler("Fichier non copié, ce n'est pas un fichier ordinaire : " + source);
  } else if (err == platform::kModifiePendantCopie) {
    Signaler("Fichier modifié pendant la copie, non copié : " + source);
  } else if (err != 0) {
    Signaler(LigneErreurCopie(source, destination, err));
  } else {
    if (copie.AttributsNonGardes) attributs_.NonGardes();
    if (e.PlusieursNoms) {
      liens_.RetenirCopie(dstRep, peripheriqueSrc_, e.Inode, RelatifDst(), copie);
    }
    etat_.OctetsCopies += e.Taille;  // for the window's progress display
    publication_.Ajouter(dstRep, std::move(copie), source, destination, e.Taille, remplace);
  }
}

bool TParcours::LibererPlace(const std::string& chemin) {
  return archive_.LibererPlace(chemin, [&](const std::string& perdu) {
    Signaler("Place insuffisante : l'ancienne version de " + perdu +
             " n'est pas conservée dans l'archive");
  });
}

void TParcours::CopiePubliee(const std::string& destination, int64_t octets, bool remplace) {
  ++etat_.NbCopies;
  modifie_ = true;
  if (!changements_.Dit()) return;
  TAction a =
      Changement(remplace ? TypeAction::Remplacement : TypeAction::Creation, false, destination);
  a.octets = octets;
  Dire(changements_.Archivee(std::move(a)));
}

bool TParcours::SupprimerFichier(const TRepertoire& dstRep, const std::string& dst,
                                 const std::string& nom) {
  if (archive_.Actif()) {
    if (Archiver(dstRep, nom, Joindre(dst, nom)) != 0) return false;
  } else {
    if (fs_.SupprimerFichier(dstRep, nom) != 0) return false;
    ++etat_.NbSupprimes;
  }
  if (changements_.Dit())
    Dire(changements_.Archivee(Changement(TypeAction::Suppression, false, Joindre(dst, nom))));
  return true;
}

int TParcours::SupprimerRepertoire(const TRepertoire& dstRep, const std::string& dst,
                                   const std::string& nom) {
  const int err = archive_.Actif() ? Archiver(dstRep, nom, Joindre(dst, nom))
                                   : fs_.SupprimerArborescence(dstRep, nom, etat_.NbSupprimes);
  if (err == 0 && changements_.Dit()) {
    Dire(changements_.Archivee(Changement(TypeAction::Suppression, true, Joindre(dst, nom))));
  }
  return err;
}

int TParcours::Archiver(const TRepertoire& dstRep, const std::string& nom,
                        const std::string& chemin) {
  int err = archive_.Archiver(dstRep, nom, chemin, etat_.NbSupprimes);
  while (Plein(err) && LibererPlace(chemin)) {
    err = archive_.Archiver(dstRep, nom, chemin, etat_.NbSupprimes);
  }
  return err;
}

}  // namespace jumelix::parcours
