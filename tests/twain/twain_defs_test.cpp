#include "twain/twain_defs.h"

#include <gtest/gtest.h>

#include <cstddef>

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
#define TWAIN_OFFSET(name, member) {#name "." #member, static_cast<long long>(offsetof(name, member))},
#include "twain_names.inc"
#undef TWAIN_VALUE
#undef TWAIN_STRUCT
#undef TWAIN_OFFSET
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

}  // namespace
}  // namespace quorvex::twain
