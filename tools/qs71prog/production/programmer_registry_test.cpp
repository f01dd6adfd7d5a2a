#include "production/programmer_registry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qs71prog {
namespace {

ProgrammerIdentity Device(const char* path, const char* serial, const char* node) {
  ProgrammerIdentity device{};
  std::strncpy(device.info.path, path, sizeof device.info.path - 1);
  std::strncpy(device.info.serial, serial, sizeof device.info.serial - 1);
  std::strncpy(device.node, node, sizeof device.node - 1);
  return device;
}

std::string Named(const std::optional<ProgrammerIdentity>& device) {
  return device ? PathOf(*device) + " " + NodeOf(*device) : "none";
}

// Two loops on hidraw1 and hidraw2, then loop 1's programmer lost: what it may take back from
// the bus as it is listed now, and what is left for a newcomer.
TEST(ProgrammerRegistry, ALostLoopTakesBackOnlyWhatCannotBeMistaken) {
  const struct {
    const char* name;
    const char* serial2;  // of the second programmer; the first reports "A"
    std::vector<ProgrammerIdentity> listed;
    std::string back;        // what loop 1 takes back
    size_t newcomers;
  } cases[] = {
      {"back on the same node", "B",
       {Device("/dev/hidraw1", "A", "n1"), Device("/dev/hidraw2", "B", "n2")}, "/dev/hidraw1 n1", 0},
      {"back on another port", "B",
       {Device("/dev/hidraw2", "B", "n2"), Device("/dev/hidraw5", "A", "n5")}, "/dev/hidraw5 n5", 0},
      {"another programmer on its port", "B",
       {Device("/dev/hidraw1", "C", "n6"), Device("/dev/hidraw2", "B", "n2")}, "none", 1},
      {"its twin still runs: not taken for it", "A",
       {Device("/dev/hidraw2", "A", "n2")}, "none", 0},
      {"a twin comes back on another port", "A",
       {Device("/dev/hidraw2", "A", "n2"), Device("/dev/hidraw7", "A", "n7")}, "/dev/hidraw7 n7", 0},
      {"two unowned twins: by node only", "B",
       {Device("/dev/hidraw2", "B", "n2"), Device("/dev/hidraw7", "A", "n7"),
        Device("/dev/hidraw8", "A", "n8")}, "none", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgrammerRegistry registry;
    EXPECT_EQ(registry.Join(Device("/dev/hidraw1", "A", "n1")), 1);
    EXPECT_EQ(registry.Join(Device("/dev/hidraw2", c.serial2, "n2")), 2);
    registry.Lost(1);
    EXPECT_EQ(Named(registry.Candidate(1, c.listed)), c.back);
    EXPECT_EQ(registry.Newcomers(c.listed).size(), c.newcomers);
  }
}

// Two lost loops of one serial: neither takes a programmer of that serial on a new node for
// its own while it may be the other's; each takes back its own node.
TEST(ProgrammerRegistry, TwoLostTwinsTakeBackTheirOwnNodesOnly) {
  ProgrammerRegistry registry;
  registry.Join(Device("/dev/hidraw1", "X", "n1"));
  registry.Join(Device("/dev/hidraw2", "X", "n2"));
  registry.Lost(1);
  registry.Lost(2);
  const std::vector<ProgrammerIdentity> listed = {Device("/dev/hidraw3", "X", "n3"),
                                                  Device("/dev/hidraw2", "X", "n2")};
  EXPECT_EQ(Named(registry.Candidate(1, listed)), "none");
  EXPECT_EQ(Named(registry.Candidate(2, listed)), "/dev/hidraw2 n2");
  ASSERT_TRUE(registry.Claim(2, listed[1]));
  EXPECT_FALSE(registry.Claim(1, listed[1])) << "one programmer went to two loops";
  // With its twin back, loop 1 is the only one that looks for X, and n3 the only X free.
  EXPECT_EQ(Named(registry.Candidate(1, listed)), "/dev/hidraw3 n3");
  EXPECT_TRUE(registry.Newcomers(listed).empty());
}

// The screen tells a serial two programmers report once, and names them apart by port.
TEST(ProgrammerRegistry, ASharedSerialIsToldOnceAndNamedByPort) {
  ProgrammerRegistry registry;
  const std::vector<ProgrammerIdentity> listed = {Device("/dev/hidraw1", "X", "n1"),
                                                  Device("/dev/hidraw2", "X", "n2"),
                                                  Device("/dev/hidraw3", "Y", "n3")};
  EXPECT_EQ(registry.KeyFor(listed[0], listed), "X@/dev/hidraw1");
  EXPECT_EQ(registry.KeyFor(listed[2], listed), "Y");
  EXPECT_EQ(registry.KeyFor(Device("/dev/hidraw4", "", "n4"), listed), "/dev/hidraw4");
  EXPECT_EQ(registry.UntoldDuplicates(listed), std::vector<std::string>{"X"});
  EXPECT_TRUE(registry.UntoldDuplicates(listed).empty());
}

}  // namespace
}  // namespace qs71prog
