#include "twain/twain_defs.h"

#include <gtest/gtest.h>

#include "twain_table.h"

#ifdef QV_NO_PUBLISHED_TWAIN_H
std::vector<TwainEntry> PublishedTwainTable() { return {}; }
#endif

namespace quorvex::twain {
namespace {

std::vector<TwainEntry> OwnTable() {
  return {
#define TWAIN_VALUE(name) {#name, static_cast<long long>(name)},
#define TWAIN_STRUCT(name) {#name, static_cast<long long>(sizeof(name))},
#include "twain_names.inc"
#undef TWAIN_VALUE
#undef TWAIN_STRUCT
  };
}

TEST(TwainDefs, MatchesThePublishedHeader) {
#ifdef QV_NO_PUBLISHED_TWAIN_H
  GTEST_SKIP() << "no published twain.h on this machine";
#endif
  const auto own = OwnTable();
  const auto published = PublishedTwainTable();
  ASSERT_EQ(own.size(), published.size());
  for (std::size_t i = 0; i < own.size(); ++i)
    EXPECT_EQ(own[i].value, published[i].value) << own[i].name;
}

TEST(TwainDefs, Fix32ItemsCarryTheWholePartInTheLowWord) {
  // A resolution sent as a one-value item: Whole 300, Frac 0 is item 300.
  EXPECT_EQ(Fix32Item(TW_FIX32{300, 0}), 300u);
  EXPECT_EQ(Fix32FromItem(Fix32Item(TW_FIX32{-2, 0x8000})).Whole, -2);
  EXPECT_DOUBLE_EQ(FromFix32(ToFix32(8.25)), 8.25);
  EXPECT_DOUBLE_EQ(FromFix32(ToFix32(-1.5)), -1.5);
}

}  // namespace
}  // namespace quorvex::twain
