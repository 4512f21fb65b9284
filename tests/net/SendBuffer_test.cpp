#include "net/SendBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace jumelix {
namespace {

std::string Unsent(const TBuffer& b) {
  int len = 0;
  const char* p = b.Peek(len);
  return p == nullptr ? std::string() : std::string(p, static_cast<size_t>(len));
}

TEST(TBuffer, CapacityOfZeroOrLessMeansTheDefault) {
  const std::string beaucoup(4 * TBuffer::kDefaultSize, 'x');
  const auto Prend = [&](TBuffer&& b) { return b.Write(beaucoup.data(), static_cast<int>(beaucoup.size())); };
  EXPECT_EQ(Prend(TBuffer(0)), TBuffer::kDefaultSize);
  EXPECT_EQ(Prend(TBuffer(-5)), TBuffer::kDefaultSize);
  EXPECT_EQ(Prend(TBuffer(1460)), 1460);
  TBuffer b(8);
  b.SetBufSize(0);
  EXPECT_EQ(Prend(std::move(b)), TBuffer::kDefaultSize);
}

TEST(TBuffer, WriteStopsWhenFullAndPeekShowsTheUnsentRange) {
  TBuffer b(8);
  int len = -1;
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Write("hello", 5), 5);
  EXPECT_EQ(b.Write("world", 5), 3);
  EXPECT_EQ(b.Write("x", 1), 0);
  EXPECT_EQ(Unsent(b), "hellowor");
  EXPECT_EQ(b.Write(nullptr, 3), 0);
}

TEST(TBuffer, RemoveAdvancesAndAnEmptiedChunkIsReusable) {
  TBuffer b(8);
  b.Write("abcdefgh", 8);
  EXPECT_EQ(b.Remove(3), 3);
  EXPECT_EQ(Unsent(b), "defgh");
  EXPECT_EQ(b.RdCount(), 3);
  EXPECT_EQ(b.Write("z", 1), 0);  // still full: sent bytes are not reclaimed early
  EXPECT_EQ(b.Remove(100), 5);    // at most what is unsent
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.RdCount(), 0);
  EXPECT_EQ(b.WrCount(), 0);
  EXPECT_EQ(b.Remove(1), 0);
  EXPECT_EQ(b.Write("again", 5), 5);
  EXPECT_EQ(Unsent(b), "again");
}

TEST(TBuffer, ChangingCapacityKeepsWhatFits) {
  TBuffer b(4);
  b.Write("abcd", 4);
  b.SetBufSize(10);
  EXPECT_EQ(b.Write("efgh", 4), 4);
  EXPECT_EQ(Unsent(b), "abcdefgh");
  b.SetBufSize(3);
  EXPECT_EQ(Unsent(b), "abc");
}

}  // namespace
}  // namespace jumelix
