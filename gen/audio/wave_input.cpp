#include "audio/wave_input.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "byte_order.h"
#include "file_system.h"
#include "result_codes.h"
#include "text_format.h"

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(GetLittleEndian(p, 2)); }

uint32_t Le32(const uint8_t* p) { return GetLittleEndian(p, 4); }

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

// The format chunk as every writer starts it, and as far as an extensible one reaches to the
// end of its sub-format GUID.
constexpr uint32_t kFormatSize = 16;
constexpr uint32_t kExtensibleFormatSize = 40;
constexpr size_t kSubFormatAt = 24;

// An extensible header names its sample format by a GUID whose first two bytes are the plain
// format tag and whose other fourteen are always these.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Why a wave file is refused. Its standard-output line stays the chip tools' one message for
// every reason; the detail on standard error tells the user which reason and how to mend it.
enum class Refusal {
  NotWave, Flac, Aiff, NoFormat, ShortFormat, Compressed, Float, NoChannels, Channels, Bits, NoData,
  HugeData, ShortData
};

struct RefusalText {
  Refusal refusal;
  const char* why;  // the offending value, if any, as its one conversion
  const char* fix;  // the file's name, if any, as its one conversion
};

// What the plain reader refuses but the preparation reads (through libsndfile, mixed to mono):
// the option names the way in, rather than a trip through another program.
constexpr char kPreparationReads[] =
    "without a preparation option qs71gen reads only 8- or 16-bit PCM WAV, mono or stereo: add "
    "--resample (before the script name) to read this file and bring it to the rate its link "
    "plays at";

const RefusalText kRefusals[] = {
    {Refusal::NotWave, "not a RIFF/WAVE file",
     "save the sound as a WAV file with 8- or 16-bit PCM samples"},
    {Refusal::Flac, "a FLAC file, not RIFF/WAVE", kPreparationReads},
    {Refusal::Aiff, "an AIFF file, not RIFF/WAVE", kPreparationReads},
    {Refusal::NoFormat, "no `fmt ` chunk before the samples",
     "the file is damaged: export the sound again as a WAV file"},
    {Refusal::ShortFormat, "`fmt ` chunk of %u bytes, fewer than 16",
     "the file is damaged: export the sound again as a WAV file"},
    {Refusal::Compressed, "compressed format 0x%04X",
     "the chip tools read PCM samples only: "
     "convert with `sox %s -e signed-integer -b 16 out.wav`"},
    {Refusal::Float, "%u-bit float samples", kPreparationReads},
    {Refusal::NoChannels, "0 channels", "the file is damaged: export the sound again as a WAV file"},
    {Refusal::Channels, "%u channels", kPreparationReads},
    {Refusal::Bits, "%u-bit samples", kPreparationReads},
    {Refusal::NoData, "no `data` chunk",
     "the file is cut short or damaged: export the sound again"},
    {Refusal::HugeData, "`data` chunk of %u bytes, 2 GB or more",
     "no chip holds such a sound and the header is likely damaged: export the sound again"},
    {Refusal::ShortData, "`data` chunk of %u bytes, more than the file holds",
     "the file is cut short, or its header was written before its size was known (as a program "
     "writing to a pipe does): export the sound again into a file"},
};

int Refuse(Refusal refusal, uint32_t value, const char* name, std::string* detail) {
  for (const RefusalText& t : kRefusals) {
    if (t.refusal != refusal) continue;
    const std::string why = Format(t.why, static_cast<unsigned>(value));
    const std::string fix = Format(t.fix, HintPath(name).c_str());
    *detail = Format("%s: %s; %s", name, why.c_str(), fix.c_str());
  }
  return ErrWaveFile;
}

