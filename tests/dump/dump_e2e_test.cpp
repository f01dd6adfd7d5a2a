// qs71dump against images of the real qs71gen: every sound kind back as WAV within its
// codec's error, the map of a known image, the detection of GrpAdr and Offset, the
// configuration block, and files that are not images.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "codec_decoders.h"
#include "extracted_sounds.h"
#include "file_contents.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

using testsupport::RunProcess;
using testwav::Shape;

const std::string kGen = QS71GEN_PATH;
const std::string kDump = QS71DUMP_PATH;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void WriteWav(const std::filesystem::path& dir, const std::string& name,
              const std::vector<int32_t>& samples, uint16_t bits = 16, uint32_t rate = 16000) {
  ASSERT_TRUE(
      testwav::WriteFile((dir / name).string(), testwav::EncodeWav(samples, {rate, bits, 1})));
}

// Compiles script in dir into image.bin; the run must end without errors.
void Compile(const std::filesystem::path& dir, const std::string& script) {
  testwav::WriteFile(dir / "script.qs", {script.begin(), script.end()});
  const auto gen = RunProcess({kGen, "script.qs", "image.bin"}, {.folder = dir});
  ASSERT_EQ(gen.exitCode, 0) << gen.out;
  ASSERT_NE(gen.out.find("Complete with 0 Errors"), std::string::npos) << gen.out;
}

// ---- Round trip of every sound kind -------------------------------------------------------

constexpr uint32_t kFrames = 16000;  // one second at 16 kHz, as the encoder floors were measured

enum class Check { Snr, Exact, Pcm8, NotExtracted };

struct SourceSound {
  const char* name;
  const char* keyword;
  testwav::Signal signal;
  Check check;
  double floorDb;
};

// SNR floors of the encoders, measured at 16 kHz, 16000 frames, half of full scale.
const SourceSound kSounds[] = {
    {"a_sine", ".ADPCM", {Shape::Sine, 440, 0, 0.5, 1}, Check::Snr, 30.0},
    {"a_sweep", ".ADPCM", {Shape::Sweep, 100, 6000, 0.5, 1}, Check::Snr, 16.0},
    {"a_noise", ".ADPCM", {Shape::Noise, 0, 0, 0.5, 11}, Check::Snr, 13.0},
    {"u_sine", ".ULAW", {Shape::Sine, 440, 0, 0.5, 1}, Check::Snr, 34.0},
    {"p16", ".PCM16", {Shape::Sweep, 100, 6000, 0.7, 1}, Check::Exact, 0},
    {"p8", ".PCM8", {Shape::Sine, 1000, 0, 0.9, 1}, Check::Pcm8, 0},
    {"e", ".EQ01", {Shape::Sine, 440, 0, 0.5, 1}, Check::NotExtracted, 0},
};

// Links: each sound once at 16 kHz, in table order, over four sections; then a silence at
// 8 kHz and a mute at 16 kHz. qs71dump numbers the sounds in this order.
std::string RoundTripScript() {
  std::string script = ".GLOBAL $FILESIZE = 40000h\n";
  for (const SourceSound& s : kSounds) {
    script += std::string(s.keyword) + " " + s.name + " = \"" + s.name + ".wav\"\n";
  }
  script += ".SILENCE gap = 1234\n.MUTE hush = 99\n";
  const int section[] = {1, 1, 2, 3, 3, 3, 4};
  for (size_t i = 0; i < std::size(kSounds); ++i) {
    script += ".SECTION [" + std::to_string(section[i]) + "] $GROUPS = " + kSounds[i].name +
              "(16000):0\n";
  }
  return script + ".SECTION [4] $GROUPS = gap(8000):0\n.SECTION [4] $GROUPS = hush(16000):1\n";
}

