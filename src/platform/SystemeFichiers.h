// The walk's file-system seam: every operation a synchronisation makes inside its two trees,
// and the start of its worker threads, go through one object of this class. The object
// itself does what platform/FileSystem.h does; a test derives from it and overrides Faute to
// make chosen operations fail (EMFILE, ENOSPC, EDQUOT, EXDEV, EIO, a thread that will not
// start) where real trees cannot fail on demand. Called from the walk's thread and from its
// workers at once: an override of Faute must be thread-safe. Nothing here throws but
// DemarrerFil, which throws std::system_error as std::thread's constructor does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/AttributsEtendus.h"
#include "platform/FileSystem.h"

namespace jumelix::platform {

// The operations a fault can be given to.
enum class Operation {
  Ouvrir,  // OuvrirChemin, OuvrirSous, Dupliquer
  Lire,    // LireNoms, Lister, LireLien, LireFichier, LireDebut
  Decrire,
  CreerRepertoire,
  SupprimerFichier,
  SupprimerArborescence,
  Renommer,
  Deplacer,
  Lier,  // Lier, LierCopie
  Examiner,
  EcrireCopie,
  Publier,
  Attributs,  // AppliquerAttributs, AppliquerAttributsRepertoire, DaterRepertoire,
              // AppliquerAttributsEtendus
  AttributsEtendus,  // LireAttributsEtendus
  Synchroniser,
  DemarrerFil,
};

class TSystemeFichiers {
 public:
  virtual ~TSystemeFichiers() = default;

  int OuvrirChemin(TRepertoire& rep, const std::string& chemin);
  int OuvrirSous(TRepertoire& rep, const TRepertoire& parent, const std::string& nom);
  int OuvrirSous(TRepertoire& rep, int parentFd, const std::string& nom);
  int Dupliquer(TRepertoire& rep, const TRepertoire& autre);
  int LireNoms(const TRepertoire& rep,
               const std::function<bool(std::string_view nom, uint64_t inode)>& surNom);
  int DecrireEntree(const TRepertoire& rep, const std::string& nom, EntreeRepertoire& e);
  int DecrireEntree(const TRepertoire& rep, const char* nom, DescriptionEntree& d,
                    const SeuilAttributs* seuil = nullptr);
  int Decrire(const TRepertoire& rep, EntreeRepertoire& e);
  int Lister(const TRepertoire& rep, const std::function<void(EntreeRepertoire&)>& surEntree);
  int LireLien(const TRepertoire& rep, const std::string& nom, std::string& cible);
  int LireFichier(const TRepertoire& rep, const std::string& nom, std::string& contenu);
  int LireDebut(const TRepertoire& rep, const std::string& nom, size_t n, std::string& debut);
  int CreerRepertoire(const TRepertoire& parent, const std::string& nom);
  int SupprimerFichier(const TRepertoire& parent, const std::string& nom);
  int SupprimerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers);
  int Renommer(const TRepertoire& dir, const std::string& ancien, const std::string& nouveau);
  int Deplacer(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
               const std::string& nouveau);
  int Lier(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
           const std::string& nouveau);
  int LierCopie(const TRepertoire& de, const std::string& nom, uint64_t inode,
                const TRepertoire& vers, CopieEnAttente& attente);
  int ExaminerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers,
                           int64_t* octets = nullptr);
  int EcrireCopie(const TRepertoire& source, const std::string& nomSource, const TRepertoire& cible,
                  const OptionsCopie& options, CopieEnAttente& attente);
  int Publier(const TRepertoire& cible, const CopieEnAttente& attente);
  void Abandonner(const TRepertoire& cible, const CopieEnAttente& attente);
  int AppliquerAttributs(const TRepertoire& dir, const std::string& nom,
                         const EntreeRepertoire& source, const EntreeRepertoire& actuelle,
                         const OptionsCopie& options);
  int AppliquerAttributsRepertoire(const TRepertoire& dir, const EntreeRepertoire& source,
                                   const OptionsCopie& options);
  int DaterRepertoire(const TRepertoire& dir, int64_t secondes, int32_t nanos);
  // The kept extended attributes of the entry `nom` of `rep` (empty: `rep` itself).
  int LireAttributsEtendus(const TRepertoire& rep, const std::string& nom, TAttributsEtendus& a);
  int AppliquerAttributsEtendus(const TRepertoire& dir, const std::string& nom,
                                const TAttributsEtendus& voulus, const EntreeRepertoire& actuelle,
                                bool& nonGardes);
  int Synchroniser(const TRepertoire& dir);
  // Starts a thread running `travail`; std::system_error when none can start.
  std::thread DemarrerFil(std::function<void()> travail);

 protected:
  // Called before each operation with the entry's name (or path) it concerns: 0 lets the
  // operation happen, an errno makes it fail with that error and change nothing.
  virtual int Faute(Operation, const std::string& /*nom*/) { return 0; }
};

// The real file system, without faults; lives as long as the program.
TSystemeFichiers& SystemeReel();

}  // namespace jumelix::platform
