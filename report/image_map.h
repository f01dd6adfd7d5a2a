#pragma once
// What the inspector knows about an image after reading it: the layout of its fixed regions,
// the header words, the sections with their group links, the distinct sounds and the free
// space between them, the option or configuration block, the volume map and the verdicts on
// the system area. Built once by BuildImageMap, then only read by the reports and the
// extraction.

#include <cstdint>
#include <string>
#include <vector>

#include "group_table_scan.h"
#include "playback_rate.h"
#include "sound_kinds.h"

// What the command line can fix instead of the detection (GrpAdr, Offset), and the clock.
struct DumpSettings : GroupReading {
  int64_t mainClockHz = kDefaultMainClockHz;  // rates come from it (playback_rate.h)
};

// File positions of the fixed regions, from the image format's layout functions.
struct ImageLayout {
  int32_t fileSize = 0;
  int32_t systemAreaStart = 0;
  int32_t adpcmStart = 0;
  int32_t optionBase = 0;
  int32_t tagPos = 0;
  int32_t optionStart = 0;
  int32_t volMapPos = 0;
};

// A header word at 8 or 12: a ramp sound's position and divider, or the clock-divider word
// (upper 24 bits all ones) that the generator writes where no ramp sound took the place.
struct HeaderWord {
  int32_t pos = 0;
  uint32_t word = 0;
  bool isRamp = false;
  uint32_t rampPosition = 0;  // file position of the ramp sound's first byte
  uint8_t divider = 0;
};

// A link as the image format reads it, and the distinct sound it names.
struct GroupLink : ScannedLink {
  int soundId = 0;
};

struct Section {
  int number = 0;
  int32_t entryPos = 0;
  uint32_t entry = 0xFFFFFFFFu;
  bool empty = true;
  uint8_t flags = 0;          // bit 0 edge, 1 hold, 2 retrigger, 7 stop enable
  int option = -1;            // 1 to 3, or -1 for none
  uint32_t tableAddress = 0;  // chip address as the entry holds it (bits 3 to 23)
  std::vector<GroupLink> links;
};

// One distinct sound: a kind and an address range, however many links name it.
struct Sound {
  int id = 0;
  const SoundKindInfo* kind = nullptr;
  int64_t start = 0;
  int64_t end = 0;
  int64_t filePos = 0;
  int64_t length = 0;
  uint8_t divider = 0;  // of the first link that names it
  int linkCount = 0;
  bool mixedDividers = false;
  // ADPCM whose last byte ends in a zero nibble: the generator pads an odd count with one,
  // and the chip plays it as a sample, so the image cannot tell whether it is one.
  bool maybePadded = false;
  std::string name;  // the script's name for it (qs71dump --names), empty when not known
};

// A stretch of the sound data area that no group entry names.
struct FreeRange {
  int64_t start = 0;  // file positions, inclusive
  int64_t end = 0;
  int64_t used = 0;  // bytes in it that are not 0xFF
};

struct NamedValue {
  std::string name;
  std::string where;  // bytes and bits it comes from
  uint32_t value = 0;
  bool valid = true;  // false: bits the encoding never produces
  std::string note;   // what the value means where the number alone does not say
};

struct OptionInfo {
  bool configBlock = false;
  std::vector<uint8_t> bytes;       // 16 or 48
  std::vector<NamedValue> globals;  // the .GLOBAL values an option block was packed from
  std::vector<NamedValue> fields;   // chip fields, from the configuration field table
  bool fixedBitsOk = true;          // bits the option block always holds as ones
};

struct VolumeMap {
  int32_t pos = 0;
  int count = 0;
  std::vector<uint8_t> entries;
  bool restBlank = true;
};

// A byte of the image at a place the programmer masks, which a write would program.
struct MaskedByte {
  int distance = 0;  // from the end of the image, as the programmer counts
  int32_t pos = 0;
  uint8_t image = 0;
};

struct SystemAreaVerdict {
  bool tagOk = false;
  bool ulawTableOk = false;
  bool stepTableOk = false;
  bool chipSize = false;     // the size of a QS71 part the programmer knows
  bool checkPasses = false;  // CheckSystemArea of the image's last 512 bytes
  int maskedCount = 0;       // places MaskSystemArea covers
  std::vector<MaskedByte> programmedMasked;
  // The first byte whose write would clear a factory bit, which qs71prog never writes.
  bool clearsFactoryCell = false;
  MaskedByte factoryCell;
  uint8_t factoryBits = 0;  // the bits a write must leave as the part holds them there
};

struct ImageMap {
  std::string path;
  std::string sha256;  // of the whole file, as qs71gen's map and qs71prog print it
  ImageLayout layout;
  DumpSettings settings;
  int32_t grpAdr = 3;
  bool grpAdrDetected = true;
  // Other GrpAdr values that read every group entry as consistently as grpAdr (detection
  // only): the image alone cannot say which one the script set.
  std::vector<int32_t> grpAdrAlsoConsistent;
  int32_t offset = 0;
  bool offsetDetected = true;
  uint32_t headerWord0 = 0;  // bytes 0 to 3, which the generator leaves 0xFF
  uint32_t section0Entry = 0;
  HeaderWord rampDec;
  HeaderWord rampInc;
  bool noSections = true;
  int32_t groupStart = 16;
  int slotCount = 0;       // section slots 1..slotCount between 16 and GroupStart
  int64_t soundBase = 16;  // chip address after the last group table
  std::vector<Section> sections;
  std::vector<Sound> sounds;
  std::vector<FreeRange> freeRanges;
  OptionInfo options;
  VolumeMap volumeMap;
  SystemAreaVerdict systemArea;
};


// File position where the group tables start and where the sound data area starts: a chip
// address after the tables is a file position only once Offset is taken off.
int64_t GroupTablesStart(const ImageMap& map);
int64_t SoundDataStart(const ImageMap& map);

// DumpOk, or the DumpResult of a file of this size with *problem saying why, before any of
// it is read.
int RefuseBySize(int64_t size, std::string* problem);

// Reads everything above from the image bytes. DumpOk, or a DumpResult with *problem
// naming the first thing that makes the bytes not an image.
int BuildImageMap(const std::vector<uint8_t>& image, const DumpSettings& settings, ImageMap* map,
                  std::string* problem);