class RoundTrip : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = CleanScratchFolder(QS71_TEST_TMPDIR, "roundtrip");
    for (const SourceSound& s : kSounds) {
      sources_.push_back(testwav::MakeSamples(s.signal, kFrames, 16000));
      WriteWav(dir_, std::string(s.name) + ".wav", sources_.back(),
               s.check == Check::NotExtracted ? 8 : 16);
    }
    Compile(dir_, RoundTripScript());
  }

  static dumpe2e::Wav Extracted(const std::filesystem::path& dir, int id) {
    dumpe2e::Wav wav;
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%03d_", id);
    const std::filesystem::path path = dumpe2e::FindFile(dir, prefix);
    EXPECT_TRUE(!path.empty() && dumpe2e::ReadWav(path, &wav)) << "sound #" << id;
    return wav;
  }

  static inline std::filesystem::path dir_;
  static inline std::vector<std::vector<int32_t>> sources_;
};

void CheckSound(const SourceSound& s, const std::vector<int32_t>& source, const dumpe2e::Wav& wav) {
  EXPECT_EQ(wav.rate, 16000u) << s.name;
  EXPECT_EQ(wav.channels, 1) << s.name;
  EXPECT_EQ(wav.bits, s.check == Check::Pcm8 ? 8 : 16) << s.name;
  ASSERT_EQ(wav.samples.size(), source.size()) << s.name;
  const double snr = testcodec::SnrDb(source, wav.samples);
  std::printf("[ measured ] %-8s %s SNR %.1f dB\n", s.name, s.keyword, snr);
  if (s.check == Check::Snr) {
    EXPECT_GE(snr, s.floorDb) << s.name;
  }
  if (s.check == Check::Exact) {
    EXPECT_EQ(wav.samples, source) << s.name;
  }
  if (s.check == Check::Pcm8) {
    for (size_t i = 0; i < source.size(); ++i) {
      ASSERT_LT(std::abs(wav.samples[i] - source[i]), 256) << s.name << " sample " << i;
    }
  }
}

TEST_F(RoundTrip, EverySoundComesBackWithinItsCodecsError) {
  const auto out = CleanScratchFolder(QS71_TEST_TMPDIR, "roundtrip_wav");
  const auto dump = RunProcess({kDump, "--extract", out.string(), "image.bin"}, {.folder = dir_});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  for (size_t i = 0; i < std::size(kSounds); ++i) {
    const SourceSound& s = kSounds[i];
    if (s.check == Check::NotExtracted) {
      EXPECT_TRUE(dumpe2e::FindFile(out, "007_").empty());
      EXPECT_NE(dump.out.find("#7 EQ01    not extracted"), std::string::npos) << dump.out;
      continue;
    }
    CheckSound(s, sources_[i], Extracted(out, static_cast<int>(i) + 1));
  }
}

TEST_F(RoundTrip, SilenceAndMuteAreTheirLengthOfZerosAtTheirRate) {
  const auto out = CleanScratchFolder(QS71_TEST_TMPDIR, "roundtrip_silence");
  ASSERT_EQ(
      RunProcess({kDump, "image.bin", "--extract", out.string()}, {.folder = dir_}).exitCode, 0);
  const dumpe2e::Wav gap = Extracted(out, 8);
  EXPECT_EQ(gap.rate, 8000u);
  EXPECT_EQ(gap.samples, std::vector<int32_t>(1234, 0));
  const dumpe2e::Wav hush = Extracted(out, 9);
  EXPECT_EQ(hush.rate, 16000u);
  EXPECT_EQ(hush.samples.size(), 99u);
}

TEST_F(RoundTrip, TheMainClockSetsTheRates) {
  const auto out = CleanScratchFolder(QS71_TEST_TMPDIR, "roundtrip_clock");
  ASSERT_EQ(RunProcess({kDump, "--main-clock", "8192000", "--extract", out.string(), "image.bin"},
                       {.folder = dir_})
                .exitCode,
            0);
  EXPECT_EQ(Extracted(out, 1).rate, 8000u);
  EXPECT_EQ(Extracted(out, 8).rate, 4000u);
}