bool HasId(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

struct ChunkHeader {
  uint8_t id[4];
  uint32_t size;
};

bool ReadChunkHeader(FILE* file, ChunkHeader* chunk) {
  uint8_t raw[8];
  if (std::fread(raw, 1, sizeof raw, file) != sizeof raw) return false;
  std::memcpy(chunk->id, raw, 4);
  chunk->size = Le32(raw + 4);
  return true;
}

// A chunk's body and the pad byte that keeps the next chunk on an even offset.
uint64_t PaddedSize(uint32_t size) { return static_cast<uint64_t>(size) + (size & 1u); }

// Chunks are passed over by reading, not seeking: a size that claims more than the file holds
// then simply ends at the end of the file, and no size near 4 GiB has to fit a seek offset.
bool SkipBytes(FILE* file, uint64_t n) {
  uint8_t scrap[4096];
  while (n > 0) {
    const size_t step = n < sizeof scrap ? static_cast<size_t>(n) : sizeof scrap;
    if (std::fread(scrap, 1, step, file) != step) return false;
    n -= step;
  }
  return true;
}

// The 12 bytes that open every wave file. The RIFF size is not trusted: recorders that stream
// to disk leave it 0 or stale, and the chunk walk ends with the file anyway.
int CheckRiffForm(FILE* file, const char* name, std::string* detail) {
  uint8_t raw[12];
  if (std::fread(raw, 1, sizeof raw, file) != sizeof raw) {
    return Refuse(Refusal::NotWave, 0, name, detail);
  }
  if (HasId(raw, "fLaC")) return Refuse(Refusal::Flac, 0, name, detail);
  if (HasId(raw, "FORM") && (HasId(raw + 8, "AIFF") || HasId(raw + 8, "AIFC"))) {
    return Refuse(Refusal::Aiff, 0, name, detail);
  }
  if (!HasId(raw, "RIFF") || !HasId(raw + 8, "WAVE")) {
    return Refuse(Refusal::NotWave, 0, name, detail);
  }
  return ErrNone;
}

struct WaveFormat {
  uint16_t tag = 0;  // an extensible header's sub-format stands here in place of 0xFFFE
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
};

// Block alignment and byte rate are left alone: the chip tools never trusted them, and the
// frame layout follows from channels and bits.
WaveFormat ParseFormat(const uint8_t* raw, uint32_t kept) {
  WaveFormat f;
  f.tag = Le16(raw);
  f.channels = Le16(raw + 2);
  f.rate = Le32(raw + 4);
  f.bits = Le16(raw + 14);
  if (f.tag == kFormatExtensible && kept >= kExtensibleFormatSize &&
      std::memcmp(raw + kSubFormatAt + 2, kSubFormatTail, sizeof kSubFormatTail) == 0) {
    f.tag = Le16(raw + kSubFormatAt);
  }
  return f;
}

// The sample format first: a compressed file's bit count says nothing about its samples.
int CheckFormat(const WaveFormat& f, const char* name, std::string* detail) {
  if (f.tag == kFormatFloat) return Refuse(Refusal::Float, f.bits, name, detail);
  if (f.tag != kFormatPcm) return Refuse(Refusal::Compressed, f.tag, name, detail);
  if (f.channels == 0) return Refuse(Refusal::NoChannels, 0, name, detail);
  if (f.channels != 1 && f.channels != 2) {
    return Refuse(Refusal::Channels, f.channels, name, detail);
  }
  if (f.bits != 8 && f.bits != 16) return Refuse(Refusal::Bits, f.bits, name, detail);
  return ErrNone;
}

int ReadFormatChunk(FILE* file, uint32_t size, const char* name, WaveFormat* format,
                    std::string* detail) {
  if (size < kFormatSize) return Refuse(Refusal::ShortFormat, size, name, detail);
  uint8_t raw[kExtensibleFormatSize] = {};
  const uint32_t kept = std::min(size, kExtensibleFormatSize);
  if (std::fread(raw, 1, kept, file) != kept) return Refuse(Refusal::NoData, 0, name, detail);
  if (!SkipBytes(file, PaddedSize(size) - kept)) return Refuse(Refusal::NoData, 0, name, detail);
  *format = ParseFormat(raw, kept);
  return CheckFormat(*format, name, detail);
}

// Walks the chunks up to "data" and leaves the file at its first sample byte. The format must
// come before the samples, as RIFF wants it, so the file is read front to back only. Each step
// consumes at least a chunk header: the walk ends with the file, whatever sizes it claims.
int FindSampleData(FILE* file, const char* name, WaveFormat* format, uint32_t* dataSize,
                   std::string* detail) {
  bool haveFormat = false;
  ChunkHeader chunk;
  while (ReadChunkHeader(file, &chunk)) {
    if (HasId(chunk.id, "data")) {
      if (!haveFormat) return Refuse(Refusal::NoFormat, 0, name, detail);
      *dataSize = chunk.size;
      return ErrNone;
    }
    if (HasId(chunk.id, "fmt ")) {
      int r = ReadFormatChunk(file, chunk.size, name, format, detail);
      if (r != ErrNone) return r;
      haveFormat = true;
    } else if (!SkipBytes(file, PaddedSize(chunk.size))) {
      break;
    }
  }
  return Refuse(Refusal::NoData, 0, name, detail);
}

// Bytes left after the current position, or -1 when the stream cannot tell (a pipe).
int64_t RemainingBytes(FILE* file) {
  long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  long end = std::ftell(file);
  if (std::fseek(file, here, SEEK_SET) != 0) return -1;
  return end < here ? -1 : static_cast<int64_t>(end) - here;
}

size_t FrameBytes(const WaveHeader& header) { return header.channels * (header.bits / 8u); }

// From the first sample byte: whether the header announces more frames than the file holds
// (unknown for a pipe, which is then taken at its word).
bool AnnouncesMoreThanHeld(FILE* file, const WaveHeader& header) {
  const int64_t remaining = RemainingBytes(file);
  return remaining >= 0 && static_cast<uint64_t>(remaining) < uint64_t{WaveFrameCount(header)} * FrameBytes(header);
}

uint32_t FrameBytesOf(uint16_t channels, uint16_t bits) { return channels * ((bits + 7u) / 8u); }

// The sizes a program writes before it knows the length, when its output cannot be seeked back
// to (a pipe): sox and others put 0x7FFFF000, some 0xFFFFFFFF. Only these are read to the end
// of the file; any other size that runs past it is a file cut short.
bool IsStreamingSize(uint32_t size) { return size == 0x7FFFF000u || size == 0xFFFFFFFFu; }

// Walks the chunks to "data" without judging the sample format, so that a file read by the
// preparation (24-bit, float) is measured by the same rule as one read here.
bool FindDataExtent(FILE* file, DataExtent* e) {
  uint8_t form[12];
  if (std::fread(form, 1, sizeof form, file) != sizeof form) return false;
  if (!HasId(form, "RIFF") || !HasId(form + 8, "WAVE")) return false;
  ChunkHeader chunk;
  while (ReadChunkHeader(file, &chunk)) {
    if (HasId(chunk.id, "data")) {
      *e = {chunk.size, RemainingBytes(file), e->frameBytes};
      return true;
    }
    uint64_t rest = PaddedSize(chunk.size);
    const uint32_t kept = std::min(chunk.size, kExtensibleFormatSize);
    uint8_t raw[kExtensibleFormatSize] = {};
    if (HasId(chunk.id, "fmt ") && kept >= kFormatSize) {
      if (std::fread(raw, 1, kept, file) != kept) return false;
      const WaveFormat f = ParseFormat(raw, kept);
      e->frameBytes = FrameBytesOf(f.channels, f.bits);
      rest -= kept;
    }
    if (!SkipBytes(file, rest)) return false;
  }
  return false;
}

std::string StreamedText(const std::string& name, const DataExtent& e) {
  return Format("%s: `data` chunk of %u bytes, the size a program writing into a pipe gives before it "
                "knows the length; the %lld bytes to the end of the file are read as its samples: "
                "write the WAV into a file to give it its true size",
                name.c_str(), static_cast<unsigned>(e.declared), static_cast<long long>(e.held));
}

std::string EmptyBeforeBytesText(const std::string& name, const DataExtent& e) {
  return Format("%s: `data` chunk says 0 bytes while %lld bytes follow it; the sound is taken as "
                "empty: if those bytes are its samples, write the WAV into a file, not a pipe, or "
                "mend its header", name.c_str(), static_cast<long long>(e.held));
}

int32_t ScaledSample(int32_t mixed, double scale) { return LimitSample(ScaleSample(mixed, scale)); }

// One frame mixed to mono on the 16-bit scale: the channel sum divided by the channel count
// (truncating toward zero), 8-bit samples taken as (byte - 128) and then times 256.
template <int Channels, int Bits>
int32_t MixedSample(const uint8_t* frame) {
  int32_t sum = 0;
  for (int c = 0; c < Channels; ++c) {
    if constexpr (Bits == 8) sum += static_cast<int32_t>(frame[c]) - 128;
    else sum += static_cast<int16_t>(Le16(frame + 2 * c));
  }
  const int32_t v = sum / Channels;
  return Bits == 8 ? v * 256 : v;
}

// Converts n frames of one layout. The layout is a template argument so that the usual 16-bit
// mono file becomes a plain widening loop; with the scale at 1.0 the product is exact and every
// mixed value is already within the 16-bit range, so the samples are the mixed values as they
// stand.
template <int Channels, int Bits>
void ConvertBlock(const uint8_t* block, uint32_t n, double scale, int32_t* out) {
  constexpr size_t kFrameBytes = Channels * Bits / 8;
  if constexpr (Channels == 1 && Bits == 16 && std::endian::native == std::endian::little) {
    // The file's byte order is the host's: the samples are the host's int16 values, widened.
    if (scale == 1.0) {
      for (size_t i = 0; i < n; ++i) {
        int16_t v;
        std::memcpy(&v, block + 2 * i, sizeof v);
        out[i] = v;
      }
      return;
    }
  }
  if (scale == 1.0) {
    for (uint32_t i = 0; i < n; ++i) out[i] = MixedSample<Channels, Bits>(block + i * kFrameBytes);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) {
    out[i] = ScaledSample(MixedSample<Channels, Bits>(block + i * kFrameBytes), scale);
  }
}

using BlockConverter = void (*)(const uint8_t*, uint32_t, double, int32_t*);

BlockConverter ConverterFor(const WaveHeader& header) {
  if (header.bits == 8) return header.channels == 1 ? ConvertBlock<1, 8> : ConvertBlock<2, 8>;
  return header.channels == 1 ? ConvertBlock<1, 16> : ConvertBlock<2, 16>;
}

}  // namespace

