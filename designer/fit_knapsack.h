#pragma once
// The multiple-choice knapsack under --fit's second goal: one item from every group, the highest
// sum of values whose bytes fit the room, solved exactly by dynamic programming over the bytes.
//
// The table has a cell for every unit of room, at most kKnapsackCells of them: a unit is one
// byte while the room is no larger, and otherwise the room divided by that many, rounded up.
// Each item's bytes are rounded up to whole units and the room down, so that any choice the table
// allows fits the room in bytes; it is the best of those choices. What rounding can cost is less
// than one unit an item: with 12 sounds on the room of a 2 MiB part, under 12 x 64 bytes.
//
// Among choices of the same sum the one of fewer units wins, then the one of earlier items, so
// that the same groups give the same choice on every machine.

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int64_t kKnapsackCells = int64_t{1} << 15;

struct KnapsackItem {
  int64_t bytes = 0;  // at least 0
  double value = 0;
};

struct KnapsackResult {
  bool fits = false;          // false: some group has no item within the room
  std::vector<size_t> chosen;  // an item per group
  int64_t unit = 1;           // bytes a cell of the table
};

KnapsackResult SolveKnapsack(const std::vector<std::vector<KnapsackItem>>& groups, int64_t room);
