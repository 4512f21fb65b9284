#include "engine/Anticipation.h"

#include <gtest/gtest.h>

namespace jumelix {
namespace {

// Each subdirectory comes back with its own destination name: none, the source's, or
// another spelling, many times over.
TEST(TSousRepertoires, GivesBackEachDestinationAsItWasGiven) {
  TSousRepertoires l;
  auto element = [](size_t i) -> TSousRepertoires::Element {
    const std::string s = "rep" + std::to_string(i);
    return {3 * i, s, i % 3 == 0 ? "" : i % 3 == 1 ? s : "REP" + std::to_string(i)};
  };
  for (size_t i = 0; i < 5000; ++i) l.push_back(element(i));
  ASSERT_EQ(l.size(), 5000u);
  for (size_t i = 0; i < l.size(); ++i) {
    const TSousRepertoires::Element a = element(i), b = l[i];
    ASSERT_EQ(l.Indice(i), a.indice);
    ASSERT_EQ(b.indice, a.indice);
    ASSERT_EQ(b.source, a.source);
    ASSERT_EQ(b.destination, a.destination) << i;
  }
}

}  // namespace
}  // namespace jumelix
