// The OTP operations of a programming job: test mode, identification, supply voltage, blank
// check, write, verify and read-back.
#include "qs71_application.h"

#include <algorithm>

#include "chip_identity.h"
#include "qs71_usb_writer.h"
#include "system_area.h"
#include "text_format.h"  // Format
#include "usb_writer.h"


namespace {

// Test mode always comes up at 3.3 V; the firmware takes the set point as a float.
constexpr float kTestModeVdd = 3.3f;

// Bytes copied from the chip into the blank pattern: a blank part already carries its tag
// and its marker.
constexpr uint32_t kBlankKeeps[] = {qs71::kMarkerDistance, qs71::kTagDistanceLow,
                                    qs71::kTagDistanceHigh};

// A read-back starts 64 bytes below the wrap of the 24-bit address space; the first report
// is dropped and the rest is the array from address 0.
constexpr uint32_t kReadBackStart = 0xFFFFC0;
constexpr uint32_t kReadBackLead = 64;

}  // namespace

int Qs71Application::StartOtpTest() {
  double vdd = 0.0;
  double vpp = 0.0;
  if (writer->OtpTestStart(kTestModeVdd, &vdd, &vpp)) {
    Inform(Format("OTP test started @ VDD=%.2fV, VPP=%.2fV.\n", vdd, vpp));
  } else {
    Print(Format("Failed to start OTP test!! (%d)\n", writer->LastError()));
  }
  return writer->LastError();
}

int Qs71Application::StopOtpTest() {
  if (writer->OtpTestStop()) {
    Inform("The OTP test stopped.\n");
  } else {
    Print(Format("Failed to stop OTP test!! (%d)\n", writer->LastError()));
  }
  return writer->LastError();
}

int Qs71Application::Identify() {
  const bool read = writer->GetOtpId(&otpId[0], &otpId[1], &otpId[2], &otpId[3]);
  // A reply that came back carries the chip's bytes, whatever its status byte said.
  if (writer->LastError() != QS71_E_TRANSPORT) std::copy(otpId, otpId + 4, trace.chipId);
  if (!read) {
    Print(Format("Failed to get OTP ID 0x%02X, 0x%02X, 0x%02X, 0x%02X!! (%d)\n", otpId[0],
                 otpId[1], otpId[2], otpId[3], writer->LastError()));
    return writer->LastError();
  }
  if (otpId[0] != qs71::kOtpIdByte0 || otpId[1] != qs71::kOtpIdByte1) {
    Print(Format("[ERROR] Invalid OTP ID! (0x%02X,0x%02X,0x%02X,0x%02X)\n", otpId[0], otpId[1],
                 otpId[2], otpId[3]));
    return QS71_E_OTP_ID;
  }
  otpSize = qs71::OtpSizeForCode(otpId[2]);
  if (otpSize == 0) {
    Print(Format("[ERROR] Undefined OTP size! (0x%02X,0x%02X,0x%02X,0x%02X)\n", otpId[0],
                 otpId[1], otpId[2], otpId[3]));
    return QS71_E_SIZE_CODE;
  }
  std::vector<uint8_t> block;
  const int result = ReadSystemArea(block);
  if (result != 0) return result;
  Inform(Format("OTP ID: 0x%02X, 0x%02X, 0x%02X, 0x%02X.\nOTP size: %d bytes.\n", otpId[0],
                otpId[1], otpId[2], otpId[3], static_cast<int>(otpSize)));
  return 0;
}

// Reads the system area and refuses a part whose factory values are not those of a good one.
int Qs71Application::ReadSystemArea(std::vector<uint8_t>& block) {
  const int result = ReadRange(qs71::kSystemAreaAddress, qs71::kSystemAreaSize, block);
  if (result != 0) return result;
  if (CheckSystemArea(block)) return 0;
  Print("[ERROR] Invalid system area!\n");
  return QS71_E_SYSTEM_AREA;
}

void Qs71Application::AdjustOtpVdd(double volts) {
  double vdd = 0.0;
  double vpp = 0.0;
  if (writer->AdjustVdd(volts, &vdd, &vpp)) {
    Inform(Format("VDD adjusted @ VDD=%.2fV, VPP=%.2fV.\n", vdd, vpp));
  } else {
    // The supply stays where test mode put it; the operation still runs, and its own checks
    // tell whether the part was readable there.
    Print(Format("[ERROR] Failed to adjust OTP VDD!! (%d)\n", writer->LastError()));
  }
}

