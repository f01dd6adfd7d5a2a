// The command layer against the emulated programmer: request layouts byte for byte, the echo
// and status checks with their codes, and what is copied out of a reply when.
#include "usb_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "emulator_settings.h"
#include "emulator_test_fixture.h"
#include "qs71_usb_writer.h"
#include "session_record.h"

namespace {

using qs71::emu::Control;
using qs71::emu::LastSession;

using Send = std::function<bool(QS71_USB_Writer&)>;
using Fields = std::vector<std::pair<int, uint8_t>>;

std::array<uint8_t, 32> Chunk() {
  std::array<uint8_t, 32> data;
  for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(0xC0 + i);
  return data;
}

struct LayoutCase {
  const char* name;
  uint8_t command;
  Fields fields;
  bool carriesData;
};

class UsbWriterTest : public EmulatedProgrammerTest {
 protected:

  static bool Start(QS71_USB_Writer& writer) {
    double vdd = 0;
    double vpp = 0;
    return writer.OtpTestStart(3.3, &vdd, &vpp);
  }

  // Every method of the command layer with the request it must build. The out-arguments are
  // members, so that a test can see whether a call wrote them.
  std::vector<std::pair<LayoutCase, Send>> AllCommands() {
    return {
        {{"OtpTestStart", 0x70, {{4, 0x55}, {5, 0x01}}, false},
         [&](auto& w) { return w.OtpTestStart(3.3, &vdd, &vpp); }},
        {{"OtpTestStop", 0x71, {}, false}, [&](auto& w) { return w.OtpTestStop(); }},
        {{"GetOtpId", 0x72, {}, false},
         [&](auto& w) { return w.GetOtpId(&id8[0], &id8[1], &id8[2], &id8[3]); }},
        {{"WriteBegin", 0x73, {{8, 0xA0}, {9, 0x02}, {16, 0x56}, {17, 0x34}, {18, 0x12}}, false},
         [&](auto& w) { return w.WriteBegin(0x123456, 6.5, &vpp); }},
        {{"WriteData more", 0x74, {{8, 0xFF}, {12, 0x01}}, true},
         [&](auto& w) { return w.WriteData(data.data(), 1, true); }},
        {{"WriteData last", 0x74, {{8, 0x00}, {12, 0x07}}, true},
         [&](auto& w) { return w.WriteData(data.data(), 7, false); }},
        {{"WriteEnd", 0x75, {}, false}, [&](auto& w) { return w.WriteEnd(); }},
        {{"ReadBegin", 0x76, {{16, 0x00}, {17, 0xFE}, {18, 0xFF}}, false},
         [&](auto& w) { return w.ReadBegin(0xFFFE00); }},
        {{"ReadData more", 0x77, {{8, 0xFF}}, false},
         [&](auto& w) { return w.ReadData(dst, true); }},
        {{"ReadData last", 0x77, {{8, 0x00}}, false},
         [&](auto& w) { return w.ReadData(dst, false); }},
        {{"ReadEnd", 0x78, {}, false}, [&](auto& w) { return w.ReadEnd(); }},
        {{"VerifyBegin", 0x79, {{16, 0x00}, {17, 0x01}, {18, 0x00}}, false},
         [&](auto& w) { return w.VerifyBegin(0x000100); }},
        {{"VerifyData more", 0x7A, {{8, 0xFF}}, true},
         [&](auto& w) { return w.VerifyData(data.data(), true); }},
        {{"VerifyData last", 0x7A, {{8, 0x00}}, true},
         [&](auto& w) { return w.VerifyData(data.data(), false); }},
        {{"VerifyEnd", 0x7B, {}, false}, [&](auto& w) { return w.VerifyEnd(&match); }},
        {{"AdjustVdd", 0x7C, {{4, 1}, {5, 96}, {8, 0}, {9, 0}, {12, 0}}, false},
         [&](auto& w) { return w.AdjustVdd(5.0, &vdd, &vpp); }},
        {{"SetVddMode2", 0x7C, {{4, 2}, {5, 0x33}, {8, 0}, {9, 0}, {12, 0}}, false},
         [&](auto& w) { return w.SetVddMode2(0x33, &vdd, &vpp); }},
        {{"SetVddMode3", 0x7C, {{4, 3}, {5, 0x44}, {8, 0}, {9, 0}, {12, 0}}, false},
         [&](auto& w) { return w.SetVddMode3(0x44, &vdd, &vpp); }},
        {{"AdjustVpp", 0x7C, {{4, 0}, {5, 0}, {8, 1}, {9, 98}, {12, 0}}, false},
         [&](auto& w) { return w.AdjustVpp(5.5, &vdd, &vpp); }},
        {{"SetVppMode2", 0x7C, {{4, 0}, {5, 0}, {8, 2}, {9, 0x55}, {12, 0}}, false},
         [&](auto& w) { return w.SetVppMode2(0x55, &vdd, &vpp); }},
        {{"SetVppMode3", 0x7C, {{4, 0}, {5, 0}, {8, 3}, {9, 0x66}, {12, 0}}, false},
         [&](auto& w) { return w.SetVppMode3(0x66, &vdd, &vpp); }},
        {{"SendWordList", 0x7C,
          {{4, 0}, {5, 0}, {8, 0}, {9, 0}, {12, 7}, {16, 0x22}, {17, 0x11}, {18, 0x44},
           {19, 0x33}, {20, 0x66}, {21, 0x55}, {22, 0x88}, {23, 0x77}, {24, 0xAA}, {25, 0x99},
           {26, 0xCC}, {27, 0xBB}, {28, 0xEE}, {29, 0xDD}},
          false},
         [&](auto& w) { return w.SendWordList(words); }},
        {{"Command01", 0x01, {}, false}, [&](auto& w) { return w.Command01(info); }},
        {{"Command31", 0x31, {}, false}, [&](auto& w) { return w.Command31(); }},
        {{"Command41", 0x41, {{4, 0xD9}, {5, 0x04}}, false},
         [&](auto& w) { return w.Command41(12.0, readings, id); }},
        {{"Command42", 0x42,
          {{4, 0x55}, {5, 0x01}, {8, 0xD9}, {9, 0x04}, {12, 0x5C}, {16, 0xEF}, {17, 0xCD},
           {18, 0xAB}},
          false},
         [&](auto& w) { return w.Command42(3.3, 12.0, readings, 0xABCDEF, 0x5C); }},
        {{"Command43 flag", 0x43, {{4, 0x11}, {8, 0x00}, {12, 0x01}}, true},
         [&](auto& w) { return w.Command43(true, data.data(), 0x11); }},
        {{"Command43", 0x43, {{4, 0x12}, {8, 0xFF}, {12, 0x01}}, true},
         [&](auto& w) { return w.Command43(false, data.data(), 0x12); }},
        {{"Command44", 0x44, {}, false}, [&](auto& w) { return w.Command44(); }},
        {{"Command45", 0x45, {{4, 0xA0}, {5, 0x02}, {8, 0x22}}, false},
         [&](auto& w) { return w.Command45(6.5, readings, &byte17, &word12, 0x22); }},
        {{"Command46 flag", 0x46, {{4, 0x33}, {8, 0x00}}, false},
         [&](auto& w) { return w.Command46(true, dst, 0x33); }},
        {{"Command46", 0x46, {{4, 0x34}, {8, 0xFF}}, false},
         [&](auto& w) { return w.Command46(false, dst, 0x34); }},
        {{"Command47", 0x47, {}, false}, [&](auto& w) { return w.Command47(); }},
        {{"Command60", 0x60, {}, false}, [&](auto& w) { return w.Command60(); }},
        {{"Command62", 0x62, {}, false}, [&](auto& w) { return w.Command62(); }},
        {{"Command64", 0x64, {}, false}, [&](auto& w) { return w.Command64(); }},
        {{"Command66", 0x66, {{4, 0x45}, {5, 0x23}, {6, 0x01}, {7, 0x00}}, false},
         [&](auto& w) { return w.Command66(0x012345); }},
        {{"Command68", 0x68, {{4, 0x45}, {5, 0x23}, {6, 0x01}, {7, 0x00}}, true},
         [&](auto& w) { return w.Command68(0x012345, data.data()); }},
        {{"Command6A", 0x6A, {{4, 0x00}, {5, 0xFE}, {6, 0xFF}, {7, 0x00}}, false},
         [&](auto& w) { return w.Command6A(0xFFFE00, dst); }},
    };
  }

