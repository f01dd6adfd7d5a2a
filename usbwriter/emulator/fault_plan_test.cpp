#include "fault_plan.h"

#include <gtest/gtest.h>

namespace qs71::emu {
namespace {

TEST(FaultPlan, ParsesEveryKindAndRefusesNonsense) {
  const struct {
    const char* text;
    bool valid;
    size_t count;
  } cases[] = {
      {"", true, 0},
      {"no-device", true, 1},
      {"write-open-fails,read-open-fails", true, 2},
      {"write-fails:0x74", true, 1},
      {"no-reply:0x7B:2", true, 1},
      {"wrong-echo:*:5", true, 1},
      {"wrong-status:0x70:*", true, 1},
      {"reply-byte:0x01:4:0x00", true, 1},
      {"reply-byte:0x01:63:255:3", true, 1},
      {"disconnect:100", true, 1},
      {"stuck:0x1234", true, 1},
      {"stuck:0x1234:0x0F", true, 1},
      {"no-device:1", false, 0},
      {"wrong-echo", false, 0},
      {"wrong-echo:0x100", false, 0},
      {"wrong-echo:x", false, 0},
      {"reply-byte:0x01:64:0", false, 0},
      {"reply-byte:0x01:4:256", false, 0},
      {"disconnect", false, 0},
      {"stuck:1:0x100", false, 0},
      {"melt", false, 0},
      {"no-device,melt", false, 0},
  };
  for (const auto& c : cases) {
    std::vector<Fault> faults;
    std::string error;
    EXPECT_EQ(ParseFaults(c.text, faults, error), c.valid) << c.text;
    EXPECT_EQ(faults.size(), c.count) << c.text;
    if (!c.valid) {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
}

std::vector<Fault> Parsed(const char* text) {
  std::vector<Fault> faults;
  std::string error;
  EXPECT_TRUE(ParseFaults(text, faults, error)) << error;
  return faults;
}

TEST(FaultPlan, HitsTheChosenOccurrenceOfACommand) {
  FaultPlan plan(Parsed("wrong-echo:0x77:3,no-reply:*:2,wrong-status:0x70:*"));
  RequestFaults hit = plan.OnRequest(0x77);  // request 1, first 0x77
  EXPECT_FALSE(hit.wrongEcho || hit.noReply || hit.wrongStatus);
  hit = plan.OnRequest(0x77);  // request 2
  EXPECT_TRUE(hit.noReply);
  EXPECT_FALSE(hit.wrongEcho);
  hit = plan.OnRequest(0x77);  // third 0x77
  EXPECT_TRUE(hit.wrongEcho);
  EXPECT_FALSE(hit.noReply);
  EXPECT_FALSE(plan.OnRequest(0x77).wrongEcho);
  EXPECT_TRUE(plan.OnRequest(0x70).wrongStatus);
  EXPECT_TRUE(plan.OnRequest(0x70).wrongStatus);
}

TEST(FaultPlan, RepliesAreEditedAsChosen) {
  FaultPlan plan(Parsed("wrong-echo:0x72,wrong-status:0x72,reply-byte:0x72:12:0x99"));
  uint8_t reply[64] = {0x72, 0x02};
  plan.OnRequest(0x72).ApplyTo(reply);
  EXPECT_EQ(reply[0], 0x8D);
  EXPECT_EQ(reply[1], 0xFD);
  EXPECT_EQ(reply[12], 0x99);
}

TEST(FaultPlan, DisconnectsAfterTheGivenNumberOfRequests) {
  FaultPlan plan(Parsed("disconnect:2"));
  EXPECT_FALSE(plan.Disconnected());
  plan.OnRequest(0x70);
  EXPECT_FALSE(plan.Disconnected());
  plan.OnRequest(0x72);
  EXPECT_TRUE(plan.Disconnected());
  EXPECT_TRUE(plan.Has(FaultKind::kDisconnect));
  EXPECT_FALSE(plan.Has(FaultKind::kNoDevice));
}

}  // namespace
}  // namespace qs71::emu