// ---- The map of known images --------------------------------------------------------------

const char kSmallScript[] =
    ".GLOBAL $FILESIZE = 1000h\n"
    ".GLOBAL $SECNUM = 5\n"
    ".GLOBAL $VOL_CFG = 3FFFh\n"
    ".GLOBAL $VOL_MAP = \"10204080\"\n"
    ".ADPCM tone = \"tone.wav\"\n"
    ".PCM16 RampDec = \"ramp.wav\"\n"
    ".SILENCE gap = 100\n"
    ".SECTION [1] $EDGE = \"Yes\"\n"
    ".SECTION [1] $GROUPS = tone(8000):0\n"
    ".SECTION [1] $GROUPS = gap(8000):0\n"
    ".SECTION [2] $HOLD = \"Yes\"\n"
    ".SECTION [2] $OPTION = 3\n"
    ".SECTION [2] $GROUPS = tone(16000):1\n";

TEST(Map, OfASmallImageShowsWhatTheScriptDeclared) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "small");
  WriteWav(dir, "tone.wav", testwav::MakeSamples({Shape::Sine, 1000, 0, 0.5, 1}, 9, 8000), 16,
           8000);
  WriteWav(dir, "ramp.wav", testwav::MakeSamples({Shape::Ramp, 0, 0, 0.25, 1}, 4, 8000), 16, 8000);
  Compile(dir, kSmallScript);
  const auto dump = RunProcess({kDump, "image.bin"}, {.folder = dir});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  EXPECT_EQ(dump.out,
            ReadFileText(std::filesystem::path(QS71_DUMP_EXPECTED_DIR) / "small_map.txt"));
}

struct Layout {
  const char* name;
  const char* globals;
  const char* grpAdr;
  const char* offset;
};

const Layout kLayouts[] = {
    {"grpadr1", ".GLOBAL $GRPADR = 1\n", "\"grpadr\": 1,", "\"offset\": 0,"},
    {"grpadr2", ".GLOBAL $GRPADR = 2\n", "\"grpadr\": 2,", "\"offset\": 0,"},
    {"grpadr4", ".GLOBAL $GRPADR = 4\n", "\"grpadr\": 4,", "\"offset\": 0,"},
    {"offset", ".GLOBAL $OFFSET = -100h\n", "\"grpadr\": 3,", "\"offset\": -256,"},
};

TEST(Map, FindsGrpAdrAndOffsetOfEveryLayout) {
  for (const Layout& l : kLayouts) {
    const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, std::string("layout_") + l.name);
    WriteWav(dir, "a.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 40, 8000), 16, 8000);
    Compile(dir, std::string(".GLOBAL $FILESIZE = 1000h\n") + l.globals +
                     ".PCM16 a = \"a.wav\"\n.SILENCE q = 20\n"
                     ".SECTION [0] $GROUPS = q(8000):0\n.SECTION [6] $GROUPS = a(8000):0\n"
                     ".SECTION [6] $GROUPS = q(8000):1\n");
    const auto dump = RunProcess({kDump, "--json", "image.bin"}, {.folder = dir});
    ASSERT_EQ(dump.exitCode, 0) << l.name << ": " << dump.err;
    EXPECT_NE(dump.out.find(l.grpAdr), std::string::npos) << l.name;
    EXPECT_NE(dump.out.find(l.offset), std::string::npos) << l.name;
    EXPECT_NE(dump.out.find("\"length\": 80,"), std::string::npos) << l.name;  // 40 PCM16 samples
  }
}

// The value that follows the field's name in the JSON document.
long FieldValue(const std::string& json, const std::string& name) {
  const size_t at = json.find("\"name\": \"" + name + "\"");
  const size_t value = json.find("\"value\": ", at);
  if (at == std::string::npos || value == std::string::npos) return -1;
  return std::strtol(json.c_str() + value + 9, nullptr, 10);
}

