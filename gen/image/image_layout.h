#pragma once
// The map of the OTP image: where the header, the section and group tables, the sound data and
// the system area lie for a given FileSize, and AddVolMap, which writes the skeleton at the end
// of an error-free pass 1. The position helpers are pure so that an image inspector can find
// the same regions in an image it reads back.

#include <cstdint>

constexpr int32_t kSection0EntryPos = 4;
constexpr int32_t kSecStart = 16;
constexpr int32_t kSystemAreaSize = 512;
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

// Writes the full-size 0xFF image and its skeleton; sets MaxSize, SecBase and SoundBase.
// Returns the first failing code: ErrFileSize for a FileSize below 512 (nothing written), else
// ErrWrite or ErrFilePosition from the image stream.
int AddVolMap();
