#pragma once
// The map of an OTP image: where the header words, the section and group tables, the option
// block and the system area lie for a given FileSize. The generator places things by these
// positions; the inspector finds them again in an image it reads back.

#include <cstdint>

#include "system_area.h"

constexpr int32_t kSection0EntryPos = 4;
constexpr int32_t kSecStart = 16;
constexpr int32_t kSystemAreaSize = static_cast<int32_t>(qs71::kSystemAreaSize);
constexpr uint8_t kTagBytes[2] = {0x5A, 0xA5};

// File position of section i's 4-byte entry: section 0 sits in the header at 4, sections 1 and
// up follow the header from 16.
int32_t SectionEntryPos(int32_t section);

// First group table: the first multiple of 16 after the entries of sections 1 to maxSection.
int32_t GroupStart(int32_t maxSection);

// The chip's system area: the last 512 bytes, with the mu-law table first.
int32_t SystemAreaStart(int32_t fileSize);

// The IMA step-size table, 256 bytes before the end.
int32_t AdpcmStart(int32_t fileSize);

// The smallest multiple of 16 not below fileSize - 78: where the configuration block begins.
int32_t OptionBase(int32_t fileSize);
int32_t TagPos(int32_t fileSize);
int32_t OptionStart(int32_t fileSize);
int32_t VolMapPos(int32_t fileSize);

// The header words at 8 and 12 tell the chip where the two ramp sounds lie and how fast it
// plays them: the file position in the upper 24 bits, the clock divider in the low byte. Upper
// bits all ones stand for "no ramp sound here"; the divider is still the ramp rate's.
constexpr int32_t kRampDecWordPos = 8;
constexpr int32_t kRampIncWordPos = 12;
constexpr uint32_t kNoRampPosition = 0xFFFFFF;

uint32_t EncodeHeaderWord(uint32_t position, int32_t divider);
bool HeaderWordHoldsRamp(uint32_t word);