TEST(Map, ShowsTheConfigurationBlockFieldByField) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "cfgmem");
  Compile(dir,
          ".GLOBAL $FILESIZE = 1000h\n.CFGMEM LvrSet = 1\n.CFGMEM RoscV2 = 123h\n"
          ".CFGMEM pwmbits = 11\n.CFGMEM SecNum = 1024\n.CFGMEM Slave = 1\n");
  const auto dump = RunProcess({kDump, "--json", "image.bin"}, {.folder = dir});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  EXPECT_NE(dump.out.find("\"config_block\": {"), std::string::npos);
  EXPECT_EQ(FieldValue(dump.out, "LvrSet"), 1);
  EXPECT_EQ(FieldValue(dump.out, "RoscV2"), 0x123);
  EXPECT_EQ(FieldValue(dump.out, "pwmbits"), 11);
  EXPECT_EQ(FieldValue(dump.out, "SecNum"), 1024);
  EXPECT_EQ(FieldValue(dump.out, "Slave"), 0);  // byte 33 cleared: a slave part
}

// ---- The verdict on the factory cells --------------------------------------------------------

TEST(Map, NamesAFactoryCellThatAWriteWouldClear) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "factory");
  Compile(dir, ".GLOBAL $FILESIZE = 40000h\n.SILENCE q = 20\n.SECTION [1] $GROUPS = q(8000):0\n");
  std::vector<uint8_t> image = ReadFileBytes(dir / "image.bin");
  const auto clean = RunProcess({kDump, "image.bin"}, {.folder = dir});
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_EQ(clean.out.find("factory trim at"), std::string::npos) << clean.out;
  image[image.size() - 63] = 0x00;
  testwav::WriteFile(dir / "trim.bin", image);
  const auto text = RunProcess({kDump, "trim.bin"}, {.folder = dir});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("  A write would clear the part's factory trim at 0x03FFC1 (k = 63, "
                          "image byte 00, factory bits FF): qs71prog refuses the image, even "
                          "with --force\n"),
            std::string::npos)
      << text.out;
  const auto json = RunProcess({kDump, "--json", "trim.bin"}, {.folder = dir});
  EXPECT_NE(json.out.find("\"factory_cell\": {\n      \"distance\": 63,\n      \"pos\": 262081,"),
            std::string::npos)
      << json.out;
}

// ---- Files that are not images ------------------------------------------------------------

struct Bad {
  const char* name;
  int exitCode;
  const char* err;
};

std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(n);
  for (uint8_t& b : out) b = static_cast<uint8_t>(random());
  return out;
}

TEST(NotAnImage, GivesItsErrorAndExitCode) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "bad");
  WriteWav(dir, "a.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 100, 8000), 16, 8000);
  Compile(dir,
          ".GLOBAL $FILESIZE = 1000h\n.ADPCM a = \"a.wav\"\n.SECTION [1] $GROUPS = a(8000):0\n");
  const std::vector<uint8_t> good = ReadFileBytes(dir / "image.bin");
  std::vector<uint8_t> inconsistent = good;
  inconsistent[32] = 0x3F;  // the type byte of section 1's first link
  testwav::WriteFile(dir / "empty.bin", {});
  testwav::WriteFile(dir / "short.bin", std::vector<uint8_t>(511, 0xFF));
  testwav::WriteFile(dir / "truncated.bin", {good.begin(), good.begin() + 0x800});
  testwav::WriteFile(dir / "inconsistent.bin", inconsistent);
  testwav::WriteFile(dir / "random.bin", Random(0x1000, 99));
  const Bad kBad[] = {
      {"empty.bin", 3, "not an image: too small: empty.bin: 0 bytes"},
      {"short.bin", 3, "not an image: too small: short.bin: 511 bytes"},
      {"truncated.bin", 3, "not an image: no tag 5A A5: truncated.bin: 0x0007BE holds"},
      {"inconsistent.bin", 3,
       "not an image: inconsistent group entries: inconsistent.bin: group entry at 0x000020 has "
       "the type byte 3F"},
      {"random.bin", 3, "not an image: no tag 5A A5: random.bin"},
      {"missing.bin", 2, "cannot read the image: missing.bin"},
      {".", 2, "cannot read the image: ."},
  };
  // With --html the same status and message, and no page at all.
  const auto files = std::distance(std::filesystem::directory_iterator(dir), {});
  for (const Bad& b : kBad) {
    const std::vector<std::string> optionSets[] = {{}, {"--html", "p.html"}};
    for (const std::vector<std::string>& options : optionSets) {
      std::vector<std::string> args = {kDump};
      args.insert(args.end(), options.begin(), options.end());
      args.push_back(b.name);
      const auto dump = RunProcess(args, {.folder = dir});
      EXPECT_EQ(dump.exitCode, b.exitCode) << b.name << ": " << dump.err;
      EXPECT_EQ(dump.err.rfind(std::string("qs71dump: ") + b.err, 0), 0u) << dump.err;
      EXPECT_TRUE(dump.out.empty()) << b.name;
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), files) << b.name;
    }
  }
}

