#include "job/block_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace qs71prog {
namespace {

constexpr uint32_t k256K = 262144;
constexpr uint32_t k2M = 2097152;

// A part whose differing blocks are known; records every comparison asked of it.
struct FakePart {
  std::set<uint32_t> differing;
  int32_t failAt = 0;  // the comparison (from 1) that fails with -20; 0: none
  std::vector<std::pair<uint32_t, uint32_t>> asked;

  int32_t Compare(uint32_t start, uint32_t length) {
    asked.emplace_back(start, length);
    if (static_cast<int32_t>(asked.size()) == failAt) return -20;
    const auto first = differing.lower_bound(start);
    return first != differing.end() && *first < start + length ? 1 : 0;
  }
};

FailingBlocks Locate(FakePart& part, uint32_t size) {
  return LocateFailingBlocks(size, [&](uint32_t start, uint32_t length) {
    return part.Compare(start, length);
  });
}

std::vector<uint32_t> EveryNth(uint32_t count, uint32_t step, uint32_t from) {
  std::vector<uint32_t> blocks;
  for (uint32_t i = 0; i < count; ++i) blocks.push_back(from + i * step);
  return blocks;
}

struct SearchCase {
  const char* name;
  uint32_t size;
  std::vector<uint32_t> differing;  // block addresses
  size_t reported;                  // the first this many of differing
  bool complete;
  int comparisons;                  // how much the search costs, in calls of the library
};

TEST(LocateFailingBlocks, FindsTheFirstSixteenFailingBlocksInAddressOrder) {
  const SearchCase cases[] = {
      // Left halves differ all the way down: each level compares both halves.
      {"one block at the start", k2M, {0x0}, 1, true, 26},
      {"one block near the start", k256K, {0x2300}, 1, true, 18},
      // Left halves match all the way down: the right ones are taken to differ, and only the
      // block itself is compared once more.
      {"one block at the end", k2M, {k2M - 256}, 1, true, 14},
      {"two blocks", k256K, {0x2300, 0x3AA00}, 2, true, 31},
      {"two neighbours", k256K, {0x2300, 0x2400}, 2, true, 22},
      {"twenty blocks", k2M, EveryNth(20, 0x19900, 0x1200), 16, false, 245},
      {"every block", k256K, EveryNth(1024, 256, 0), 16, false, 36},
      {"none, when the part no longer differs", k256K, {}, 0, true, 11},
  };
  for (const SearchCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakePart part;
    part.differing.insert(c.differing.begin(), c.differing.end());
    const FailingBlocks found = Locate(part, c.size);
    const std::vector<uint32_t> expected(c.differing.begin(), c.differing.begin() + c.reported);
    EXPECT_EQ(found.blocks, expected);
    EXPECT_EQ(found.complete, c.complete);
    EXPECT_EQ(found.failure, 0);
    EXPECT_EQ(found.comparisons, c.comparisons);
    EXPECT_EQ(part.asked.size(), static_cast<size_t>(c.comparisons));
    // Every block named was compared on its own, and no range was compared twice.
    for (uint32_t block : found.blocks) {
      EXPECT_NE(std::find(part.asked.begin(), part.asked.end(), std::make_pair(block, 256u)),
                part.asked.end());
    }
    std::set<std::pair<uint32_t, uint32_t>> distinct(part.asked.begin(), part.asked.end());
    EXPECT_EQ(distinct.size(), part.asked.size());
    for (const auto& [start, length] : part.asked) {
      EXPECT_EQ(start % 256, 0u);
      EXPECT_EQ(length % 256, 0u);
      EXPECT_LE(start + length, c.size);
    }
  }
}

TEST(LocateFailingBlocks, AFailedComparisonEndsTheSearch) {
  FakePart part;
  part.differing = {0x2300, 0x30000};
  part.failAt = 5;
  const FailingBlocks found = Locate(part, k256K);
  EXPECT_EQ(found.failure, -20);
  EXPECT_FALSE(found.complete);
  EXPECT_EQ(found.comparisons, 5);
  EXPECT_EQ(part.asked.size(), 5u);
  EXPECT_TRUE(found.blocks.empty());
}

TEST(BlockRange, NamesBothEndsOfTheBlock) {
  EXPECT_EQ(BlockRange(0x2300), "0x002300-0x0023FF");
  EXPECT_EQ(BlockRange(0), "0x000000-0x0000FF");
  EXPECT_EQ(BlockRange(k2M - 256), "0x1FFF00-0x1FFFFF");
}

}  // namespace
}  // namespace qs71prog
