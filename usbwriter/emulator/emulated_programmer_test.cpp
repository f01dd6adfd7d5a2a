#include "emulated_programmer.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <utility>

namespace qs71::emu {
namespace {

using Request = std::array<uint8_t, 64>;
using Reply = std::array<uint8_t, 64>;

Request Make(uint8_t command, std::initializer_list<std::pair<int, uint8_t>> fields = {}) {
  Request request;
  request.fill(0xFF);
  request[0] = command;
  for (const auto& [offset, value] : fields) request[offset] = value;
  return request;
}

Request Data(uint8_t command, bool last, uint8_t fill) {
  Request request = Make(command, {{8, last ? 0x00 : 0xFF}, {12, 0x01}});
  for (int i = 32; i < 64; ++i) request[i] = fill;
  return request;
}

class ProgrammerTest : public ::testing::Test {
 protected:
  // Returns the reply's status byte, or -1 when the command is not answered.
  int Send(const Request& request) {
    reply.fill(0xAA);
    return programmer.Handle(request.data(), reply.data()) ? reply[1] : -1;
  }
  void StartTest() { ASSERT_EQ(Send(Make(0x70, {{4, 0x55}, {5, 0x01}})), 0x02); }

  OtpChip chip{ChipId{0x6D, 0x61, 0x02, 0x00}, 0x40000};
  EmulatedProgrammer programmer{chip};
  Reply reply{};
};

constexpr int kRefused = EmulatedProgrammer::kRefused;

TEST_F(ProgrammerTest, NothingButTheTestStartIsTakenBeforeIt) {
  for (uint8_t command : {0x72, 0x73, 0x75, 0x76, 0x78, 0x79, 0x7B, 0x7C, 0x55}) {
    EXPECT_EQ(Send(Make(command)), kRefused) << std::hex << int{command};
    EXPECT_EQ(reply[0], command);
  }
  EXPECT_EQ(Send(Make(0x77, {{8, 0x00}})), kRefused);
  EXPECT_EQ(Send(Data(0x74, true, 0x00)), -1);
  EXPECT_EQ(chip.Read(0), 0xFF) << "no programming outside a write";
  StartTest();
  EXPECT_EQ(Send(Make(0x72)), 0x02);
  EXPECT_EQ(reply[12], 0x6D);
  EXPECT_EQ(reply[13], 0x61);
  EXPECT_EQ(reply[14], 0x02);
  EXPECT_EQ(reply[15], 0x00);
}

TEST_F(ProgrammerTest, StatusBytesOfAGoodSequence) {
  StartTest();
  EXPECT_EQ(reply[4] | reply[5] << 8, 341);
  EXPECT_EQ(Send(Make(0x73, {{8, 0xA0}, {9, 0x02}, {16, 0x00}, {17, 0x00}, {18, 0x00}})), 0x03);
  EXPECT_EQ(reply[8] | reply[9] << 8, 672);
  EXPECT_EQ(Send(Data(0x74, false, 0x0F)), -1);
  EXPECT_EQ(Send(Data(0x74, true, 0xF0)), -1);
  EXPECT_EQ(Send(Make(0x75)), 0x02);
  EXPECT_EQ(chip.Read(0), 0x0F);
  EXPECT_EQ(chip.Read(32), 0xF0);
  EXPECT_EQ(chip.Read(64), 0xFF);
  EXPECT_EQ(Send(Make(0x76, {{16, 0x00}, {17, 0x00}, {18, 0x00}})), 0x04);
  EXPECT_EQ(Send(Make(0x77, {{8, 0x00}})), 0x0F) << "array data, not a status";
  EXPECT_EQ(reply[32], 0xF0);
  EXPECT_EQ(Send(Make(0x78)), 0x02);
  EXPECT_EQ(Send(Make(0x79, {{16, 0x00}, {17, 0x00}, {18, 0x00}})), 0x05);
  EXPECT_EQ(Send(Data(0x7A, false, 0x0F)), -1);
  EXPECT_EQ(Send(Data(0x7A, true, 0xF0)), -1);
  EXPECT_EQ(Send(Make(0x7B)), 0x02);
  EXPECT_EQ(reply[4], 0x01);
  EXPECT_EQ(Send(Make(0x7C, {{4, 1}, {5, 96}, {8, 0}, {9, 0}, {12, 0}})), 0x02);
  EXPECT_EQ(Send(Make(0x71)), 0x01);
}

TEST_F(ProgrammerTest, VerifyReportsAMismatchOnlyAtTheEnd) {
  StartTest();
  ASSERT_EQ(Send(Make(0x79, {{16, 0x00}, {17, 0x00}, {18, 0x00}})), 0x05);
  EXPECT_EQ(Send(Data(0x7A, false, 0xFF)), -1);
  EXPECT_EQ(Send(Data(0x7A, true, 0xFE)), -1);
  EXPECT_EQ(Send(Make(0x7B)), 0x02);
  EXPECT_EQ(reply[4], 0x00);
}

TEST_F(ProgrammerTest, OutOfOrderDataRefusesTheEnd) {
  const struct {
    const char* name;
    std::initializer_list<Request> before;
    Request end;
  } cases[] = {
      {"end without begin", {}, Make(0x75)},
      {"end before the last chunk",
       {Make(0x73, {{16, 0}, {17, 0}, {18, 0}}), Data(0x74, false, 0)}, Make(0x75)},
      {"data after the last chunk",
       {Make(0x73, {{16, 0}, {17, 0}, {18, 0}}), Data(0x74, true, 0), Data(0x74, true, 0)},
       Make(0x75)},
      {"verify data in a write",
       {Make(0x73, {{16, 0}, {17, 0}, {18, 0}}), Data(0x7A, true, 0)}, Make(0x75)},
      {"write data in a verify",
       {Make(0x79, {{16, 0}, {17, 0}, {18, 0}}), Data(0x74, true, 0)}, Make(0x7B)},
      {"the wrong end", {Make(0x76, {{16, 0}, {17, 0}, {18, 0}}), Make(0x77, {{8, 0}})},
       Make(0x75)},
      {"write past the part",
       {Make(0x73, {{16, 0xF0}, {17, 0xFF}, {18, 0x03}}), Data(0x74, true, 0)}, Make(0x75)},
  };
  for (const auto& c : cases) {
    EmulatedProgrammer fresh(chip);
    Reply out;
    Request start = Make(0x70);
    fresh.Handle(start.data(), out.data());
    for (const Request& request : c.before) fresh.Handle(request.data(), out.data());
    ASSERT_TRUE(fresh.Handle(c.end.data(), out.data())) << c.name;
    EXPECT_EQ(out[1], kRefused) << c.name;
  }
}

TEST_F(ProgrammerTest, BeginInsideARangeIsRefused) {
  StartTest();
  ASSERT_EQ(Send(Make(0x76, {{16, 0}, {17, 0}, {18, 0}})), 0x04);
  EXPECT_EQ(Send(Make(0x79, {{16, 0}, {17, 0}, {18, 0}})), kRefused);
  EXPECT_EQ(Send(Make(0x73, {{16, 0}, {17, 0}, {18, 0}})), kRefused);
}

TEST_F(ProgrammerTest, StopIsTakenInAnyState) {
  EXPECT_EQ(Send(Make(0x71)), 0x01);
  StartTest();
  ASSERT_EQ(Send(Make(0x73, {{16, 0}, {17, 0}, {18, 0}})), 0x03);
  EXPECT_EQ(Send(Make(0x71)), 0x01);
  EXPECT_EQ(Send(Make(0x72)), kRefused);
}

TEST_F(ProgrammerTest, ReadsWrapAtTheTopOfTheAddressSpace) {
  chip.Preset(0x40000 - 1, 0x77);
  chip.Preset(0, 0x11);
  StartTest();
  ASSERT_EQ(Send(Make(0x76, {{16, 0xC0}, {17, 0xFF}, {18, 0xFF}})), 0x04);
  Send(Make(0x77, {{8, 0xFF}}));
  EXPECT_EQ(reply[63], 0x77);
  Send(Make(0x77, {{8, 0x00}}));
  EXPECT_EQ(reply[0], 0x11);
  EXPECT_EQ(Send(Make(0x78)), 0x02);
}

TEST_F(ProgrammerTest, ControlKeepsTheWordList) {
  StartTest();
  Request request = Make(0x7C, {{4, 0}, {5, 0}, {8, 0}, {9, 0}, {12, 2}});
  request[16] = 0x34;
  request[17] = 0x12;
  request[18] = 0x02;
  request[19] = 0x00;
  EXPECT_EQ(Send(request), 0x02);
  EXPECT_EQ(programmer.WordList(), (std::vector<uint16_t>{0x1234, 0x0002}));
}

}  // namespace
}  // namespace qs71::emu