// The page never replaces the image, and a page that cannot be written names its file.
TEST(Page, IsRefusedOverTheImageAndNamesAFileItCannotWrite) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "page");
  Compile(dir, ".GLOBAL $FILESIZE = 1000h\n.SILENCE q = 20\n.SECTION [1] $GROUPS = q(8000):0\n");
  const std::vector<uint8_t> image = ReadFileBytes(dir / "image.bin");
  const struct {
    const char* page;
    const char* err;
  } kRows[] = {
      {"./image.bin", "qs71dump: cannot write the page: ./image.bin: is the image; refusing to "
                      "write the page over it\n"},
      {"no/page.html", "qs71dump: cannot write the page: no/page.html: No such file or directory\n"},
  };
  for (const auto& row : kRows) {
    const auto dump = RunProcess({kDump, "--html", row.page, "image.bin"}, {.folder = dir});
    EXPECT_EQ(dump.exitCode, 2) << row.page;
    EXPECT_EQ(dump.err, row.err);
    EXPECT_EQ(ReadFileBytes(dir / "image.bin"), image);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

// The bytes of the first chip player's data URI on a page (qs71gen's puts the source's before
// it); empty when there is none.
std::vector<uint8_t> ChipPlayerBytes(const std::string& page) {
  const std::string head = "src=\"data:audio/wav;base64,";
  const size_t from = page.find(head, page.find("-chip\""));
  if (from == std::string::npos) return {};
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = from + head.size(); i < page.size() && alphabet.find(page[i]) != std::string::npos; ++i) {
    bits = bits << 6 | static_cast<uint32_t>(alphabet.find(page[i]));
    if ((count += 6) >= 8) bytes.push_back(static_cast<uint8_t>(bits >> (count -= 8)));
  }
  return bytes;
}