int32_t ScaleSample(int32_t sample, double scale) {
  double product = static_cast<double>(sample) * scale;
  // Truncation toward zero keeps (-2^31 - 1, 2^31) in range; anything beyond, and NaN, takes
  // the value the old conversion produced for it, which the limiter then pins to -32768.
  if (!(product > -2147483649.0 && product < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(product);
}

int32_t LimitSample(int32_t sample) {
  if (sample > 32767) return 32767;
  if (sample < -32768) return -32768;
  return sample;
}

int OpenWaveFile(const std::string& name, FILE** file, std::string* detail) {
  FileKind kind = FileKind::Missing;
  *file = OpenRegularFile(name.c_str(), &kind);
  if (*file != nullptr) return ErrNone;
  if (kind == FileKind::Missing) return ErrFileOpen;
  *detail = Format("%s is %s, not a wave file: name a regular RIFF/WAVE file", name.c_str(),
                   FileKindName(kind));
  return ErrWaveFile;
}

int CheckWaveHeader(FILE* file, const char* name, WaveHeader* header, std::string* detail) {
  WaveFormat format;
  uint32_t dataSize = 0;
  int r = CheckRiffForm(file, name, detail);
  if (r == ErrNone) r = FindSampleData(file, name, &format, &dataSize, detail);
  if (r != ErrNone) return r;
  const DataExtent extent{dataSize, RemainingBytes(file), FrameBytesOf(format.channels, format.bits)};
  if (ClassifyDataSize(extent) == DataSizeKind::Streamed) dataSize = static_cast<uint32_t>(extent.held);
  // A size of 2 GB or more cannot be a real sound for the chip and would turn negative in
  // every range computed from it.
  if (dataSize > static_cast<uint32_t>(INT32_MAX)) {
    return Refuse(Refusal::HugeData, dataSize, name, detail);
  }
  header->channels = format.channels;
  header->rate = format.rate;
  header->bits = format.bits;
  header->dataSize = static_cast<int32_t>(dataSize);
  return ErrNone;
}

DataSizeKind ClassifyDataSize(const DataExtent& e) {
  if (e.held < 0) return DataSizeKind::Kept;
  const uint64_t declared = e.declared;
  const uint64_t held = static_cast<uint64_t>(e.held);
  if (IsStreamingSize(e.declared) && held < declared) return DataSizeKind::Streamed;
  if (e.declared == 0 && held > 0) return DataSizeKind::EmptyBeforeBytes;
  const uint64_t whole = e.frameBytes == 0 ? declared : declared / e.frameBytes * e.frameBytes;
  return held < whole ? DataSizeKind::CutShort : DataSizeKind::Kept;
}

std::string DataSizeNotice(const std::string& name, DataSizeKind* kind) {
  *kind = DataSizeKind::Kept;
  FILE* file = nullptr;
  std::string text;
  if (OpenWaveFile(name, &file, &text) != ErrNone) return {};
  DataExtent e;
  if (FindDataExtent(file, &e)) *kind = ClassifyDataSize(e);
  std::fclose(file);
  text.clear();
  if (*kind == DataSizeKind::CutShort) Refuse(Refusal::ShortData, e.declared, name.c_str(), &text);
  if (*kind == DataSizeKind::Streamed) text = StreamedText(name, e);
  if (*kind == DataSizeKind::EmptyBeforeBytes) text = EmptyBeforeBytesText(name, e);
  return text;
}

std::string CutShortDetail(const std::string& name) {
  DataSizeKind kind;
  std::string text = DataSizeNotice(name, &kind);
  return kind == DataSizeKind::CutShort ? text : std::string();
}

uint32_t RefusedWaveFrames(FILE* file) {
  WaveFormat format;
  ChunkHeader chunk;
  if (std::fseek(file, 12, SEEK_SET) != 0) return 0;
  while (ReadChunkHeader(file, &chunk)) {
    if (HasId(chunk.id, "data")) break;
    uint64_t rest = PaddedSize(chunk.size);
    uint8_t raw[kExtensibleFormatSize] = {};
    const uint32_t kept = std::min(chunk.size, kExtensibleFormatSize);
    if (HasId(chunk.id, "fmt ") && kept >= kFormatSize) {
      if (std::fread(raw, 1, kept, file) != kept) return 0;
      format = ParseFormat(raw, kept);
      rest -= kept;
    }
    if (!SkipBytes(file, rest)) return 0;
  }
  if (!HasId(chunk.id, "data") || format.channels == 0 || format.bits == 0) return 0;
  // A pipe's placeholder size stands for the rest of the file, as when the samples are read.
  const DataExtent extent{chunk.size, RemainingBytes(file), FrameBytesOf(format.channels, format.bits)};
  const uint32_t size = ClassifyDataSize(extent) == DataSizeKind::Streamed ? static_cast<uint32_t>(extent.held) : chunk.size;
  // A size of 2 GB or more is a damaged header, not a sound the designer can mend.
  if (size > INT32_MAX) return 0;
  return size / extent.frameBytes;
}

uint32_t WaveFrameCount(const WaveHeader& header) {
  uint32_t bytesPerSample = header.bits / 8u;
  if (header.channels == 0 || bytesPerSample == 0) return 0;
  return static_cast<uint32_t>(header.dataSize) / header.channels / bytesPerSample;
}

int StartSamples(SampleReader* reader, FILE* file, const WaveHeader& header, uint32_t blockFrames) {
  reader->file = file;
  reader->header = header;
  reader->frames = 0;
  reader->done = 0;
  // Even, so that no block but a sound's last ends in the middle of an ADPCM byte.
  reader->blockFrames = blockFrames < 2 ? 2 : blockFrames + blockFrames % 2;
  if (header.bits != 8 && header.bits != 16) return ErrWaveFile;
  if (header.channels != 1 && header.channels != 2) return ErrWaveFile;
  reader->frames = WaveFrameCount(header);
  // A header may announce far more than the file holds: refused before a byte is read, so that
  // no sound is begun that cannot be completed.
  if (AnnouncesMoreThanHeld(file, header)) return ErrRead;
  const uint32_t block = std::min(reader->frames, reader->blockFrames);
  reader->raw.resize(block * FrameBytes(header));
  reader->samples.resize(block);
  return ErrNone;
}

int ReadSampleBlock(SampleReader* reader, double scale, size_t* count) {
  *count = 0;
  const uint32_t n = std::min(reader->frames - reader->done, reader->blockFrames);
  if (n == 0) return ErrNone;
  if (std::fread(reader->raw.data(), FrameBytes(reader->header), n, reader->file) != n) return ErrRead;
  ConverterFor(reader->header)(reader->raw.data(), n, scale, reader->samples.data());
  reader->done += n;
  *count = n;
  return ErrNone;
}
