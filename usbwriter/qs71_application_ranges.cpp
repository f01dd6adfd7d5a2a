// Moving a range of the OTP in chunks (begin, one report per chunk, end), and comparing a range
// with what the part should hold. After every chunk the caller's progress cell gets the last
// address the chunk touched, folded into the part.
#include "qs71_application.h"

#include <algorithm>

#include "qs71_usb_writer.h"
#include "system_area.h"
#include "text_format.h"  // Format
#include "usb_writer.h"

namespace {

struct RangeKind {
  uint32_t chunk;
  uint32_t granule;  // valid sizes are positive multiples of this
  const char* invalidSize;
  int invalidCode;
  const char* failure;
};

constexpr RangeKind kRead = {64, 64, "[ERROR] Invalid OTP read size %d bytes!\n",
                             QS71_E_READ_SIZE, "[ERROR] Fail to read OTP data! (%d)\n"};
constexpr RangeKind kWrite = {32, 32, "[ERROR] Invalid OTP write size %d bytes!\n",
                              QS71_E_WRITE_SIZE, "[ERROR] Fail to write OTP data! (%d)\n"};
constexpr RangeKind kVerify = {32, 256, "[ERROR] Invalid OTP verify size %d bytes!\n",
                               QS71_E_VERIFY_SIZE, "[ERROR] Fail to verify OTP data! (%d)\n"};

// The value byte of a write data report; the library always programs with 1.
constexpr uint8_t kWriteValue = 1;

// A caller's buffer shorter than the range is refused like a bad size rather than overrun.
bool SizeIsValid(const RangeKind& kind, uint32_t size, size_t available) {
  return size >= kind.granule && size % kind.granule == 0 && available >= size;
}



// The range verify streams whole 256-byte units, and the programmer compares nothing smaller.
constexpr uint32_t kRangeGranule = 256;

bool RangeFits(uint32_t start, uint32_t length, uint32_t otpSize) {
  return start % kRangeGranule == 0 && length % kRangeGranule == 0 && length > 0 &&
         start < otpSize && length <= otpSize - start;
}

}  // namespace

int Qs71Application::RejectSize(const char* message, uint32_t size, int code) {
  Print(Format(message, static_cast<int>(size)));
  return code;
}

int Qs71Application::TransferFailed(const char* message) {
  Print(Format(message, writer->LastError()));
  return writer->LastError();
}

void Qs71Application::PublishProgress(uint32_t address, uint32_t chunk) {
  if (progress == nullptr) return;
  const uint32_t position = (otpSize - 1) & (address + chunk - 1);
  PublishCell(progress, static_cast<int32_t>(position));
}

// The line the transfer's progress was printed on is ended once the last chunk is through.
int Qs71Application::TransferChunks(uint32_t start, uint32_t size, uint32_t chunk,
                                    const char* failure,
                                    const std::function<bool(uint32_t offset, bool more)>& send) {
  for (uint32_t offset = 0; offset < size; offset += chunk) {
    if (CancelRequested()) return Cancelled();
    if (!send(offset, offset + chunk < size)) return TransferFailed(failure);
    PublishProgress(start + offset, chunk);
  }
  Inform("\n");
  return 0;
}

int Qs71Application::ReadRange(uint32_t start, uint32_t size, std::vector<uint8_t>& data) {
  if (!SizeIsValid(kRead, size, size)) {
    return RejectSize(kRead.invalidSize, size, kRead.invalidCode);
  }
  data.assign(size, 0xFF);
  if (!writer->ReadBegin(start)) return TransferFailed(kRead.failure);
  const int r = TransferChunks(start, size, kRead.chunk, kRead.failure,
                               [&](uint32_t offset, bool more) {
                                 return writer->ReadData(&data[offset], more);
                               });
  if (r != 0) return r;
  if (!writer->ReadEnd()) return TransferFailed(kRead.failure);
  return 0;
}

