// The transport over the emulated port: finding, opening and moving reports.
#include "usb_hid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "emulator_settings.h"
#include "session_record.h"

namespace {

using qs71::emu::Control;
using qs71::emu::LastSession;

class UsbHidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Control().Reset();
    LastSession().Reset();
  }
  void TearDown() override { Control().Reset(); }

  static void AddFaults(const char* text) {
    std::string error;
    ASSERT_TRUE(qs71::emu::ParseFaults(text, Control().faults, error)) << error;
  }

  static bool OpenProgrammer(UsbHid& hid) { return hid.Open("04D8", "FE08", "0101"); }

  // A request for the chip ID, whose reply is recognisable.
  static void PutIdRequest(uint8_t* request) {
    std::memset(request, 0xFF, 64);
    request[0] = 0x72;
  }

  static void StartTest(UsbHid& hid) {
    hid.ClearBuffers();
    hid.OutReport()[0] = 0x70;
    ASSERT_TRUE(hid.Transact());
  }
};

TEST_F(UsbHidTest, FreshObjectIsClosed) {
  UsbHid hid;
  EXPECT_FALSE(hid.Connected());
  EXPECT_FALSE(hid.OpenFailed());
  EXPECT_FALSE(hid.WriteReport());
  EXPECT_FALSE(hid.ReadReport());
}

TEST_F(UsbHidTest, OpenBuildsTheDeviceIdAndConnects) {
  UsbHid hid;
  ASSERT_TRUE(OpenProgrammer(hid));
  EXPECT_EQ(hid.DeviceId(), "Vid_04D8&Pid_FE08&rev_0101");
  EXPECT_TRUE(hid.Connected());
  EXPECT_FALSE(hid.OpenFailed());
}

TEST_F(UsbHidTest, NoProgrammerLeavesEveryTransferFailingWithoutTouchingTheDevice) {
  AddFaults("no-device");
  UsbHid hid;
  EXPECT_FALSE(OpenProgrammer(hid));
  EXPECT_FALSE(hid.Connected());
  EXPECT_FALSE(hid.OpenFailed());
  uint8_t buffer[64] = {};
  EXPECT_FALSE(hid.WriteReport());
  EXPECT_FALSE(hid.ReadReport());
  EXPECT_FALSE(hid.Transact());
  EXPECT_FALSE(hid.WriteReportFrom(buffer));
  EXPECT_FALSE(hid.ReadReportInto(buffer));
  EXPECT_EQ(LastSession().totalRequests, 0u);
}

TEST_F(UsbHidTest, EitherHandleFailingToOpenFailsTheOpen) {
  for (const char* fault : {"write-open-fails", "read-open-fails"}) {
    Control().Reset();
    AddFaults(fault);
    UsbHid hid;
    EXPECT_FALSE(OpenProgrammer(hid)) << fault;
    EXPECT_FALSE(hid.Connected()) << fault;
    EXPECT_TRUE(hid.OpenFailed()) << fault;
    EXPECT_FALSE(hid.Transact()) << fault;
    EXPECT_EQ(LastSession().totalRequests, 0u) << fault;
  }
}

TEST_F(UsbHidTest, HardwareIdMatchIgnoresCaseAndRequiresTheRelease) {
  const struct {
    const char* ids;
    bool found;
  } cases[] = {
      {"HID\\VID_04D8&PID_FE08&REV_0101", true},
      {"hid\\vid_04d8&pid_fe08&rev_0101", true},
      {"HID\\VID_04D8&PID_FE08&REV_0102", false},
      {"HID\\VID_04D8&PID_FE08|HID\\VID_04D8&PID_FE08&REV_0101", false},
  };
  for (const auto& c : cases) {
    Control().hardwareIds = c.ids;
    UsbHid hid;
    EXPECT_EQ(OpenProgrammer(hid), c.found) << c.ids;
    EXPECT_FALSE(hid.OpenFailed()) << c.ids;
  }
}

TEST_F(UsbHidTest, ClearBuffersFillsBothReportsWithErasedBytes) {
  UsbHid hid;
  std::memset(hid.OutReport(), 0x00, 64);
  hid.ClearBuffers();
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(hid.OutReport()[i], 0xFF);
    EXPECT_EQ(hid.InReport()[i], 0xFF);
  }
}

TEST_F(UsbHidTest, ReplyPayloadIsExactlySixtyFourBytesWithoutTheReportId) {
  UsbHid hid;
  ASSERT_TRUE(OpenProgrammer(hid));
  StartTest(hid);
  uint8_t request[64];
  PutIdRequest(request);
  ASSERT_TRUE(hid.WriteReportFrom(request));
  uint8_t reply[65];
  reply[64] = 0xC3;
  ASSERT_TRUE(hid.ReadReportInto(reply));
  EXPECT_EQ(reply[0], 0x72);  // the echo, not the report ID before it
  EXPECT_EQ(reply[1], 0x02);
  EXPECT_EQ(reply[12], 0x6D);
  EXPECT_EQ(reply[64], 0xC3);
  EXPECT_EQ(0, std::memcmp(LastSession().lastRequest.data(), request, 64));
}

TEST_F(UsbHidTest, TransactReadsEvenWhenTheWriteFailed) {
  AddFaults("write-fails:0x72:2");
  UsbHid hid;
  ASSERT_TRUE(OpenProgrammer(hid));
  StartTest(hid);
  uint8_t request[64];
  PutIdRequest(request);
  ASSERT_TRUE(hid.WriteReportFrom(request));  // its reply stays queued
  PutIdRequest(hid.OutReport());
  EXPECT_FALSE(hid.Transact());               // the write fails, the read takes that reply
  EXPECT_EQ(LastSession().replies, 2u);
  EXPECT_EQ(hid.InReport()[0], 0x72);
  EXPECT_FALSE(hid.ReadReport());             // nothing left
}

TEST_F(UsbHidTest, ReplyThatNeverComesFailsTheRead) {
  AddFaults("no-reply:0x70");
  UsbHid hid;
  ASSERT_TRUE(OpenProgrammer(hid));
  hid.ClearBuffers();
  hid.OutReport()[0] = 0x70;
  EXPECT_FALSE(hid.Transact());
  EXPECT_EQ(LastSession().totalRequests, 1u);
  EXPECT_EQ(LastSession().replies, 0u);
}

}  // namespace
