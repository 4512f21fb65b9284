#include "platform/SystemeFichiers.h"

#include <system_error>
#include <utility>

namespace jumelix::platform {

int TSystemeFichiers::OuvrirChemin(TRepertoire& rep, const std::string& chemin) {
  if (int e = Faute(Operation::Ouvrir, chemin)) return e;
  return rep.OuvrirChemin(chemin);
}

int TSystemeFichiers::OuvrirSous(TRepertoire& rep, const TRepertoire& parent,
                                 const std::string& nom) {
  return OuvrirSous(rep, parent.fd(), nom);
}

int TSystemeFichiers::OuvrirSous(TRepertoire& rep, int parentFd, const std::string& nom) {
  if (int e = Faute(Operation::Ouvrir, nom)) {
    rep.Fermer();
    return e;
  }
  return rep.OuvrirSous(parentFd, nom);
}

int TSystemeFichiers::Dupliquer(TRepertoire& rep, const TRepertoire& autre) {
  if (int e = Faute(Operation::Ouvrir, {})) {
    rep.Fermer();
    return e;
  }
  return rep.Dupliquer(autre);
}

int TSystemeFichiers::LireNoms(
    const TRepertoire& rep,
    const std::function<bool(std::string_view nom, uint64_t inode)>& surNom) {
  if (int e = Faute(Operation::Lire, {})) return e;
  return rep.LireNoms(surNom);
}

int TSystemeFichiers::DecrireEntree(const TRepertoire& rep, const std::string& nom,
                                    EntreeRepertoire& e) {
  if (int f = Faute(Operation::Decrire, nom)) return f;
  return rep.DecrireEntree(nom, e);
}

int TSystemeFichiers::DecrireEntree(const TRepertoire& rep, const char* nom, DescriptionEntree& d,
                                    const SeuilAttributs* seuil) {
  if (int f = Faute(Operation::Decrire, nom)) return f;
  return rep.DecrireEntree(nom, d, seuil);
}

int TSystemeFichiers::Decrire(const TRepertoire& rep, EntreeRepertoire& e) {
  if (int f = Faute(Operation::Decrire, {})) return f;
  return rep.Decrire(e);
}

int TSystemeFichiers::Lister(const TRepertoire& rep,
                             const std::function<void(EntreeRepertoire&)>& surEntree) {
  if (int e = Faute(Operation::Lire, {})) return e;
  return rep.Lister(surEntree);
}

int TSystemeFichiers::LireLien(const TRepertoire& rep, const std::string& nom, std::string& cible) {
  if (int e = Faute(Operation::Lire, nom)) return e;
  return rep.LireLien(nom, cible);
}

int TSystemeFichiers::LireFichier(const TRepertoire& rep, const std::string& nom,
                                  std::string& contenu) {
  if (int e = Faute(Operation::Lire, nom)) return e;
  return rep.LireFichier(nom, contenu);
}

int TSystemeFichiers::LireDebut(const TRepertoire& rep, const std::string& nom, size_t n,
                                std::string& debut) {
  if (int e = Faute(Operation::Lire, nom)) return e;
  return rep.LireDebut(nom, n, debut);
}

int TSystemeFichiers::CreerRepertoire(const TRepertoire& parent, const std::string& nom) {
  if (int e = Faute(Operation::CreerRepertoire, nom)) return e;
  return platform::CreerRepertoire(parent, nom);
}

int TSystemeFichiers::SupprimerFichier(const TRepertoire& parent, const std::string& nom) {
  if (int e = Faute(Operation::SupprimerFichier, nom)) return e;
  return platform::SupprimerFichier(parent, nom);
}

int TSystemeFichiers::SupprimerArborescence(const TRepertoire& parent, const std::string& nom,
                                            int32_t& nbFichiers) {
  if (int e = Faute(Operation::SupprimerArborescence, nom)) return e;
  return platform::SupprimerArborescence(parent, nom, nbFichiers);
}

int TSystemeFichiers::Renommer(const TRepertoire& dir, const std::string& ancien,
                               const std::string& nouveau) {
  if (int e = Faute(Operation::Renommer, ancien)) return e;
  return platform::Renommer(dir, ancien, nouveau);
}

int TSystemeFichiers::Deplacer(const TRepertoire& de, const std::string& nom,
                               const TRepertoire& vers, const std::string& nouveau) {
  if (int e = Faute(Operation::Deplacer, nom)) return e;
  return platform::Deplacer(de, nom, vers, nouveau);
}

int TSystemeFichiers::Lier(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
                           const std::string& nouveau) {
  if (int e = Faute(Operation::Lier, nom)) return e;
  return platform::Lier(de, nom, vers, nouveau);
}

int TSystemeFichiers::ExaminerArborescence(const TRepertoire& parent, const std::string& nom,
                                           int32_t& nbFichiers, int64_t* octets) {
  if (int e = Faute(Operation::Examiner, nom)) return e;
  return platform::ExaminerArborescence(parent, nom, nbFichiers, octets);
}

int TSystemeFichiers::EcrireCopie(const TRepertoire& source, const std::string& nomSource,
                                  const TRepertoire& cible, const OptionsCopie& options,
                                  CopieEnAttente& attente) {
  if (int e = Faute(Operation::EcrireCopie, nomSource)) return e;
  return platform::EcrireCopie(source, nomSource, cible, options, attente);
}

int TSystemeFichiers::Publier(const TRepertoire& cible, const CopieEnAttente& attente) {
  if (int e = Faute(Operation::Publier, attente.Nom)) return e;
  return platform::Publier(cible, attente);
}

void TSystemeFichiers::Abandonner(const TRepertoire& cible, const CopieEnAttente& attente) {
  platform::Abandonner(cible, attente);
}

int TSystemeFichiers::AppliquerAttributs(const TRepertoire& dir, const std::string& nom,
                                         const EntreeRepertoire& source,
                                         const EntreeRepertoire& actuelle,
                                         const OptionsCopie& options) {
  if (int e = Faute(Operation::Attributs, nom)) return e;
  return platform::AppliquerAttributs(dir, nom, source, actuelle, options);
}

int TSystemeFichiers::AppliquerAttributsRepertoire(const TRepertoire& dir,
                                                   const EntreeRepertoire& source,
                                                   const OptionsCopie& options) {
  if (int e = Faute(Operation::Attributs, {})) return e;
  return platform::AppliquerAttributsRepertoire(dir, source, options);
}

int TSystemeFichiers::LierCopie(const TRepertoire& de, const std::string& nom, uint64_t inode,
                                const TRepertoire& vers, CopieEnAttente& attente) {
  if (int e = Faute(Operation::Lier, nom)) return e;
  return platform::LierCopie(de, nom, inode, vers, attente);
}

int TSystemeFichiers::LireAttributsEtendus(const TRepertoire& rep, const std::string& nom,
                                           TAttributsEtendus& a) {
  if (int e = Faute(Operation::AttributsEtendus, nom)) return e;
  return platform::LireAttributsEtendus(rep.fd(), nom.c_str(), a);
}

int TSystemeFichiers::AppliquerAttributsEtendus(const TRepertoire& dir, const std::string& nom,
                                                const TAttributsEtendus& voulus,
                                                const EntreeRepertoire& actuelle,
                                                bool& nonGardes) {
  if (int e = Faute(Operation::Attributs, nom)) return e;
  return platform::AppliquerAttributsEtendus(dir, nom, voulus, actuelle, nonGardes);
}

int TSystemeFichiers::DaterRepertoire(const TRepertoire& dir, int64_t secondes, int32_t nanos) {
  if (int e = Faute(Operation::Attributs, {})) return e;
  return platform::DaterRepertoire(dir, secondes, nanos);
}

int TSystemeFichiers::Synchroniser(const TRepertoire& dir) {
  if (int e = Faute(Operation::Synchroniser, {})) return e;
  return platform::Synchroniser(dir);
}

std::thread TSystemeFichiers::DemarrerFil(std::function<void()> travail) {
  if (int e = Faute(Operation::DemarrerFil, {})) {
    throw std::system_error(e, std::generic_category(), "thread");
  }
  return std::thread(std::move(travail));
}

TSystemeFichiers& SystemeReel() {
  static TSystemeFichiers reel;
  return reel;
}

}  // namespace jumelix::platform
