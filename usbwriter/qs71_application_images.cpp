// What a part should hold: the job's image, raw OTP content in address order with no header,
// read from a file or taken from the caller's bytes; the read-back written out; and the system
// area, read, checked and masked.
#include "qs71_application.h"

#include <climits>
#include <cstdio>

#include "output_writer.h"
#include "qs71_usb_writer.h"
#include "system_area.h"
#include "text_format.h"  // Format

namespace {

// Bytes copied from the chip into the blank pattern: a blank part already carries its tag
// and its marker.
constexpr uint32_t kBlankKeeps[] = {qs71::kMarkerDistance, qs71::kTagDistanceLow,
                                    qs71::kTagDistanceHigh};

constexpr const char* kImportLine = "Import File: %s\n";

// Length of an open file, or -1 when it has none that can be read (a directory, a pipe) or
// one too large for any part.
long FileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(file);
  if (length < 0 || length > INT_MAX || std::fseek(file, 0, SEEK_SET) != 0) return -1;
  return length;
}

}  // namespace

int Qs71Application::ImportFile(const std::string& name, std::vector<uint8_t>& data) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  const long length = file ? FileLength(file) : -1;
  std::vector<uint8_t> content(length > 0 ? static_cast<size_t>(length) : 0, 0xFF);
  const bool read = length >= 0 &&
                    std::fread(content.data(), 1, content.size(), file) == content.size();
  if (file) std::fclose(file);
  if (!read) {
    Print(Format("[ERROR] Failed to open file: %s\n", name.c_str()));
    return QS71_E_FILE;
  }
  data.swap(content);
  Inform(Format(kImportLine, name.c_str()));
  return 0;
}

void Qs71Application::SetImageFile(const std::string& file) {
  imageKind = ImageKind::kFile;
  imageName = file;
}

void Qs71Application::SetImageBytes(const uint8_t* bytes, size_t length, const char* name) {
  imageKind = bytes != nullptr ? ImageKind::kBytes : ImageKind::kNone;
  imageBytes = bytes;
  imageLength = length;
  imageNamed = name != nullptr;
  imageName = imageNamed ? name : "";
}

// A file is read again at each step, as it always was; bytes are copied, so that a step may
// change its copy (the cleared marker) while the caller's stay as they were.
int Qs71Application::ImportImage(std::vector<uint8_t>& image) {
  size_t length = imageLength;
  if (imageKind == ImageKind::kBytes) {
    if (imageNamed) Inform(Format(kImportLine, imageName.c_str()));
  } else {
    const int result = ImportFile(imageName, image);
    if (result != 0) return result;
    length = image.size();
  }
  if (length != otpSize) {
    Print(Format("[ERROR] File and OTP size NOT match!\nFile: %u bytes\nOTP: %d bytes.\n",
                 static_cast<unsigned>(length), static_cast<int>(otpSize)));
    return QS71_E_FILE_SIZE;
  }
  if (imageKind == ImageKind::kBytes) image.assign(imageBytes, imageBytes + imageLength);
  return 0;
}

int Qs71Application::ExportFile(const std::string& name, const std::vector<uint8_t>& data) {
  // A read-back that did not reach the disk whole is as lost as one never created; a file of
  // that name from before stays as it was.
  std::string reason;
  if (!WriteOutputBytes(name, data.data(), data.size(), AtLink::kFollow, &reason)) {
    Print(Format("Failed to create file: %s\n", name.c_str()));
    return QS71_E_FILE;
  }
  Print(Format("Export File: %s\n", name.c_str()));
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

bool Qs71Application::CheckSystemArea(const std::vector<uint8_t>& block) const {
  return qs71::CheckSystemArea(block);
}

void Qs71Application::MaskSystemArea(std::vector<uint8_t>& block) const {
  qs71::MaskSystemArea(block);
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