int Qs71Application::WriteRange(uint32_t start, uint32_t size,
                                const std::vector<uint8_t>& data) {
  if (!SizeIsValid(kWrite, size, data.size())) {
    return RejectSize(kWrite.invalidSize, size, kWrite.invalidCode);
  }
  double vpp = 0.0;
  if (!writer->WriteBegin(start, writeVpp, &vpp)) return TransferFailed(kWrite.failure);
  Print(Format("OTP write in VPP=%.2fV.\n", vpp));
  const int r = TransferChunks(start, size, kWrite.chunk, kWrite.failure,
                               [&](uint32_t offset, bool more) {
                                 return writer->WriteData(&data[offset], kWriteValue, more);
                               });
  if (r != 0) return r;
  if (!writer->WriteEnd()) return TransferFailed(kWrite.failure);
  return 0;
}

// A mismatch is not a failure here: the programmer's verdict comes back in match, and the
// operation decides what to tell the user.
int Qs71Application::VerifyRange(uint32_t start, uint32_t size, const std::vector<uint8_t>& data,
                                 bool& match) {
  if (!SizeIsValid(kVerify, size, data.size())) {
    return RejectSize(kVerify.invalidSize, size, kVerify.invalidCode);
  }
  if (!writer->VerifyBegin(start)) return TransferFailed(kVerify.failure);
  const int r = TransferChunks(start, size, kVerify.chunk, kVerify.failure,
                               [&](uint32_t offset, bool more) {
                                 return writer->VerifyData(&data[offset], more);
                               });
  if (r != 0) return r;
  if (!writer->VerifyEnd(&match)) return TransferFailed(kVerify.failure);
  return 0;
}

// One range of the OTP compared on its own, so that a host can narrow down where a part that
// failed its blank check or verify differs; a range covering the whole part differs exactly
// when the blank check or the verify would fail.
int Qs71Application::CompareRange() {
  if (!RangeFits(rangeStart, rangeLength, otpSize)) {
    Print(Format("[ERROR] Invalid OTP verify range %u bytes at 0x%06X!\n", rangeLength,
                 rangeStart));
    return QS71_E_VERIFY_SIZE;
  }
  std::vector<uint8_t> expected;
  int result = RangeExpectation(expected);
  if (result != 0) return result;
  AdjustOtpVdd(rangeVdd);
  PartDifference difference = PartDifference::kNone;
  result = ComparePart(expected, imageKind == ImageKind::kNone, rangeStart,
                       rangeStart + rangeLength, difference);
  rangeMatch = difference == PartDifference::kNone;
  return result;
}

// The whole part as it should read: the image, or erased cells for a blank check.
int Qs71Application::RangeExpectation(std::vector<uint8_t>& expected) {
  if (imageKind != ImageKind::kNone) return ImportImage(expected);
  expected.assign(otpSize, 0xFF);
  return 0;
}

// The programmer compares the main area itself; only the system area comes back to the host,
// where the per-part trims are masked before the comparison. A difference in the main area
// ends the comparison before the system area is read.
int Qs71Application::ComparePart(const std::vector<uint8_t>& expected, bool blank,
                                 uint32_t start, uint32_t end, PartDifference& difference) {
  difference = PartDifference::kNone;
  const uint32_t mainEnd = otpSize - qs71::kSystemAreaSize;
  if (start < mainEnd) {
    const uint32_t stop = std::min(end, mainEnd);
    const std::vector<uint8_t> slice(expected.begin() + start, expected.begin() + stop);
    bool match = true;
    const int result = VerifyRange(start, stop - start, slice, match);
    if (result != 0) return result;
    if (!match) difference = PartDifference::kMainArea;
    if (!match || end <= mainEnd) return 0;
  }
  std::vector<uint8_t> block;
  const int result = ReadSystemArea(block);
  if (result != 0) return result;
  MaskSystemArea(block);
  const std::vector<uint8_t> wanted = ExpectedSystemArea(expected, blank, block);
  const uint32_t from = std::max(start, mainEnd) - mainEnd;
  if (!std::equal(block.begin() + from, block.begin() + (end - mainEnd), wanted.begin() + from)) {
    difference = PartDifference::kSystemArea;
  }
  return 0;
}