int Qs71Application::BlankCheck() {
  std::vector<uint8_t> expected(otpSize, 0xFF);
  AdjustOtpVdd(blankCheckVdd);
  bool match = true;
  int result = VerifyRange(0, otpSize - qs71::kSystemAreaSize, expected, match);
  if (result != 0) return result;
  if (!match) {
    Print("[ERROR] OTP NOT blank!\n");
    return QS71_E_NOT_BLANK;
  }
  std::vector<uint8_t> block;
  result = ReadSystemArea(block);
  if (result != 0) return result;
  MaskSystemArea(block);
  if (block != ExpectedSystemArea(expected, true, block)) {
    Print("[ERROR] OTP NOT blank!\n");
    return QS71_E_MISMATCH;
  }
  Print("OTP blank check complete.\n");
  return 0;
}

// For a blank part: erased cells, except the tag and the marker that a blank part already
// carries. For an image: the masked places hold the chip's factory trims and its marker,
// which the image does not decide, so they are left out of the comparison on both sides.
// Comparing the image's own bytes there would fail every image whose marker byte is 0xFF (all
// images without a configuration block) on a chip that holds exactly what the write could
// program.
std::vector<uint8_t> Qs71Application::ExpectedSystemArea(
    const std::vector<uint8_t>& content, bool blank,
    const std::vector<uint8_t>& maskedBlock) const {
  std::vector<uint8_t> expected(content.end() - qs71::kSystemAreaSize, content.end());
  if (!blank) {
    MaskSystemArea(expected);
    return expected;
  }
  for (uint32_t distance : kBlankKeeps) {
    const uint32_t offset = qs71::SystemAreaOffset(distance);
    expected[offset] = maskedBlock[offset];
  }
  return expected;
}

int Qs71Application::WriteOtp() {
  std::vector<uint8_t> image;
  int result = ImportImage(image);
  if (result != 0) return result;
  AdjustOtpVdd(writeVdd);
  // Only the copy in memory changes: the file stays as it was, and a verify against it still
  // passes, because the mask reads any marker as 0x5A.
  if (clearMarker) image[otpSize - qs71::kMarkerDistance] = 0x00;
  result = WriteRange(0, otpSize, image);
  if (result == 0) Print("Write OTP complete.\n");
  return result;
}

// The programmer compares the main area itself; only the system area comes back to the
// host, where the per-part trims are masked before the comparison.
int Qs71Application::VerifyOtp() {
  std::vector<uint8_t> image;
  int result = ImportImage(image);
  if (result != 0) return result;
  AdjustOtpVdd(verifyVdd);
  bool match = true;
  result = VerifyRange(0, otpSize - qs71::kSystemAreaSize, image, match);
  if (result != 0) return result;
  if (!match) {
    Print("[ERROR] Data NOT match!\n");
    return QS71_E_MISMATCH;
  }
  std::vector<uint8_t> block;
  result = ReadSystemArea(block);
  if (result != 0) return result;
  MaskSystemArea(block);
  if (block != ExpectedSystemArea(image, false, block)) {
    Print("[ERROR] Data NOT match!\n");
    return QS71_E_MISMATCH;
  }
  Print("Verify OTP complete.\n");
  return 0;
}

int Qs71Application::ReadOtp() {
  AdjustOtpVdd(readVdd);
  EnableEngineerRead();
  std::vector<uint8_t> data;
  int result = ReadRange(kReadBackStart, otpSize + kReadBackLead, data);
  if (result != 0) return result;
  data.erase(data.begin(), data.begin() + kReadBackLead);
  result = ExportFile(readFile, data);
  if (result == 0) Print("Read OTP complete.\n");
  return result;
}

// The programmer's access sequence for its engineering read mode; the sixth word carries the
// part's size code.
int Qs71Application::EnableEngineerRead() {
  std::vector<uint16_t> words = {0x5AA5, 0xE71E, 0x0E01, 0x0000, 0xA55A, 0x0000, 0xC3C3};
  words[5] = static_cast<uint16_t>(words[5] | otpId[2]);
  if (!writer->SendWordList(words)) {
    Print(Format("[ERROR] Failed to enable engineering read!! (%d)\n", writer->LastError()));
    return writer->LastError();
  }
  Print("[WARNING] Enabled engineer read!\n");
  return 0;
}