// qs71gen's page plays a sound at the script's $MAINCLK. qs71dump reads an image without its
// clock: at its own it says so, and given the script's it writes the very file the page plays.
// The clock counts divided by 32 and truncated, as the generator worked out the dividers:
// 12000127 Hz plays divider 22 at 16304 Hz, not at the 16305 of the clock untruncated.
TEST(Page, PlaysTheFileExtractedAtTheScriptsClock) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "page_clock");
  WriteWav(dir, "tone.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 1600, 16000));
  const std::string script =
      ".GLOBAL $FILESIZE = 1000h\n.GLOBAL $MAINCLK = 12000127\n.ADPCM t = \"tone.wav\"\n"
      ".SECTION [1] $GROUPS = t(16000):0\n";
  testwav::WriteFile(dir / "script.qs", {script.begin(), script.end()});
  ASSERT_EQ(RunProcess({kGen, "--html", "p.html", "script.qs", "image.bin"}, {.folder = dir}).exitCode, 0);
  const std::vector<uint8_t> played = ChipPlayerBytes(ReadFileText(dir / "p.html"));
  dumpe2e::Wav page;
  testwav::WriteFile(dir / "played.wav", played);
  ASSERT_TRUE(dumpe2e::ReadWav(dir / "played.wav", &page));
  EXPECT_EQ(page.rate, 16304u);
  const struct {
    std::vector<std::string> clock;
    uint32_t rate;
    bool warned;
  } kRows[] = {{{}, 22261, true}, {{"--main-clock", "12000127"}, 16304, false}};
  for (const auto& row : kRows) {
    const auto out = CleanScratchFolder(QS71_TEST_TMPDIR, "page_clock_wav");
    std::vector<std::string> args = {kDump, "--extract", out.string(), "image.bin"};
    args.insert(args.begin() + 1, row.clock.begin(), row.clock.end());
    const auto dump = RunProcess(args, {.folder = dir});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.err.find("give --main-clock with the script's $MAINCLK") != std::string::npos, row.warned)
        << dump.err;
    dumpe2e::Wav extracted;
    ASSERT_TRUE(dumpe2e::ReadWav(dumpe2e::FindFile(out, "001_"), &extracted));
    EXPECT_EQ(extracted.rate, row.rate);
    if (!row.warned) {
      EXPECT_EQ(ReadFileBytes(dumpe2e::FindFile(out, "001_")), played);
    }
  }
}

// The size is judged before anything is read: a sparse file of 100 GiB is refused at once,
// also with too little address space to read even the part that could be an image.
TEST(NotAnImage, AHugeFileIsRefusedByItsSize) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "huge");
  testwav::WriteFile(dir / "huge.bin", {0x00});
  std::error_code error;
  std::filesystem::resize_file(dir / "huge.bin", uint64_t{100} << 30, error);
  if (error) GTEST_SKIP() << "no sparse file of 100 GiB here: " << error.message();
  // A sanitizer reserves more address space than any limit that would tell.
  const std::string limit = kSanitized ? "" : "ulimit -v 131072; ";
  const auto dump =
      RunProcess({"/bin/sh", "-c", limit + "exec '" + kDump + "' huge.bin"}, {.folder = dir});
  EXPECT_EQ(dump.exitCode, 3) << dump.err;
  EXPECT_EQ(dump.err,
            "qs71dump: not an image: too large: huge.bin: 107374182400 bytes; the chip address "
            "space ends at 0x10000000\n");
}

// A report that does not reach its reader is a failure, with the system's reason.
TEST(Output, ThatCannotBeWrittenFails) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "full");
  Compile(dir, ".GLOBAL $FILESIZE = 1000h\n.SILENCE q = 20\n.SECTION [1] $GROUPS = q(8000):0\n");
  for (const char* option : {"", "--json "}) {
    const auto dump = RunProcess(
        {"/bin/sh", "-c", "exec '" + kDump + "' " + option + "image.bin > /dev/full"},
        {.folder = dir});
    EXPECT_EQ(dump.exitCode, 2) << option;
    EXPECT_EQ(dump.err,
              "qs71dump: cannot write the output: standard output: No space left on device\n")
        << option;
  }
}

