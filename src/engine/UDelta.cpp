#include "engine/UDelta.h"

#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "engine/FichiersMotifs.h"
#include "engine/Parcours.h"
#include "engine/RacineCible.h"
#include "engine/UVerif.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {

void (*CrochetAvantAction)(const std::string& destination) = nullptr;

namespace parcours {

void TParcours::Executer(const std::string& source, const std::string& destination) {
  platform::ElargirLimiteDescripteurs();
  budget_ = TBudget::Pour(platform::LimiteDescripteurs());
  publication_.DefinirLimiteRepertoires(budget_.lotRepertoires);
  differer_ = !comparer_ && budget_.copiesDifferees > 0;
  if (!platform::EstRepertoire(source)) {
    Signaler(source + " ==> Répertoire source non accessible");
    return;
  }
  TRepertoire src, dst;
  const int err_src = fs_.OuvrirChemin(src, source);
  // The patterns are known before anything of the destination is touched.
  if (!etat_.ExclusionsGlobales.Vide()) exclusions_.Empiler(etat_.ExclusionsGlobales);
  longueurRacineSrc_ = source.size();
  if (err_src == 0 && src.ExisteEntree(std::string(kNomFichierExclusions)) &&
      !ChargerMotifs(src, source, {})) {
    return;
  }
  int err_dst = 0;
  if (comparer_) {
    if (!platform::EstRepertoire(destination)) {
      Signaler(destination + " ==> Répertoire destination inexistant");
      return;
    }
    err_dst = fs_.OuvrirChemin(dst, destination);
  } else if (!platform::EstRepertoire(destination)) {
    if (const std::string refus = CreerRacineCible(fs_, destination, dst); !refus.empty()) {
      Signaler(refus);
      return;
    }
  } else {
    err_dst = fs_.OuvrirChemin(dst, destination);
  }
  if (dst.Ouvert()) {
    marque_.Cible(dst);
    if (const std::string refus = RefusArchive(fs_, dst, destination); !refus.empty()) {
      Signaler(refus);
      return;
    }
  }
  // Synchronise mode only: a compare changes nothing, and may look at a destination
  // while it is being synchronised. The lock is held until the walk ends.
  if (!comparer_ && dst.Ouvert() && verrou_.Prendre(dst) == EWOULDBLOCK) {
    Signaler("Abandon : une autre synchronisation de " + destination + " est en cours");
    return;
  }
  cheminSrc_ = source;
  cheminDst_ = destination;
  attributs_.Destination(destination);
  liens_.Destination(destination);
  longueurRacineDst_ = destination.size();
  if (dst.Ouvert()) {
    archive_.Commencer(
        dst, destination,
        [&](const std::string& dossier) {
          Signaler({TEchec::Quoi::SupprimerRepertoire, 0, dossier});
        },
        verrou_.Cree());
  }
  if (err_src == 0 && dst.Ouvert() && !etat_.Marques.empty()) {
    platform::TAttributsEtendus racine;
    attributsSource_ = fs_.LireAttributsEtendus(src, {}, racine) != 0 || !racine.empty();
    marque_.Commencer(etat_.Marques, source, destination, src,
                      !dst.Proprietes().SansAttributsEtendus);
  }
  Parcourir(std::move(src), err_src, std::move(dst), err_dst);
  ResoudreTout();
  const bool enAttente = !publication_.Vide();
  publication_.Tout();
  verrou_.Defaire(racine_);
  // A stop that came while the last batch went to disk (a flush of a large batch takes a
  // while): the pair did not end on its own, and says so.
  if (enAttente && !etat_.Abandon) PointDeControle();
  if (modifie_ && racine_.Ouvert()) {
    if (int err = fs_.Synchroniser(racine_)) {
      Signaler({TEchec::Quoi::EcrireSurDisque, err, destination});
    }
  }
  // Once on disk, a walk that left every destination entry without attributes is the next
  // ones' mark; one that reported, stopped, left something out (a pattern, the preview) or
  // met attributes in the source leaves the mark as it was, still true for what it did
  // not change.
  if (!comparer_ && nombre_ == 0 && !etat_.Abandon && !arret_ && !laisse_ && !exclu_ &&
      !attributsSource_ && racine_.Ouvert()) {
    marque_.Enregistrer(racine_);
  }
}

bool TParcours::ChargerMotifs(const TRepertoire& rep, const std::string& chemin,
                              std::string_view base) {
  std::string texte;
  const std::string nom(kNomFichierExclusions);
  const int err = fs_.LireFichier(rep, nom, texte);
  if (err == ENOENT) return true;
  if (err != 0) {
    Signaler({TEchec::Quoi::LireMotifs, err, Joindre(chemin, nom)});
    return false;
  }
  TMotifs motifs = TMotifs::Compiler(texte, std::string(base));
  if (!motifs.Vide()) exclusions_.Empiler(std::move(motifs));
  return true;
}

void TParcours::Parcourir(TRepertoire src, int errSrc, TRepertoire dst, int errDst) {
  if (dst.Ouvert()) fs_.Dupliquer(racine_, dst);
  std::unique_ptr<TNiveau> n =
      Entrer(std::move(src), errSrc, std::move(dst), errDst, nullptr, nullptr, true);
  if (!n) return;
  pile_.push_back(std::move(n));
  while (!pile_.empty() && !etat_.Abandon && !arret_) {
    TNiveau& f = *pile_.back();
    if (f.ferme || f.prochaine >= f.descentes.size()) {
      Remonter();
    } else {
      Descendre(f);
    }
  }
  pile_.clear();
}

void TParcours::Descendre(TNiveau& f) {
  const Descente& d = f.descentes[f.prochaine++];
  std::unique_ptr<TListage> ls, lc;
  if (f.avance) std::tie(ls, lc) = f.avance->Prendre(d.indice);
  TRepertoire s, c;
  const int es = Ouvrir(s, f.src, d.source);
  const int ec = f.fantome ? ENOENT : Ouvrir(c, f.dst, d.destination);
  const size_t longueurSrc = cheminSrc_.size(), longueurDst = cheminDst_.size();
  const size_t motifs = exclusions_.Taille();
  Prolonger(cheminSrc_, d.source);
  Prolonger(cheminDst_, d.destination);
  std::unique_ptr<TNiveau> n =
      Entrer(std::move(s), es, std::move(c), ec, std::move(ls), std::move(lc), false, d.cree);
  if (!n) {
    cheminSrc_.resize(longueurSrc);
    cheminDst_.resize(longueurDst);
    while (exclusions_.Taille() > motifs) exclusions_.Depiler();
    fantome_ = f.fantome;
    return;
  }
  n->longueurSrc = longueurSrc;
  n->longueurDst = longueurDst;
  n->motifsParent = motifs;
  pile_.push_back(std::move(n));
  // Only the deepest levels keep their directories open.
  if (pile_.size() > budget_.niveauxOuverts) {
    TNiveau& loin = *pile_[pile_.size() - budget_.niveauxOuverts - 1];
    if (!loin.ferme) {
      loin.avance.reset();
      loin.idSrc = loin.src.Identite();
      loin.idDst = loin.dst.Identite();
      loin.src.Fermer();
      loin.dst.Fermer();
      loin.ferme = true;
    }
  }
}

void TParcours::DiffererFinition(TNiveau& f) {
  auto fin = std::make_unique<TFinitionDifferee>();
  if (fs_.Dupliquer(fin->src, f.src) != 0 || fs_.Dupliquer(fin->dst, f.dst) != 0) {
    ResoudreTout();
    FinirRepertoire(f.src, f.dst, cheminDst_, f.props, f.enAttenteIci || f.differe);
    return;
  }
  fin->chemin = cheminDst_;
  fin->props = f.props;
  differes_.push_back({{}, nullptr, std::move(fin), nullptr});
  ++differesTenus_;
  while (differesTenus_ > budget_.copiesDifferees) ResoudrePremier();
}

void TParcours::Remonter() {
  TNiveau& f = *pile_.back();
  if (f.ferme) {
    Signaler({TEchec::Quoi::LireCible, 0, cheminDst_});
  } else if (!comparer_ && !differes_.empty()) {
    DiffererFinition(f);
  } else if (!comparer_) {
    FinirRepertoire(f.src, f.dst, cheminDst_, f.props, f.enAttenteIci || f.differe);
  }
  cheminSrc_.resize(f.longueurSrc);
  cheminDst_.resize(f.longueurDst);
  while (exclusions_.Taille() > f.motifsParent) exclusions_.Depiler();
  if (pile_.size() >= 2 && pile_[pile_.size() - 2]->ferme && !f.ferme) {
    // Through "..", checked to be the very directories the walk left: one moved away
    // meanwhile is not walked further.
    TNiveau& p = *pile_[pile_.size() - 2];
    const bool retrouve = fs_.OuvrirSous(p.src, f.src, "..") == 0 &&
                          fs_.OuvrirSous(p.dst, f.dst, "..") == 0 && p.src.Identite() == p.idSrc &&
                          p.dst.Identite() == p.idDst;
    if (retrouve) {
      p.ferme = false;
    } else {
      p.src.Fermer();
      p.dst.Fermer();
    }
  }
  pile_.pop_back();
  fantome_ = !pile_.empty() && pile_.back()->fantome;
}

int TParcours::Ouvrir(TRepertoire& rep, const TRepertoire& parent, const std::string& nom) {
  int err = fs_.OuvrirSous(rep, parent, nom);
  if (TropDeDescripteurs(err)) {
    ResoudreTout();
    publication_.Tout();
    err = fs_.OuvrirSous(rep, parent, nom);
  }
  return err;
}

int TParcours::Entrees(const TRepertoire& rep, std::unique_ptr<TListage>& l,
                       TListeEntrees& entrees, const platform::SeuilAttributs* seuil) {
  if (int err = 0; PrendreListage(l, rep, entrees, err)) return err;
  for (int essai = 0;; ++essai) {
    TListage ici(ouvriers_, fs_, rep, seuil);
    TListage::Resultat& r = ici.Attendre();
    const int err = r.errOuverture != 0 ? r.errOuverture : r.errListe;
    if (essai == 0 && TropDeDescripteurs(err)) {
      ResoudreTout();
      publication_.Tout();
      continue;
    }
    entrees = std::move(r.entrees);
    return err;
  }
}

std::unique_ptr<TParcours::TNiveau> TParcours::Entrer(TRepertoire srcRep, int errSrc,
                                                      TRepertoire dstRep, int errDst,
                                                      std::unique_ptr<TListage> lsrc,
                                                      std::unique_ptr<TListage> ldst, bool racine,
                                                      bool cibleCree) {
  const std::string& src = cheminSrc_;
  const std::string& dst = cheminDst_;
  TListeEntrees cible;
  if (errDst == 0 && !cibleCree) errDst = Entrees(dstRep, ldst, cible, marque_.Seuil());
  if (errDst != 0) {
    Signaler({TEchec::Quoi::LireCible, errDst, dst});
    // A comparison told to say what a synchronisation would make walks on in the source
    // of a directory missing from the destination, reporting no more: everything in it
    // is to be created.
    if (!comparer_ || errDst != ENOENT || racine || !changements_.Dit()) return nullptr;
    fantome_ = true;
  }
  // A file system mounted inside the destination keeps its own archive at its root.
  const bool montage = !racine && platform::EstRacineMontage(dstRep);
  if (montage && !comparer_) archive_.AjouterMontage(dstRep, dst);
  etat_.RepertoireCourant = src;  // for the window's progress display
  if (PointDeControle()) return nullptr;
  // The source is read whole before anything is decided: a source that cannot be read
  // completely must not make its destination counterparts look surplus.
  TListeEntrees entrees;
  if (errSrc == 0) errSrc = Entrees(srcRep, lsrc, entrees);
  if (errSrc != 0) {
    Signaler({TEchec::Quoi::LireSource, errSrc, src});
    return nullptr;
  }
  for (size_t i = 0; i < entrees.size() && !attributsSource_; ++i) {
    attributsSource_ = entrees.Description(i).AttributsEtendus;
  }
  // A patterns file that cannot be read stops the pair here: what it would keep or leave
  // out is unknown.
  bool motifsIci = false;
  for (size_t i = 0; i < entrees.size() && !racine && !motifsIci; ++i) {
    motifsIci = entrees.NomVue(i) == kNomFichierExclusions;
  }
  if (motifsIci) {
    if (!ChargerMotifs(srcRep, src, Relatif())) {
      arret_ = true;
      return nullptr;
    }
  }
  if (!fantome_) props_ = proprietes_.Pour(dstRep, cible, !comparer_);
  options_.GarderDroits = !props_.NomsWindows;
  options_.AttributsEtendus = !props_.SansAttributsEtendus;
  if (CrochetAvantAction) CrochetAvantAction(dst);

  TReglesNiveau regles;
  regles.Comparer = comparer_;
  regles.ReplieCasse = props_.ReplieCasse;
  regles.DeuxSecondes = props_.DeuxSecondes;
  regles.GarderDroits = options_.GarderDroits;
  regles.RacineArchive = racine || montage;
  if (options_.AttributsEtendus) {
    regles.MemesAttributsEtendus = [&](const std::string& a, const std::string& b) {
      return attributs_.Memes(srcRep, a, dstRep, b);
    };
  }
  TExclu motifs;
  if (!exclusions_.Vide()) {
    motifs = [this, relatif = Relatif()](std::string_view nom, bool repertoire) {
      cheminExclu_.assign(relatif);
      if (!relatif.empty()) cheminExclu_ += '/';
      cheminExclu_ += nom;
      return exclusions_.Exclu(cheminExclu_, repertoire);
    };
  }
  // Tagged caches are found here, before the plan, which stays without disk.
  if (etat_.IgnorerCaches) motifs = AvecCaches(fs_, srcRep, entrees, std::move(motifs));
  if (motifs) {
    motifs = [this, exclu = std::move(motifs)](std::string_view nom, bool repertoire) {
      const bool x = exclu(nom, repertoire);
      exclu_ = exclu_ || x;
      return x;
    };
  }
  regles.Exclu = std::move(motifs);
  TPlanNiveau plan;
  Planifier(
      entrees, cible, regles,
      [&](const std::string& a, const std::string& b) {
        std::string ca, cb;
        return fs_.LireLien(srcRep, a, ca) == 0 && fs_.LireLien(dstRep, b, cb) == 0 && ca == cb;
      },
      plan);
  for (const auto& [repertoire, nom] : plan.tropLongs) {
    Signaler((repertoire ? "Nom de répertoire trop long " : "Nom de fichier trop long ") + nom);
  }
  for (const std::string& nom : plan.reservesSource) {
    Signaler("Fichier non copié, son nom est réservé à l'archive de la destination : " +
             Joindre(src, nom));
  }

  auto n = std::make_unique<TNiveau>();
  n->fantome = fantome_;
  n->src = std::move(srcRep);
  n->dst = std::move(dstRep);
  n->props = props_;
  const std::vector<Decision>& decisions = plan.decisions;
  if (ouvriers_.Nombre() > 0) {
    n->avance = std::make_unique<TAvance>(ouvriers_, fs_, n->src, n->dst, enCours_,
                                          budget_.listagesAvance, budgetAvance_, marque_.Seuil());
    for (size_t i = 0; i < entrees.size(); ++i) {
      const Decision& d = decisions[i];
      if (d.quoi == Quoi::CreerRep || (d.quoi == Quoi::Descendre && d.manquant)) {
        n->avance->Ajouter(i, entrees.Nom(i), {});
      } else if (d.quoi == Quoi::Descendre) {
        n->avance->Ajouter(i, entrees.Nom(i), plan.NomDst(d, entrees.NomVue(i)));
      }
    }
    n->avance->Lancer();
  }
  if (!comparer_) {
    SupprimerSurplus(n->dst, dst, plan);
    if (etat_.Abandon) return nullptr;
  }
  publication_.NouveauNiveau();
  {
    TCopiesAvance copies(ouvriers_, fs_, n->src, n->dst, options_, budget_.copiesAvance, entrees);
    if (!comparer_ && ouvriers_.Nombre() > 0 && n->dst.Inscriptible()) {
      for (size_t i = 0; i < entrees.size(); ++i) {
        const Decision& d = decisions[i];
        // A file with several names may be linked rather than copied: never ahead.
        if (d.quoi == Quoi::Copier && !d.renommer && entrees.Genre(i) == GenreEntree::Fichier &&
            !entrees.Description(i).PlusieursNoms &&
            (!props_.NomsWindows || NomCorrect(entrees.Nom(i)))) {
          copies.Ajouter(i);
        }
      }
      copies.Lancer();
    }
    copiesAvance_ = &copies;
    partageDiffere_.reset();
    peripheriqueSrc_ = n->src.Peripherique();
    for (size_t i = 0; i < entrees.size(); ++i) {
      const Decision& d = decisions[i];
      Agir(n->src, n->dst, src, dst, i, entrees.Entree(i), d, plan.NomDst(d, entrees.NomVue(i)),
           n->descentes);
      if (PointDeControle()) {
        copiesAvance_ = nullptr;
        return nullptr;
      }
    }
    copiesAvance_ = nullptr;
  }
  n->differe = partageDiffere_ != nullptr;
  partageDiffere_.reset();
  n->enAttenteIci = publication_.EnAttenteIci();
  publication_.NouveauNiveau();
  entrees = {};
  if (PointDeControle()) return nullptr;
  if (comparer_) SignalerSurplus(n->dst, dst, plan);
  return n;
}

}  // namespace parcours

int TraiterCouple(const std::string& source, const std::string& destination, bool ComparerSeulement,
                  const TSurMessage& SurMessage, const TSurAvancement& SurAvancement,
                  TEtatRun& Etat) {
  Etat.Abandon = false;
  parcours::TParcours parcours(ComparerSeulement, SurMessage, SurAvancement, Etat);
  if (Etat.ErreurExclusions != 0) {
    parcours.Signaler({TEchec::Quoi::LireMotifs, Etat.ErreurExclusions, Etat.FichierExclusions});
    return parcours.Nombre();
  }
  if (!VerifierCouple(source, destination,
                      [&](const std::string& texte) { parcours.Signaler(texte); })) {
    return parcours.Nombre();
  }
  if (!ComparerSeulement && SourceVideCibleRemplie(source, destination)) {
    parcours.Signaler("Abandon : le répertoire source " + source +
                      " est vide, le répertoire cible n'est pas vidé");
    return parcours.Nombre();
  }
  parcours.Executer(source, destination);
  return parcours.Nombre();
}

}  // namespace jumelix
