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
    if (const int err = fs_.SupprimerFichier(dstRep, nom)) {
      Signaler({TEchec::Quoi::SupprimerFichier, err, Joindre(dst, nom)});
    }
  }
  for (const std::string& nom : plan.cede) SupprimerFichier(dstRep, dst, nom);
  for (const std::string& nom : plan.fichiersEnTrop) {
    if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, false, Joindre(dst, nom)),
                                   dstRep, nom))) {
      continue;
    }
    if (!SupprimerFichier(dstRep, dst, nom)) {
      Signaler({TEchec::Quoi::SupprimerFichier, 0, Joindre(dst, nom)});
    }
  }
  for (const std::string& nom : plan.repertoiresEnTrop) {
    if (Ecoute() && !Choisir(Cible(Changement(TypeAction::Suppression, true, Joindre(dst, nom)),
                                   dstRep, nom))) {
      continue;
    }
    if (const int err = SupprimerRepertoire(dstRep, dst, nom)) {
      Signaler({TEchec::Quoi::SupprimerRepertoire, err, Joindre(dst, nom)});
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
  bool cree = false;
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
    if (const int err = fs_.Renommer(dstRep, nomDst, e.Nom)) {
      Signaler({TEchec::Quoi::Renommer, err, Joindre(dst, nomDst), e.Nom});
    } else {
      nomDst = e.Nom;
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
      if (const int err = fs_.CreerRepertoire(dstRep, nomDst)) {
        Signaler({TEchec::Quoi::Creer, err, chemin});
      } else {
        Dire(a);
        cree = true;
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
  descentes.push_back({indice, e.Nom, nomDst, cree});
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
  if (differer_ && copiesAvance_ != nullptr && !resolution_ &&
      copiesAvance_->ParmiLesDerniers(indice)) {
    if (std::unique_ptr<TCopieDetachee> c = copiesAvance_->Detacher(indice)) {
      // The walk goes on while it finishes: what it does meanwhile waits behind it.
      if (!partageDiffere_) partageDiffere_ = std::make_shared<TPublication::Partage>();
      auto d = std::make_unique<TCopieDifferee>();
      d->copie = std::move(c);
      d->partage = partageDiffere_;
      d->e = e;
      d->nom = nom;
      d->source = source;
      d->destination = destination;
      d->remplace = remplace;
      differes_.push_back({{}, std::move(d), nullptr, nullptr});
      ++differesTenus_;
      while (differesTenus_ > budget_.copiesDifferees) ResoudrePremier();
      return;
    }
    err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
  } else if (copiesAvance_ == nullptr || !copiesAvance_->Prendre(indice, err, copie)) {
    err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options_, copie);
  }
  ConclureCopie(srcRep, dstRep, options_, e, std::move(copie), err, source, destination, remplace,
                nullptr);
}

void TParcours::ConclureCopie(const TRepertoire& srcRep, const TRepertoire& dstRep,
                              const platform::OptionsCopie& options, const EntreeRepertoire& e,
                              platform::CopieEnAttente copie, int err, const std::string& source,
                              const std::string& destination, bool remplace,
                              TPublication::Partage* partage) {
  if (Plein(err) || TropDeDescripteurs(err)) {
    // What the walk went past holds room and descriptors too: taken first, unless this
    // is one of them.
    bool libere = false;
    if (!resolution_) {
      ResoudreTout();
    } else {
      libere = ArreterDifferes();
    }
    // The copies written ahead hold room and descriptors: they are removed, and the level
    // goes on one copy at a time. The waiting copies still hold the room of the files
    // they replace: they are published. Then the copy is tried once more.
    libere = (copiesAvance_ != nullptr && copiesAvance_->Arreter()) || libere;
    if (!publication_.Vide()) {
      publication_.Tout();
      libere = true;
    }
    if (libere) err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options, copie);
  }
  // Then the archive gives up its oldest folders, one by one, and at last what this run
  // put in it: the mirror comes first.
  while (Plein(err) && LibererPlace(destination)) {
    err = fs_.EcrireCopie(srcRep, e.Nom, dstRep, options, copie);
  }
  if (err != 0) {
    Signaler({TEchec::Quoi::Copier, err, source, destination});
  } else {
    if (copie.AttributsNonGardes) attributs_.NonGardes();
    // Never one taken without waiting: a file with several names is not copied ahead.
    if (e.PlusieursNoms) {
      liens_.RetenirCopie(dstRep, peripheriqueSrc_, e.Inode, RelatifDst(), copie);
    }
    etat_.OctetsCopies += e.Taille;  // for the window's progress display
    if (partage != nullptr) {
      publication_.AjouterAilleurs(*partage, dstRep, std::move(copie), source, destination,
                                   e.Taille, remplace);
    } else {
      publication_.Ajouter(dstRep, std::move(copie), source, destination, e.Taille, remplace);
    }
  }
}

void TParcours::ResoudrePremier() {
  TDiffere d = std::move(differes_.front());
  differes_.pop_front();
  resolution_ = true;
  if (d.copie) {
    TCopieDifferee& c = *d.copie;
    --differesTenus_;
    const TCopieDetachee::Dossiers& dossiers = *c.copie->dossiers;
    platform::CopieEnAttente copie{{}, c.nom};
    int err = 0;
    if (c.refaire) {
      err = fs_.EcrireCopie(dossiers.src, c.e.Nom, dossiers.dst, dossiers.options, copie);
    } else {
      // A copy that threw fails with what it threw; it named no temporary entry.
      const int e = ouvriers_.Attendre(c.copie->tache);
      err = e != 0 ? e : c.copie->err;
      copie.Temporaire = c.copie->attente.Temporaire;
      copie.AttributsNonGardes = c.copie->attente.AttributsNonGardes;
    }
    ConclureCopie(dossiers.src, dossiers.dst, dossiers.options, c.e, std::move(copie), err,
                  c.source, c.destination, c.remplace, c.partage.get());
  } else if (d.finition) {
    --differesTenus_;
    const TFinitionDifferee& f = *d.finition;
    FinirRepertoire(f.src, f.dst, f.chemin, f.props, true);
  } else if (d.action) {
    Dire(*d.action);
  } else {
    Signaler(d.ligne, d.erreur);
  }
  resolution_ = false;
}

bool TParcours::ArreterDifferes() {
  bool arrete = false;
  for (TDiffere& d : differes_) {
    if (!d.copie || d.copie->refaire) continue;
    arrete = true;
    TCopieDetachee& c = *d.copie->copie;
    ouvriers_.Annuler(c.tache);
    // A copy cancelled before it started, or that failed, has no temporary name.
    if (c.err == 0 && !c.attente.Temporaire.empty()) fs_.Abandonner(c.dossiers->dst, c.attente);
    d.copie->refaire = true;
  }
  return arrete;
}

TParcours::~TParcours() { ArreterDifferes(); }

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
