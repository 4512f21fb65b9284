#include "net/AttenteMessages.h"

#include <gtest/gtest.h>

#include <chrono>

#include "net/MessageLoop.h"

namespace jumelix {
namespace {

using Horloge = std::chrono::steady_clock;

class AttenteMessagesTest : public ::testing::Test {
 protected:
  void TearDown() override {
    DefinirPompeEvenements({});
    TMessageLoop::Current().ProcessMessages();
    TMessageLoop::Current().ClearQuit();
  }
};

TEST_F(AttenteMessagesTest, ConditionAlreadyTrueReturnsAtOnce) {
  int appels = 0;
  EXPECT_EQ(AttendreAvecMessages(10000, 0, [&] { return ++appels > 0; }), 0);
  EXPECT_EQ(appels, 1);
}

TEST_F(AttenteMessagesTest, PostedMessagesAreDispatchedUntilTheConditionHolds) {
  int recus = 0;
  TMessageWindow fenetre([&](uint32_t msg, uintptr_t, intptr_t) {
    if (msg == kWmUser + 7) ++recus;
  });
  for (int i = 0; i < 5; ++i) fenetre.Post(kWmUser + 7);
  EXPECT_EQ(AttendreAvecMessages(10000, 0, [&] { return recus == 3; }), 0);
  EXPECT_EQ(recus, 3);  // the rest stays queued for the outer loop
  EXPECT_EQ(TMessageLoop::Current().PendingCount(), 2u);
}

TEST_F(AttenteMessagesTest, AMessageFromAHandlerChainsTheNextStep) {
  // The sender's pattern: each completion posts the next request.
  int etape = 0;
  TMessageWindow* moi = nullptr;
  TMessageWindow fenetre([&](uint32_t, uintptr_t, intptr_t) {
    if (++etape < 4) moi->Post(kWmUser);
  });
  moi = &fenetre;
  fenetre.Post(kWmUser);
  EXPECT_EQ(AttendreAvecMessages(10000, 0, [&] { return etape == 4; }), 0);
}

TEST_F(AttenteMessagesTest, DelayRunsOut) {
  auto debut = Horloge::now();
  EXPECT_EQ(AttendreAvecMessages(120, 0, [] { return false; }), 1);
  auto duree = Horloge::now() - debut;
  EXPECT_GE(duree, std::chrono::milliseconds(120));
  EXPECT_LT(duree, std::chrono::milliseconds(2000));
}

TEST_F(AttenteMessagesTest, DelayRunsOutWhileMessagesKeepComing) {
  // A queue that does not empty (a peer that keeps sending) must not hold the wait; the
  // messages stop after 3 s, so a wait that only looks at an empty queue fails, not hangs.
  bool encore = true;
  const auto debut = Horloge::now();
  TMessageWindow* moi = nullptr;
  TMessageWindow fenetre([&](uint32_t, uintptr_t, intptr_t) {
    if (encore && Horloge::now() - debut < std::chrono::seconds(3)) moi->Post(kWmUser);
  });
  moi = &fenetre;
  fenetre.Post(kWmUser);
  EXPECT_EQ(AttendreAvecMessages(120, 0, [] { return false; }), 1);
  EXPECT_LT(Horloge::now() - debut, std::chrono::milliseconds(2000));
  encore = false;
}

TEST_F(AttenteMessagesTest, QuitMessageEndsTheWaitAndIsPostedAgain) {
  TMessageLoop& boucle = TMessageLoop::Current();
  boucle.PostQuitMessage(42);
  EXPECT_EQ(AttendreAvecMessages(10000, 0, [] { return false; }), -1);
  // Still there for the loop outside.
  boucle.ProcessMessages();
  EXPECT_TRUE(boucle.QuitReceived());
  EXPECT_EQ(boucle.QuitCode(), 42);
}

TEST_F(AttenteMessagesTest, HookIsPumpedWithTheFilterFlags) {
  int passes = 0;
  bool clavier = false, souris = false;
  DefinirPompeEvenements([&](bool c, bool s) {
    ++passes;
    clavier = c;
    souris = s;
  });
  EXPECT_EQ(
      AttendreAvecMessages(10000, kIgnorerClavier | kIgnorerSouris, [&] { return passes >= 3; }),
      0);
  EXPECT_TRUE(clavier);
  EXPECT_TRUE(souris);
  EXPECT_EQ(AttendreAvecMessages(10000, kIgnorerSouris, [&] { return passes >= 4; }), 0);
  EXPECT_FALSE(clavier);
  EXPECT_TRUE(souris);
}

}  // namespace
}  // namespace jumelix