// qs71dump IMAGE in folder, its standard output a pipe whose reader has already gone and its
// standard error the file err.txt there. SIGPIPE starts at its default, whatever the test
// runner inherited, so that only the program itself can turn the closed pipe into a message.
// The exit status as a shell shows it.
int RunIntoClosedPipe(const std::filesystem::path& folder, const std::string& image) {
  int ends[2];
  if (pipe(ends) != 0) return -1;
  close(ends[0]);
  const std::string errFile = (folder / "err.txt").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::string program = kDump;
  std::string path = (folder / image).string();
  char* argv[] = {program.data(), path.data(), nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(ends[1]);
  int status = 0;
  if (error != 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// A reader that went away (qs71dump image.bin | head) is a failed write like a full disk, not a
// silent death by SIGPIPE.
TEST(Output, IntoAClosedPipeFails) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "closed_pipe");
  Compile(dir, ".GLOBAL $FILESIZE = 1000h\n.SILENCE q = 20\n.SECTION [1] $GROUPS = q(8000):0\n");
  EXPECT_EQ(RunIntoClosedPipe(dir, "image.bin"), 2);
  EXPECT_EQ(ReadFileText(dir / "err.txt"),
            "qs71dump: cannot write the output: standard output: Broken pipe\n");
}

// The real image with random bytes over its header, tables and first sound bytes: qs71dump
// reports or refuses, and never crashes.
TEST(NotAnImage, RandomTablesNeverCrashTheTool) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "random_tables");
  WriteWav(dir, "a.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 100, 8000), 16, 8000);
  Compile(dir,
          ".GLOBAL $FILESIZE = 1000h\n.ADPCM a = \"a.wav\"\n.SECTION [1] $GROUPS = a(8000):0\n");
  const std::vector<uint8_t> good = ReadFileBytes(dir / "image.bin");
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    std::vector<uint8_t> image = good;
    const std::vector<uint8_t> noise = Random(64, seed);
    std::copy(noise.begin(), noise.end(), image.begin());
    testwav::WriteFile(dir / "noisy.bin", image);
    const auto dump = RunProcess({kDump, "--extract", "wav", "noisy.bin"}, {.folder = dir});
    EXPECT_FALSE(dump.signaled) << seed;
    EXPECT_TRUE(dump.exitCode == 0 || dump.exitCode == 3) << seed << ": " << dump.err;
  }
}



// ---- Names ----------------------------------------------------------------------------------

// The folder's files after the run, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// --names takes the sounds' names from the script or from qs71gen's map: each extracted file is
// named after its sound and holds what the file named by its position holds.
TEST(Names, ExtractedFilesAreNamedAfterTheSounds) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "names");
  WriteWav(dir, "a.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 1600, 16000));
  WriteWav(dir, "b.wav", testwav::MakeSamples({Shape::Sine, 900, 0, 0.5, 1}, 800, 16000), 8);
  const std::string script =
      "; .SECTION [1] $GROUPS = nope(8000):0 in a comment names nothing\n"
      ".GLOBAL $FILESIZE = 4000h\r\n"
      ".DEFINE BUTTON = 2\n"
      ".ADPCM hello = \"a.wav\"\n"
      ".PCM8  Beep_2 = \"b.wav\"  ; spelt so in the file name, whatever its links write\n"
      ".SILENCE gap = 800\n"
      ".section [1] $groups = hello(8000):0\n"
      ".SECTION [1] $GROUPS = gap(8000):0\n"
      ".SECTION [ BUTTON ] $GROUPS = BEEP_2(16000):0\n"
      ".SECTION [03h] $GROUPS = hello(8000):1\n";
  testwav::WriteFile(dir / "script.qs", {script.begin(), script.end()});
  const auto gen = RunProcess({kGen, "--map", "image.map", "script.qs", "image.bin"}, {.folder = dir});
  ASSERT_EQ(gen.exitCode, 0) << gen.out << gen.err;
  const auto plain = RunProcess({kDump, "--extract", "plain", "image.bin"}, {.folder = dir});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const std::vector<std::string> positions = FileNames(dir / "plain");
  ASSERT_EQ(positions.size(), 3u);
  for (const char* names : {"script.qs", "image.map"}) {
    SCOPED_TRACE(names);
    const std::string out = std::string("named-") + names;
    const auto dump = RunProcess({kDump, "--extract", out, "--names", names, "image.bin"}, {.folder = dir});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(dump.err, "");
    EXPECT_EQ(FileNames(dir / out), (std::vector<std::string>{"Beep_2.wav", "gap.wav", "hello.wav"}));
    // The map's order: hello, gap, Beep_2 are the first, second and third sound.
    const char* const named[] = {"hello.wav", "gap.wav", "Beep_2.wav"};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(ReadFileBytes(dir / out / named[i]), ReadFileBytes(dir / "plain" / positions[i])) << named[i];
    }
    EXPECT_NE(dump.out.find("-> " + out + "/hello.wav ("), std::string::npos) << dump.out;
  }
}

