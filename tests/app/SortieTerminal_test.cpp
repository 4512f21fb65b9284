#include "app/SortieTerminal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

#include "app/BilanJson.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"

namespace jumelix {
namespace {

TAction Action(TypeAction type, bool repertoire, std::string chemin, int64_t octets,
              bool archivee, std::string archive) {
  TAction a;
  a.type = type;
  a.repertoire = repertoire;
  a.chemin = std::move(chemin);
  a.octets = octets;
  a.archivee = archivee;
  a.archive = std::move(archive);
  return a;
}

TEST(SortieTerminal, EachChangeIsOneLineWithAFixedWidthVerb) {
  const std::pair<TAction, std::string> cas[] = {
      {Action(TypeAction::Creation, true, "/d/rep", 0, false, ""), "créé       /d/rep/"},
      {Action(TypeAction::Creation, false, "/d/f", 1234567, false, ""),
       "créé       /d/f (1 234 567 octets)"},
      {Action(TypeAction::Remplacement, false, "/d/f", 12, true, "/d/.jumelix-archive/x/f"),
       "remplacé   /d/f (12 octets) -> archivé dans /d/.jumelix-archive/x/f"},
      {Action(TypeAction::Remplacement, false, "/d/f", 999, true, ""), "remplacé   /d/f (999 octets)"},
      {Action(TypeAction::Attributs, true, "/d/r", 0, false, ""), "attributs  /d/r/"},
      {Action(TypeAction::Suppression, false, "/d/vieux", 0, false, ""), "supprimé   /d/vieux"},
      {Action(TypeAction::Suppression, true, "/d/v", 0, true, "/d/.a/v"), "archivé    /d/v/ -> /d/.a/v"},
      {Action(TypeAction::Suppression, false, "/d/v", 0, true, ""), "archivé    /d/v"},
      {Action(TypeAction::Creation, false, "/d/a\nb", 1, false, ""), "créé       /d/a\\nb (1 octets)"},
  };
  for (const auto& [action, ligne] : cas) EXPECT_EQ(TexteAction(action), ligne);
}

TEST(SortieTerminal, ANoteOnAPairIsOneLineWithTheSameWidthVerb) {
  const std::pair<TRemarque, std::string> cas[] = {
      {{TypeRemarque::AttributsEtendusNonGardes, "/media/usb/miroir"},
       "remarque   /media/usb/miroir : ce système de fichiers ne garde ni les attributs "
       "étendus ni les ACL"},
      {{TypeRemarque::LiensDursNonGardes, "/media/usb/m\tb"},
       "remarque   /media/usb/m\\tb : ce système de fichiers ne garde pas les liens physiques, "
       "copies séparées"},
  };
  for (const auto& [remarque, ligne] : cas) EXPECT_EQ(TexteRemarque(remarque), ligne);
}

TEST(SortieTerminal, AReportLineIsItemisedWithItsCauseSaidOnce) {
  const std::string eio = TexteErreurSysteme(EIO);
  const std::tuple<std::string, int, std::string> cas[] = {
      {"Impossible de créer /d/rep", ENOSPC,
       "erreur     Impossible de créer /d/rep : " + TexteErreurSysteme(ENOSPC) + " (ENOSPC)"},
      {"Erreur lors de la copie du fichier /s/f vers /d/f. " + eio, EIO,
       "erreur     Erreur lors de la copie du fichier /s/f vers /d/f. " + eio + " (EIO)"},
      {"Abandon : une autre synchronisation de /d est en cours", 0,
       "erreur     Abandon : une autre synchronisation de /d est en cours"},
  };
  for (const auto& [ligne, erreur, attendu] : cas) EXPECT_EQ(TexteErreur(ligne, erreur), attendu);

  // The window's list of a pair's lines: the same causes, and how many more past its end.
  TBilanCouple c;
  c.lignes = {"Impossible de créer /d/a", "Impossible de créer /d/b", "x ==> Fichier en trop."};
  c.causes = {EROFS};
  const std::string a = "Impossible de créer /d/a : " + TexteErreurSysteme(EROFS) + " (EROFS)";
  EXPECT_EQ(TexteErreursCouple(c), a + "\nImpossible de créer /d/b\nx ==> Fichier en trop.");
  EXPECT_EQ(TexteErreursCouple(c, 1), a + "\n… et 2 autre(s)");
}

TEST(SortieTerminal, TheProgressLineFitsTheWidthByElidingTheFolder) {
  TAvancementRun a;
  a.paire = 2;
  a.nb_paires = 3;
  a.entrees = 1500;
  a.octets = 3'000'000;
  a.ecoule_ms = 2000;
  a.repertoire = "/home/élodie/photos/2024/été";
  const std::string debut = "[2/3] 1 500 entrées, 3,0 Mo à 1,5 Mo/s, 0:00:02 écoulé, ";
  EXPECT_EQ(TexteAvancement(a, 0), debut + a.repertoire);
  EXPECT_EQ(TexteAvancement(a, 200), debut + a.repertoire);
  const size_t largeur = NbCaracteres(debut) + 10;
  EXPECT_EQ(TexteAvancement(a, largeur), debut + "…/2024/été");
  EXPECT_EQ(NbCaracteres(TexteAvancement(a, 20)), 20u);
  a.octets = 0;
  a.repertoire.clear();
  EXPECT_EQ(TexteAvancement(a, 0), "[2/3] 1 500 entrées, 0:00:02 écoulé");
}

TEST(BilanJson, StringsAreEscapedAndInvalidUtf8Replaced) {
  const std::pair<std::string, std::string> cas[] = {
      {"simple", "\"simple\""},
      {"été ✓ 😀", "\"été ✓ 😀\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"l1\nl2\tx\x01\x7f", "\"l1\\nl2\\tx\\u0001\\u007f\""},
      {"\xff" "a\xc3", "\"\\ufffda\\ufffd\""},
      {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80", "\"\\ufffd\\ufffd \\ufffd\\ufffd\\ufffd "
                                                 "\\ufffd\\ufffd\\ufffd\\ufffd\""},
  };
  for (const auto& [texte, json] : cas) EXPECT_EQ(ChaineJson(texte), json);
}

TEST(BilanJson, EachPairGivesItsStateTextAndWord) {
  TBilanCouple non_traite, identique, erreurs, abandon;
  identique.traite = erreurs.traite = abandon.traite = true;
  erreurs.lignes = {"x ==> diffère du fichier source."};
  abandon.abandonne = true;
  EXPECT_EQ(ResultatCouple(non_traite, true), "non-traite");
  EXPECT_EQ(ResultatCouple(identique, true), "identique");
  EXPECT_EQ(ResultatCouple(identique, false), "synchronise");
  EXPECT_EQ(ResultatCouple(erreurs, false), "erreurs");
  EXPECT_EQ(ResultatCouple(abandon, false), "abandonne");
  TResultatRun r;
  EXPECT_TRUE(TexteJson(r).ends_with("\"couples\": []\n}\n")) << TexteJson(r);
  // Beside each line, its cause by name, or null (also for lines given without causes).
  erreurs.lignes = {"a", "b", "c"};
  erreurs.causes = {EACCES, 0};
  r.couples = {erreurs};
  EXPECT_NE(TexteJson(r).find("\"causes\": [\"EACCES\", null, null]}"), std::string::npos)
      << TexteJson(r);
}

}  // namespace
}  // namespace jumelix
