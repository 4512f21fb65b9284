#include "platform/Secret.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace jumelix {
namespace {

TEST(Secret, HoldsAppendsMovesAndWipes) {
  TSecret s("mot");
  s.Append(' ');
  s.Append("de passe");
  EXPECT_EQ(s, "mot de passe");
  s.Append(s.View());  // a view of its own buffer, across a reallocation
  EXPECT_EQ(s.View(), "mot de passemot de passe");
  s = "court";
  EXPECT_EQ(s.size(), 5u);

  TSecret t(std::move(s));
  EXPECT_TRUE(s.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(t, "court");
  TSecret u;
  u = std::move(t);
  EXPECT_EQ(u, TSecret("court"));
  u.Wipe();
  EXPECT_TRUE(u.empty());
  EXPECT_EQ(u.View(), "");

  std::string texte = "clair";
  EffacerTexte(texte);
  EXPECT_TRUE(texte.empty());
}

TEST(Secret, ProcessIsNotDumpableWhileAnySecretIsHeld) {
  const bool avant = ProcessusCopiable();
  {
    TSecret a("a");
    EXPECT_FALSE(ProcessusCopiable());
    {
      TSecret b("b");
      EXPECT_FALSE(ProcessusCopiable());
    }
    EXPECT_FALSE(ProcessusCopiable());  // a still holds one
    a.Wipe();
    EXPECT_EQ(ProcessusCopiable(), avant);
    a = "de nouveau";
    EXPECT_FALSE(ProcessusCopiable());
  }
  EXPECT_EQ(ProcessusCopiable(), avant);
  TSecret vide;  // holds nothing: changes nothing
  EXPECT_EQ(ProcessusCopiable(), avant);
}

}  // namespace
}  // namespace jumelix