// What --names cannot take is said: a map of another image or of a failed compile, a file that
// is not there, a section number it cannot work out (those sounds keep their positions' names).
TEST(Names, RefusalsAndWarnings) {
  const auto dir = CleanScratchFolder(QS71_TEST_TMPDIR, "names_refused");
  WriteWav(dir, "a.wav", testwav::MakeSamples({Shape::Sine, 440, 0, 0.5, 1}, 1600, 16000));
  const std::string script = ".GLOBAL $FILESIZE = 4000h\n.ADPCM a = \"a.wav\"\n.ADPCM b = \"a.wav\"\n"
                             ".SECTION [1] $GROUPS = a(8000):0\n.SECTION [1+1] $GROUPS = b(8000):0\n";
  testwav::WriteFile(dir / "script.qs", {script.begin(), script.end()});
  ASSERT_EQ(RunProcess({kGen, "--map", "image.map", "script.qs", "image.bin"}, {.folder = dir}).exitCode, 0);
  const std::string other = ".GLOBAL $FILESIZE = 4000h\n.ADPCM a = \"a.wav\"\n.SECTION [1] $GROUPS = a(16000):0\n";
  testwav::WriteFile(dir / "other.qs", {other.begin(), other.end()});
  ASSERT_EQ(RunProcess({kGen, "--map", "other.map", "other.qs", "other.bin"}, {.folder = dir}).exitCode, 0);
  const std::string failed = ".GLOBAL $FILESIZE = 4000h\n.ADPCM a = \"missing.wav\"\n.SECTION [1] $GROUPS = a(8000):0\n";
  testwav::WriteFile(dir / "failed.qs", {failed.begin(), failed.end()});
  RunProcess({kGen, "--map", "failed.map", "failed.qs", "failed.bin"}, {.folder = dir});
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
    std::vector<std::string> files;
  } kRows[] = {
      {{"--names", "script.qs"}, 0,
       "qs71dump: warning: script.qs:5: a section number that is not a number or a .DEFINE of one; give the map "
       "qs71gen wrote to name its sounds\nqs71dump: warning: script.qs names 0 links of section 2 where the image "
       "has 1; its sounds keep the names of their positions\n",
       {"002_adpcm_000350.wav", "a.wav"}},
      {{"--names", "image.map"}, 0, "", {"a.wav", "b.wav"}},
      {{"--names", "other.map"}, 2, "is a map of another image (sha256 ", {}},
      {{"--names", "failed.map"}, 2, "failed.map is the map of a failed compile, which wrote no image", {}},
      {{"--names", "nothing.qs"}, 2, "qs71dump: cannot name the sounds: nothing.qs: No such file or directory", {}},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.args[1]);
    const auto out = CleanScratchFolder(QS71_TEST_TMPDIR, "names_refused_out");
    std::vector<std::string> args = {kDump, "--extract", out.string(), "image.bin"};
    args.insert(args.begin() + 1, row.args.begin(), row.args.end());
    const auto dump = RunProcess(args, {.folder = dir});
    EXPECT_EQ(dump.exitCode, row.exitCode) << dump.err;
    if (row.exitCode == 0) {
      EXPECT_EQ(dump.err, row.err);
    } else {
      EXPECT_NE(dump.err.find(row.err), std::string::npos) << dump.err;
    }
    EXPECT_EQ(FileNames(out), row.files);
  }
  const auto alone = RunProcess({kDump, "--names", "script.qs", "image.bin"}, {.folder = dir});
  EXPECT_EQ(alone.exitCode, 1) << alone.err;
}

}  // namespace
