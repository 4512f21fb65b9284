// The report of the last run, one row per pair: files copied, replaced, entries deleted,
// old versions archived, report lines; a button opens the selected pair's archive folder in
// the file manager. Shows the controller's TBilanCouple list as given (Afficher), owns
// nothing else. GUI thread only.
#pragma once

#include <QPushButton>
#include <QTableWidget>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "app/UJumelix.h"

namespace jumelix {

class TPanneauBilan : public QWidget {
 public:
  enum Colonne {
    kColLigne,
    kColSource,
    kColCible,
    kColEtat,
    kColCopies,
    kColRemplaces,
    kColSupprimes,
    kColArchives,
    kColErreurs,
    kNbColonnes
  };
  explicit TPanneauBilan(QWidget* parent = nullptr);

  // The pairs the last run walked; a comparison's report says what it found.
  void Afficher(const std::vector<TBilanCouple>& bilan, bool comparaison);
  // Opens a folder (the file manager through the desktop by default; tests record it).
  void DefinirOuvrirDossier(std::function<void(const std::string&)> ouvrir) {
    ouvrir_ = std::move(ouvrir);
  }

  QTableWidget* Table() { return &table_; }
  QPushButton* BoutonArchive() { return &bouton_archive_; }

 private:
  void MajBouton();
  QTableWidget table_;
  QPushButton bouton_archive_;
  std::vector<std::string> dossiers_;  // per table row
  std::function<void(const std::string&)> ouvrir_;
};

}  // namespace jumelix
