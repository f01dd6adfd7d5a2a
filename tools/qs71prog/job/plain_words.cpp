#include "job/plain_words.h"

#include <cstdio>

#include "chip_identity.h"
#include "qs71_usb_writer.h"
#include "text_format.h"

namespace qs71prog {

namespace {

constexpr int32_t kSystemAreaSize = 512;

enum class Area { kMain, kSystem };

// What a failed blank check or verify found, by the step and the library's code. The verify
// gives one code for both areas, so there the area the step had reached decides.
struct FoundText {
  Phase phase;
  int32_t result;
  Area area;
  bool byAreaReached;
  const char* text;  // "%s" for the area's address range; a second one for the image
};

constexpr FoundText kFoundTexts[] = {
    {Phase::kBlankCheck, QS71_E_NOT_BLANK, Area::kMain, false,
     "blank check: programmed cells in the main area %s, the part is not blank"},
    {Phase::kBlankCheck, QS71_E_MISMATCH, Area::kSystem, false,
     "blank check: the system area %s differs from a blank part's"},
    {Phase::kBlankCheck, QS71_E_SYSTEM_AREA, Area::kSystem, false,
     "blank check: the system area %s breaks the chip's own rules"},
    {Phase::kVerify, QS71_E_MISMATCH, Area::kMain, true,
     "verify: the main area %s differs from %s"},
    {Phase::kVerify, QS71_E_MISMATCH, Area::kSystem, true,
     "verify: the system area %s differs from %s"},
    {Phase::kVerify, QS71_E_SYSTEM_AREA, Area::kSystem, false,
     "verify: the system area %s breaks the chip's own rules"},
};

std::string Range(Area area, int32_t otpSize) {
  const unsigned systemStart = static_cast<unsigned>(otpSize - kSystemAreaSize);
  char text[40];
  if (area == Area::kMain) {
    std::snprintf(text, sizeof text, "0x000000-0x%06X", systemStart - 1);
  } else {
    std::snprintf(text, sizeof text, "0x%06X-0x%06X", systemStart,
                  static_cast<unsigned>(otpSize - 1));
  }
  return text;
}

// The main area is compared by the programmer as one range; the system area is read back
// only when that matched, which leaves the progress cell at the part's last address.
Area AreaReached(const FailureFacts& facts) {
  return facts.progress == facts.otpSize - 1 ? Area::kSystem : Area::kMain;
}

std::string Found(const FailureFacts& facts) {
  if (facts.otpSize <= kSystemAreaSize) return "";
  const Area reached = AreaReached(facts);
  for (const FoundText& entry : kFoundTexts) {
    if (entry.phase != facts.phase || entry.result != facts.result) continue;
    if (entry.byAreaReached && entry.area != reached) continue;
    char text[300];
    std::snprintf(text, sizeof text, entry.text, Range(entry.area, facts.otpSize).c_str(),
                  facts.image.c_str());
    return text;
  }
  return "";
}

std::string PartSize(uint32_t size) {
  return size >= 1048576 ? std::to_string(size / 1048576) + " MiB"
                         : std::to_string(size / 1024) + " KiB";
}

std::string ExpectedIds() {
  std::string text;
  const auto parts = qs71::OtpParts();
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += i + 1 == parts.size() ? " or " : ", ";
    char id[40];
    std::snprintf(id, sizeof id, "%02X %02X %02X xx (%s)", qs71::kOtpIdByte0, qs71::kOtpIdByte1,
                  parts[i].sizeCode, PartSize(parts[i].size).c_str());
    text += id;
  }
  return text;
}

std::string ChipIdWords(const std::array<uint8_t, 4>& id) {
  char text[300];
  std::snprintf(text, sizeof text, "the chip's ID reads %02X %02X %02X %02X, expected %s", id[0],
                id[1], id[2], id[3], ExpectedIds().c_str());
  return text;
}

}  // namespace

std::string FoundWords(const FailureFacts& facts) {
  const bool idRejected = facts.result == QS71_E_OTP_ID || facts.result == QS71_E_SIZE_CODE;
  if (facts.phase == Phase::kIdentify && idRejected) return ChipIdWords(facts.chipId);
  return Found(facts);
}

std::vector<std::string> NoProgrammerWords(const std::vector<ProgrammerNode>& programmers,
                                           const std::string& instructions) {
  for (const ProgrammerNode& node : programmers) {
    if (node.accessible || instructions.empty()) continue;
    return {"the programmer is attached at " + node.path + " but this user may not open it; " +
            instructions};
  }
  std::vector<std::string> words = {
      "no QS71 programmer found (USB 04d8:fe08) \xE2\x80\x94 is it plugged in?"};
  if (!instructions.empty()) words.push_back("if it is and still not found, " + instructions);
  return words;
}

std::string EmulatedNoProgrammerWords() {
  return "the emulated programmer did not take the call: the emulated library's message above "
         "says why (its chip file, QS71_EMU_FAULTS, QS71_EMU_BUS or another QS71_EMU_ setting)";
}

std::string ImageSizeWords(const std::string& image, uint64_t imageSize, int32_t otpSize) {
  return image + " is " + std::to_string(imageSize) + " bytes, the chip's OTP " +
         std::to_string(otpSize) + ": nothing was done to the part";
}

std::string EmulatedSizeWords(uint64_t imageSize, const std::string& chipFile) {
  if (!chipFile.empty()) {
    return "the emulated part is the one kept in " + chipFile +
           ": give an image of another size a chip file of its own";
  }
  for (const qs71::OtpPart& part : qs71::OtpParts()) {
    if (part.size == imageSize) {
      return Format("the emulated chip is the part QS71_EMU_ID names: QS71_EMU_ID=6D61%02X00 "
                    "makes one of %u bytes",
                    part.sizeCode, part.size);
    }
  }
  return "the emulated chip is the part QS71_EMU_ID names, and no part has " +
         std::to_string(imageSize) + " bytes";
}

}  // namespace qs71prog