  std::array<uint8_t, 32> data = Chunk();
  uint8_t dst[64] = {};
  uint8_t id8[4] = {};
  double vdd = 0;
  double vpp = 0;
  double readings[2] = {};
  int id[4] = {};
  int info[5] = {};
  int byte17 = 0;
  int word12 = 0;
  bool match = false;
  std::vector<uint16_t> words = {0x1122, 0x3344, 0x5566, 0x7788, 0x99AA, 0xBBCC, 0xDDEE};
};

TEST_F(UsbWriterTest, EveryRequestHasItsLayoutAndErasedBytesElsewhere) {
  QS71_USB_Writer writer;
  for (const auto& [layout, send] : AllCommands()) {
    std::array<uint8_t, 64> expected;
    expected.fill(0xFF);
    expected[0] = layout.command;
    for (const auto& [offset, value] : layout.fields) expected[offset] = value;
    if (layout.carriesData) std::copy(data.begin(), data.end(), expected.begin() + 32);
    send(writer);
    EXPECT_EQ(LastSession().lastRequest, expected) << layout.name;
  }
  EXPECT_TRUE(words.empty());
}

TEST_F(UsbWriterTest, UnopenedProgrammerFailsEveryCommandWithTransportError) {
  AddFaults("no-device");
  QS71_USB_Writer writer;
  EXPECT_EQ(writer.LastError(), -20);
  vdd = vpp = readings[0] = -7;
  id8[0] = dst[0] = 7;
  id[0] = info[0] = byte17 = word12 = -7;
  for (const auto& [layout, send] : AllCommands()) {
    EXPECT_FALSE(send(writer)) << layout.name;
    EXPECT_EQ(writer.LastError(), -20) << layout.name;
  }
  EXPECT_EQ(vdd, -7);
  EXPECT_EQ(vpp, -7);
  EXPECT_EQ(readings[0], -7);
  EXPECT_EQ(id8[0], 7);
  EXPECT_EQ(dst[0], 7);
  EXPECT_EQ(id[0], -7);
  EXPECT_EQ(info[0], -7);
  EXPECT_EQ(byte17, -7);
  EXPECT_EQ(word12, -7);
  EXPECT_FALSE(match);
  EXPECT_EQ(LastSession().totalRequests, 0u);
}

struct CheckCase {
  const char* faults;
  bool ok;
  int error;
};

// Each sequence leads the programmer to the command under test in a state where it answers
// properly, so that only the injected fault can make it fail.
struct Sequence {
  const char* name;
  Send run;
  std::vector<CheckCase> checks;
};

TEST_F(UsbWriterTest, RepliesAreCheckedEchoFirstThenStatus) {
  const Send start = [](auto& w) { return Start(w); };
  const std::vector<Sequence> sequences = {
      {"0x70", start,
       {{"wrong-echo:0x70", false, -30}, {"wrong-status:0x70", false, -59},
        {"wrong-echo:0x70,wrong-status:0x70", false, -30}}},
      {"0x71", [&](auto& w) { return Start(w) && w.OtpTestStop(); },
       {{"wrong-echo:0x71", false, -30}, {"wrong-status:0x71", false, -59},
        {"reply-byte:0x71:1:0x02", false, -59}}},
      {"0x72", [&](auto& w) { uint8_t b[4]; return Start(w) && w.GetOtpId(b, b + 1, b + 2, b + 3); },
       {{"wrong-echo:0x72", false, -30}, {"wrong-status:0x72", false, -59}}},
      {"0x73", [&](auto& w) { return Start(w) && w.WriteBegin(0, 6.5, &vpp); },
       {{"wrong-echo:0x73", false, -30}, {"reply-byte:0x73:1:0x02", false, -59}}},
      {"0x74/0x75",
       [&](auto& w) {
         return Start(w) && w.WriteBegin(0, 6.5, &vpp) && w.WriteData(data.data(), 1, false) &&
                w.WriteEnd();
       },
       {{"wrong-echo:0x75", false, -30}, {"wrong-status:0x75", false, -59},
        {"write-fails:0x74", false, -20}}},
      {"0x76..0x78",
       [&](auto& w) {
         return Start(w) && w.ReadBegin(0) && w.ReadData(dst, false) && w.ReadEnd();
       },
       {{"wrong-echo:0x76", false, -30}, {"reply-byte:0x76:1:0x05", false, -59},
        {"wrong-echo:0x77,wrong-status:0x77", true, 0}, {"wrong-echo:0x78", false, -30},
        {"wrong-status:0x78", false, -59}, {"no-reply:0x77", false, -20}}},
      {"0x79..0x7B",
       [&](auto& w) {
         return Start(w) && w.VerifyBegin(0) && w.VerifyData(data.data(), false) &&
                w.VerifyEnd(&match);
       },
       {{"wrong-echo:0x79", false, -30}, {"reply-byte:0x79:1:0x04", false, -59},
        {"wrong-echo:0x7B", false, -30}, {"wrong-status:0x7B", false, -59},
        {"write-fails:0x7A", false, -20}}},
      {"0x7C", [&](auto& w) { return Start(w) && w.AdjustVdd(5.0, &vdd, &vpp); },
       {{"wrong-echo:0x7C", false, -30}, {"wrong-status:0x7C", false, -59},
        {"write-fails:0x7C", false, -20}, {"no-reply:0x7C", false, -20}}},
      {"0x01", [&](auto& w) { return w.Command01(info); },
       {{"wrong-echo:0x01", false, -30}, {"wrong-status:0x01", true, 0},
        {"reply-byte:0x01:4:0x5B", false, -31}, {"reply-byte:0x01:5:0xA4", false, -31},
        {"reply-byte:0x01:32:0x91", false, -31}, {"reply-byte:0x01:33:0x0E", false, -31},
        {"wrong-echo:0x01,reply-byte:0x01:4:0", false, -30}}},
      {"0x31", [&](auto& w) { return w.Command31(); },
       {{"wrong-echo:0x31", false, -30}, {"wrong-status:0x31", true, 0}}},
      {"0x41", [&](auto& w) { return w.Command41(3.3, readings, id); },
       {{"wrong-echo:0x41", false, -30}, {"wrong-status:0x41", false, -59}}},
      {"0x42", [&](auto& w) { return w.Command42(3.3, 3.3, readings, 0, 0); },
       {{"wrong-echo:0x42", false, -30}, {"wrong-status:0x42", false, -59}}},
      {"0x43", [&](auto& w) { return w.Command43(true, data.data(), 0); },
       {{"wrong-echo:0x43", true, 0}, {"write-fails:0x43", false, -20}}},
      {"0x44", [&](auto& w) { return w.Command44(); },
       {{"wrong-echo:0x44", false, -30}, {"wrong-status:0x44", false, -59}}},
      {"0x45", [&](auto& w) { return w.Command45(3.3, readings, &byte17, &word12, 0); },
       {{"wrong-echo:0x45", false, -30}, {"reply-byte:0x45:1:0x20", false, -59}}},
      {"0x46", [&](auto& w) { return w.Command46(true, dst, 0); },
       {{"wrong-echo:0x46,wrong-status:0x46", true, 0}, {"no-reply:0x46", false, -20}}},
      {"0x47", [&](auto& w) { return w.Command47(); },
       {{"wrong-echo:0x47", false, -30}, {"wrong-status:0x47", false, -59}}},
      {"0x60", [&](auto& w) { return w.Command60(); },
       {{"wrong-echo:0x60", false, -10}, {"wrong-status:0x60", true, 0}}},
      {"0x62", [&](auto& w) { return w.Command62(); },
       {{"wrong-echo:0x62", false, -11}, {"wrong-status:0x62", true, 0}}},
      {"0x64", [&](auto& w) { return w.Command64(); },
       {{"wrong-echo:0x64", false, -12}, {"wrong-status:0x64", true, 0}}},
      {"0x66", [&](auto& w) { return w.Command66(0x100); },
       {{"wrong-echo:0x66", false, -13}, {"wrong-status:0x66", true, 0}}},
      {"0x68", [&](auto& w) { return w.Command68(0x100, data.data()); },
       {{"wrong-echo:0x68", false, -14}, {"write-fails:0x68", false, -20}}},
      {"0x6A", [&](auto& w) { return w.Command6A(0, dst); },
       {{"wrong-echo:0x6A,wrong-status:0x6A", true, 0}, {"no-reply:0x6A", false, -20}}},
  };
  for (const Sequence& sequence : sequences) {
    Control().Reset();
    {
      QS71_USB_Writer writer;
      EXPECT_TRUE(sequence.run(writer)) << sequence.name << " without a fault";
      EXPECT_EQ(writer.LastError(), 0) << sequence.name;
    }
    for (const CheckCase& check : sequence.checks) {
      Control().Reset();
      AddFaults(check.faults);
      QS71_USB_Writer writer;
      EXPECT_EQ(sequence.run(writer), check.ok) << sequence.name << " with " << check.faults;
      EXPECT_EQ(writer.LastError(), check.error) << sequence.name << " with " << check.faults;
    }
  }
}

TEST_F(UsbWriterTest, ReplyValuesAreStoredBeforeTheChecks) {
  AddFaults("reply-byte:0x70:1:0x03,wrong-status:0x72,wrong-echo:0x7B");
  QS71_USB_Writer writer;
  double vddOut = -1;
  double vppOut = -1;
  EXPECT_FALSE(writer.OtpTestStart(3.3, &vddOut, &vppOut));
  EXPECT_EQ(writer.LastError(), -59);
  EXPECT_NEAR(vddOut, 3.3018, 1e-4);  // the programmer echoes code 341 as its reading
  EXPECT_NEAR(vppOut, 3.3018, 1e-4);
  uint8_t id[4] = {0, 0, 0, 0};
  EXPECT_FALSE(writer.GetOtpId(&id[0], &id[1], &id[2], &id[3]));
  EXPECT_EQ(writer.LastError(), -59);
  EXPECT_EQ(id[0], 0x6D);
  EXPECT_EQ(id[2], 0x02);
  bool matched = false;
  ASSERT_TRUE(writer.VerifyBegin(0));
  ASSERT_TRUE(writer.VerifyData(std::vector<uint8_t>(32, 0xFF).data(), false));
  EXPECT_FALSE(writer.VerifyEnd(&matched));
  EXPECT_EQ(writer.LastError(), -30);
  EXPECT_TRUE(matched);
}

TEST_F(UsbWriterTest, TransportFailureLeavesOutArgumentsUntouched) {
  AddFaults("no-reply:0x70,no-reply:0x72");
  QS71_USB_Writer writer;
  double vddOut = -1;
  double vppOut = -2;
  EXPECT_FALSE(writer.OtpTestStart(3.3, &vddOut, &vppOut));
  EXPECT_EQ(writer.LastError(), -20);
  EXPECT_EQ(vddOut, -1);
  EXPECT_EQ(vppOut, -2);
  uint8_t id[4] = {9, 9, 9, 9};
  EXPECT_FALSE(writer.GetOtpId(&id[0], &id[1], &id[2], &id[3]));
  EXPECT_EQ(id[0], 9);
  EXPECT_EQ(id[3], 9);
}

TEST_F(UsbWriterTest, WordListsTakeTwentyFourWordsAndCountUpToFortyEight) {
  const struct {
    size_t length;
    uint8_t countByte;
    size_t left;
  } cases[] = {{7, 7, 0}, {24, 24, 0}, {30, 30, 6}, {50, 48, 26}, {0, 0, 0}};
  for (const auto& c : cases) {
    QS71_USB_Writer writer;
    ASSERT_TRUE(Start(writer));
    std::vector<uint16_t> words(c.length);
    for (size_t i = 0; i < c.length; ++i) words[i] = static_cast<uint16_t>(0x0100 + i);
    EXPECT_TRUE(writer.SendWordList(words));
    const auto& request = LastSession().lastRequest;
    EXPECT_EQ(request[12], c.countByte) << c.length;
    for (size_t slot = 0; slot < 24; ++slot) {
      const uint16_t expected = slot < c.length ? static_cast<uint16_t>(0x0100 + slot) : 0xFFFF;
      EXPECT_EQ(request[16 + 2 * slot] | request[17 + 2 * slot] << 8, expected)
          << c.length << " words, slot " << slot;
    }
    ASSERT_EQ(words.size(), c.left);
    if (c.left > 0) {
      EXPECT_EQ(words.front(), 0x0100 + 24);
    }
  }
}

TEST_F(UsbWriterTest, EngineeringRepliesAreDecodedFromTheirOffsets) {
  AddFaults(
      "reply-byte:0x01:34:0x12,reply-byte:0x01:35:0x34,reply-byte:0x01:16:0xAB,"
      "reply-byte:0x01:17:0xCD,reply-byte:0x01:36:0xEF,reply-byte:0x01:37:0x98,"
      "reply-byte:0x45:12:0x34,reply-byte:0x45:13:0x12,reply-byte:0x45:17:0x56,"
      "reply-byte:0x41:4:0xFF,reply-byte:0x41:5:0x03,reply-byte:0x41:8:0x55,"
      "reply-byte:0x41:9:0x01");
  QS71_USB_Writer writer;
  int info[5] = {};
  ASSERT_TRUE(writer.Command01(info));
  EXPECT_EQ(info[0], 0x1234);
  EXPECT_EQ(info[1], 0xAB);
  EXPECT_EQ(info[2], 0xCD);
  EXPECT_EQ(info[3], 0xEF);
  EXPECT_EQ(info[4], 0x98);
  double readings[2] = {};
  int byte17 = 0;
  int word12 = 0;
  ASSERT_TRUE(writer.Command45(3.3, readings, &byte17, &word12, 0));
  EXPECT_EQ(word12, 0x1234);
  EXPECT_EQ(byte17, 0x56);
  int id[4] = {};
  ASSERT_TRUE(writer.Command41(3.3, readings, id));
  EXPECT_NEAR(readings[0], 9.8953, 1e-4);  // 0x03FF
  EXPECT_NEAR(readings[1], 3.3018, 1e-4);  // 0x0155
  EXPECT_EQ(id[0], 0x6D);
  EXPECT_EQ(id[1], 0x61);
  EXPECT_EQ(id[2], 0x02);
  EXPECT_EQ(id[3], 0x00);
}

TEST_F(UsbWriterTest, ReadDataTakesTheWholeReplyAsArrayData) {
  Control().presets = {{0, 0x12}, {1, 0x34}, {63, 0x56}};
  QS71_USB_Writer writer;
  ASSERT_TRUE(Start(writer));
  ASSERT_TRUE(writer.ReadBegin(0));
  ASSERT_TRUE(writer.ReadData(dst, false));
  EXPECT_EQ(dst[0], 0x12);  // where other replies have their echo
  EXPECT_EQ(dst[1], 0x34);
  EXPECT_EQ(dst[2], 0xFF);
  EXPECT_EQ(dst[63], 0x56);
}

}  // namespace
