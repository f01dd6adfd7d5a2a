// What qs71prog does to keep a part safe and a job traceable: the chip identified before any
// operation, the failure said in plain words, Ctrl-C sent as a real signal during and outside
// a write, and the image's SHA-256 in the log, the same as qs71gen's map and qs71dump give.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <map>

#include "file_contents.h"
#include "json_events.h"
#include "output_lines.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

constexpr size_t kSmallPart = 262144;

class ProgSafety : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir);
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(ReadFileBytes(image).size(), kSmallPart);
    chip = (dir / "chip.otp").string();
    transcript = (dir / "wire.txt").string();
  }

  // "IMAGE", "CHIP" and "WIRE" stand for this test's files.
  std::vector<std::string> Arguments(std::vector<std::string> arguments) const {
    for (std::string& argument : arguments) {
      if (argument == "IMAGE") argument = image.string();
      if (argument == "--emulate=CHIP") argument = "--emulate=" + chip;
      if (argument == "WIRE") argument = transcript;
    }
    return arguments;
  }

  std::filesystem::path dir;
  std::filesystem::path image;
  std::string chip;
  std::string transcript;
};

// Requests by command byte in lower-case hex: "79" begins a blank check or a verify, "73" and
// "74" are a write's begin and data.
std::map<std::string, int> Requests(const std::string& transcript) {
  std::map<std::string, int> requests;
  for (const std::string& line : Lines(ReadFileText(transcript))) {
    if (line.rfind("> ", 0) == 0) ++requests[line.substr(2, 2)];
  }
  return requests;
}

// One per call of the library.
int Attachments(const std::string& transcript) {
  int calls = 0;
  for (const std::string& line : Lines(ReadFileText(transcript))) {
    calls += line.rfind("# emulated programmer attached", 0) == 0;
  }
  return calls;
}

bool HasLine(const std::string& text, const std::string& line) {
  const std::vector<std::string> lines = Lines(text);
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct SizeCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string summary;
};

class ProgImageSize : public ProgSafety, public testing::WithParamInterface<SizeCase> {};

// A 256 KiB image on a 512 KiB part: the identification is the only call, so no blank check
// request ever reaches the programmer.
TEST_P(ProgImageSize, IsRefusedBeforeTheBlankCheck) {
  const ProcessResult run = RunProg(Arguments(GetParam().arguments), {{"QS71_EMU_ID", "6D610400"}});
  EXPECT_EQ(run.exitCode, 5) << run.out << run.err;
  EXPECT_TRUE(HasLine(run.err, "qs71prog: " + image.string() +
                                   " is 262144 bytes, the chip's OTP 524288: nothing was done to "
                                   "the part"))
      << run.err;
  EXPECT_NE(run.err.find(GetParam().summary), std::string::npos) << run.err;
  EXPECT_EQ(Attachments(transcript), 1);
  const std::map<std::string, int> requests = Requests(transcript);
  EXPECT_EQ(requests.count("79"), 0u) << "a blank check or verify began";
  EXPECT_EQ(requests.count("73") + requests.count("74"), 0u) << "a write began";
  EXPECT_EQ(requests.at("70"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgImageSize,
    testing::Values(
        SizeCase{"Write",
                 {"--emulate", "--transcript", "WIRE", "--write", "IMAGE"},
                 "failed in write: the image file's size differs from the chip's OTP size (-52); "
                 "exit 5 (image-size)"},
        SizeCase{"Verify",
                 {"--emulate", "--transcript", "WIRE", "--verify", "IMAGE"},
                 "failed in verify: the image file's size differs"}),
    [](const testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

TEST_F(ProgSafety, IdentifyAloneIsStillOneCall) {
  const ProcessResult run = RunProg(Arguments({"--emulate", "--transcript", "WIRE", "--identify"}));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Attachments(transcript), 1);
  EXPECT_NE(run.out.find("qs71prog: done: identified a 262144-byte chip in "), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("sha256"), std::string::npos) << "no image, no fingerprint";
}

// A file far larger than any part is refused on its size alone: it is neither read nor
// hashed, however long that would take.
TEST_F(ProgSafety, AHugeFileIsRefusedUnread) {
  const std::filesystem::path huge = dir / "huge.bin";
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, std::uintmax_t{1} << 30);
  const ProcessResult run = RunProg({"--emulate", "--write", huge.string()});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_EQ(run.err.find("sha256"), std::string::npos) << run.err;
}

// The first cell the demo image programs: a cell stuck at 0xFF there shows in the verify.
std::string FirstProgrammedCell(const std::filesystem::path& image) {
  const std::vector<uint8_t> bytes = ReadFileBytes(image);
  size_t cell = 0;
  while (cell < bytes.size() && bytes[cell] == 0xFF) ++cell;
  return std::to_string(cell);
}

struct WordsCase {
  const char* name;
  Environment environment;
  std::vector<std::string> arguments;
  bool programFirst;  // write the image onto CHIP before the run
  int exit;
  std::string words;        // qs71prog's line on standard error, "IMAGE" for the image
  std::string libraryLine;  // the library's own line, exactly as it prints it
};

class ProgPlainWords : public ProgSafety, public testing::WithParamInterface<WordsCase> {};

TEST_P(ProgPlainWords, FollowTheLibrarysOwnLine) {
  const WordsCase& c = GetParam();
  if (c.programFirst) {
    ASSERT_EQ(RunProg(Arguments({"--emulate=CHIP", "--write", "IMAGE"})).exitCode, 0);
  }
  Environment environment = c.environment;
  for (auto& [name, value] : environment) {
    if (value == "stuck:FIRST") value = "stuck:" + FirstProgrammedCell(image);
  }
  const ProcessResult run = RunProg(Arguments(c.arguments), environment);
  EXPECT_EQ(run.exitCode, c.exit) << run.out << run.err;
  std::string words = "qs71prog: " + c.words;
  if (const size_t at = words.find("IMAGE"); at != std::string::npos) {
    words.replace(at, 5, image.string());
  }
  EXPECT_TRUE(HasLine(run.err, words)) << run.err;
  EXPECT_TRUE(HasLine(run.out, c.libraryLine)) << run.out;
  EXPECT_EQ(run.err.find("udev"), std::string::npos) << "the emulator has no node to open";
  EXPECT_EQ(run.err.find("plugged in"), std::string::npos) << "nobody plugs the emulator in";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgPlainWords,
    testing::Values(
        WordsCase{"NoProgrammer",
                  {{"QS71_EMU_FAULTS", "no-device"}},
                  {"--emulate", "--write", "IMAGE"},
                  false,
                  3,
                  "the emulated programmer did not take the call: the emulated library's message "
                  "above says why (its chip file, QS71_EMU_FAULTS, QS71_EMU_BUS or another "
                  "QS71_EMU_ setting)",
                  "Failed to start OTP test!! (-20)"},
        WordsCase{"WrongChipId",
                  {{"QS71_EMU_ID", "12340200"}},
                  {"--emulate", "--blank-check"},
                  false,
                  4,
                  "the chip's ID reads 12 34 02 00, expected 6D 61 02 xx (256 KiB), 6D 61 04 xx "
                  "(512 KiB), 6D 61 08 xx (1 MiB) or 6D 61 16 xx (2 MiB)",
                  "[ERROR] Invalid OTP ID! (0x12,0x34,0x02,0x00)"},
        WordsCase{"UnknownSizeCode",
                  {{"QS71_EMU_ID", "6D611000"}},
                  {"--emulate", "--write", "IMAGE"},
                  false,
                  4,
                  "the chip's ID reads 6D 61 10 00, expected 6D 61 02 xx (256 KiB), 6D 61 04 xx "
                  "(512 KiB), 6D 61 08 xx (1 MiB) or 6D 61 16 xx (2 MiB)",
                  "[ERROR] Undefined OTP size! (0x6D,0x61,0x10,0x00)"},
        WordsCase{"NotBlank",
                  {},
                  {"--emulate=CHIP", "--blank-check"},
                  true,
                  6,
                  "blank check: programmed cells in the main area 0x000000-0x03FDFF, the part is "
                  "not blank",
                  "[ERROR] OTP NOT blank!"},
        WordsCase{"VerifyMismatch",
                  {{"QS71_EMU_FAULTS", "stuck:FIRST"}},
                  {"--emulate", "--write", "IMAGE"},
                  false,
                  8,
                  "verify: the main area 0x000000-0x03FDFF differs from IMAGE",
                  "[ERROR] Data NOT match!"}),
    [](const testing::TestParamInfo<WordsCase>& info) { return std::string(info.param.name); });

// The last progress line of a failed verify is the verify's, and says that it failed.
TEST_F(ProgSafety, AFailedVerifyEndsItsProgressWhereItStopped) {
  const ProcessResult run = RunProg(Arguments({"--emulate", "--write", "IMAGE"}),
                              {{"QS71_EMU_FAULTS", "stuck:" + FirstProgrammedCell(image)}});
  ASSERT_EQ(run.exitCode, 8) << run.out << run.err;
  std::string last;
  for (const std::string& line : Lines(run.out)) {
    for (const char* stage : {"blank check ", "write ", "verify "}) {
      if (line.rfind(stage, 0) == 0) last = line;
    }
  }
  EXPECT_EQ(last, "verify  99%  address 0x03FDFF of 0x03FFFF  failed") << run.out;
}

// The production library with no programmer attached: on Linux the udev rule is named too.
TEST_F(ProgSafety, NoProgrammerNamesTheUdevRule) {
  const ProcessResult run = RunProg({"--library", QS71_PRODUCTION_LIBRARY, "--blank-check"});
  ASSERT_EQ(run.exitCode, 3) << run.out << run.err;
  EXPECT_TRUE(HasLine(
      run.err, "qs71prog: no QS71 programmer found (USB 04d8:fe08) \xE2\x80\x94 is it plugged in?"))
      << run.err;
  EXPECT_NE(run.err.find("70-qs71-programmer.rules"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("sudo udevadm control --reload-rules"), std::string::npos) << run.err;
}

// The digest of an image as qs71gen's map gives it.
std::string MapSha256(const std::filesystem::path& map) {
  for (const std::string& line : Lines(ReadFileText(map))) {
    if (line.rfind("sha256 ", 0) == 0) return line.substr(line.find_last_of(' ') + 1);
  }
  return "";
}

TEST_F(ProgSafety, TheImagesSha256IsTheOneTheMapAndTheDumpGive) {
  const std::filesystem::path mapped = dir / "mapped.bin";
  const std::filesystem::path map = dir / "mapped.map";
  const std::string compile = "cd '" + (dir / "project").string() +
                              "' && '" QS71GEN_PATH "' --map '" + map.string() + "' demo.qs '" +
                              mapped.string() + "' >/dev/null";
  ASSERT_EQ(std::system(compile.c_str()), 0);
  const std::string sha256 = MapSha256(map);
  ASSERT_EQ(sha256.size(), 64u) << ReadFileText(map);
  EXPECT_EQ(sha256.find_first_not_of("0123456789abcdef"), std::string::npos) << sha256;
#ifdef QS71DUMP_PATH
  const std::string dumped = (dir / "dump.txt").string();
  const std::string dump = "'" QS71DUMP_PATH "' '" + mapped.string() + "' > '" + dumped + "'";
  ASSERT_EQ(std::system(dump.c_str()), 0);
  EXPECT_TRUE(HasLine(ReadFileText(dumped), "SHA-256 " + sha256));
#endif

  const ProcessResult json = RunProg({"--emulate", "--write", mapped.string(), "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.out << json.err;
  const std::vector<JsonEvent> events = ParseEvents(json.out);
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front().Text("event"), "start");
  EXPECT_EQ(events.front().Text("sha256"), sha256);
  EXPECT_EQ(events.back().Text("event"), "result");
  EXPECT_EQ(events.back().Text("sha256"), sha256);

  const ProcessResult plain = RunProg({"--emulate", "--write", mapped.string()});
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  const std::vector<std::string> lines = Lines(plain.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("qs71prog: done: ", 0), 0u) << lines.back();
  const std::string trace = "; image sha256 " + sha256;
  EXPECT_EQ(lines.back().substr(lines.back().size() - trace.size()), trace) << lines.back();
}

// qs71prog under way with --json, its events read as it prints them, so that a signal can be
// sent once the run is known to be where the test wants it.
class LiveRun {
 public:
  LiveRun(const std::vector<std::string>& arguments, const Environment& environment)
      : process(CommandLine(arguments), {.environment = environment}) {}

  bool Started() const { return process.Started(); }

  // Reads events until one matches; false when the output ended first.
  bool WaitFor(const std::function<bool(const JsonEvent&)>& match) {
    std::string line;
    while (process.ReadLine(line)) {
      events.push_back({line});
      if (match(events.back())) return true;
    }
    return false;
  }

  void Send(int signal) const { process.Send(signal); }
  pid_t Pid() const { return process.Pid(); }

  // Reads what is left and returns the exit status.
  int Finish() {
    WaitFor([](const JsonEvent&) { return false; });
    return process.Wait();
  }

  std::vector<JsonEvent> events;

 private:
  static std::vector<std::string> CommandLine(const std::vector<std::string>& arguments) {
    std::vector<std::string> commandLine = {QS71PROG_PATH};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    return commandLine;
  }

  testsupport::LiveProcess process;
};

bool IsProgressOf(const JsonEvent& event, const std::string& stage) {
  return event.Text("event") == "progress" && event.Text("stage") == stage;
}

bool IsOwnMessage(const JsonEvent& event, const std::string& part) {
  return event.Text("event") == "message" && event.Text("source") == "qs71prog" &&
         event.Text("text").find(part) != std::string::npos;
}

bool SawLibraryLine(const std::vector<JsonEvent>& events, const std::string& text) {
  for (const JsonEvent& event : events) {
    if (event.Text("source") == "library" && event.Text("text") == text) return true;
  }
  return false;
}

bool SawStage(const std::vector<JsonEvent>& events, const std::string& stage) {
  for (const JsonEvent& event : events) {
    if (event.Text("event") == "stage" && event.Text("stage") == stage) return true;
  }
  return false;
}

enum class WriteSeen { kNone, kCutShort, kWhole };

struct InterruptCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* pace;          // microseconds per request: slow enough to be caught in the stage
  const char* stage;         // the signal goes once this stage's transfer is under way
  std::vector<int> signals;  // each after qs71prog has answered the one before
  int exit;
  std::string announcement;  // what qs71prog says at the first signal
  std::string resultPart;    // part of the closing line
  std::string completeLine;  // the library's line that must come, or must not with kCutShort
  WriteSeen write;
  const char* notRun;  // a stage that must never begin
};

class ProgInterrupt : public ProgSafety, public testing::WithParamInterface<InterruptCase> {};

TEST_P(ProgInterrupt, StopsWhereItSaysItWill) {
  const InterruptCase& c = GetParam();
  LiveRun run(Arguments(c.arguments), {{"QS71_EMU_PACE_US", c.pace}});
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(run.WaitFor([&](const JsonEvent& e) { return IsProgressOf(e, c.stage); }))
      << "the stage never showed progress";
  for (size_t i = 0; i < c.signals.size(); ++i) {
    run.Send(c.signals[i]);
    if (i + 1 == c.signals.size()) break;
    ASSERT_TRUE(run.WaitFor([](const JsonEvent& e) { return IsOwnMessage(e, "Ctrl-C"); }));
  }
  EXPECT_EQ(run.Finish(), c.exit);
  bool announced = false;
  for (const JsonEvent& event : run.events) announced |= IsOwnMessage(event, c.announcement);
  EXPECT_TRUE(announced) << c.announcement;
  ASSERT_FALSE(run.events.empty());
  const JsonEvent& result = run.events.back();
  EXPECT_EQ(result.Text("event"), "result") << result.line;
  EXPECT_EQ(result.Number("exit"), c.exit);
  EXPECT_NE(result.Text("message").find(c.resultPart), std::string::npos) << result.line;
  EXPECT_EQ(SawLibraryLine(run.events, c.completeLine), c.write != WriteSeen::kCutShort)
      << c.completeLine;
  EXPECT_FALSE(SawStage(run.events, c.notRun)) << c.notRun;
  // The aborted process may not have flushed the transcript's last lines; a write that was
  // cut short shows fewer data requests than the part has 32-byte rows in any case.
  const int rows = Requests(transcript)["74"];
  switch (c.write) {
    case WriteSeen::kNone:
      EXPECT_EQ(rows, 0);
      break;
    case WriteSeen::kCutShort:
      EXPECT_LT(rows, static_cast<int>(kSmallPart / 32));
      break;
    case WriteSeen::kWhole:
      EXPECT_EQ(rows, static_cast<int>(kSmallPart / 32));
      break;
  }
}

const std::vector<std::string> kWriteOnly = {
    "--emulate=CHIP", "--transcript", "WIRE", "--write", "IMAGE", "--no-blank-check", "--json"};
const std::vector<std::string> kFullWrite = {"--emulate", "--transcript", "WIRE",
                                             "--write",   "IMAGE",        "--json"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgInterrupt,
    testing::Values(InterruptCase{"CtrlCDuringTheWriteLetsItFinish",
                                  kWriteOnly,
                                  "200",
                                  "write",
                                  {SIGINT},
                                  12,
                                  "the write will finish",
                                  "interrupted after the write; not run: verify",
                                  "Write OTP complete.",
                                  WriteSeen::kWhole,
                                  "verify"},
                    InterruptCase{"ASecondCtrlCDuringTheWriteStopsAtOnce",
                                  kWriteOnly,
                                  "1000",
                                  "write",
                                  {SIGINT, SIGINT},
                                  13,
                                  "the write will finish",
                                  "aborted during the write: the part is partly written",
                                  "Write OTP complete.",
                                  WriteSeen::kCutShort,
                                  "verify"},
                    InterruptCase{"CtrlCDuringTheBlankCheckStopsAfterIt",
                                  kFullWrite,
                                  "200",
                                  "blank-check",
                                  {SIGINT},
                                  12,
                                  "stops after the blank check",
                                  "interrupted after the blank check; not run: write, verify",
                                  "OTP blank check complete.",
                                  WriteSeen::kNone,
                                  "write"},
                    InterruptCase{"SigtermIsTakenLikeCtrlC",
                                  kFullWrite,
                                  "200",
                                  "blank-check",
                                  {SIGTERM},
                                  12,
                                  "SIGTERM: qs71prog stops after the blank check",
                                  "interrupted by SIGTERM after the blank check",
                                  "OTP blank check complete.",
                                  WriteSeen::kNone,
                                  "write"},
                    // A closed terminal or a dropped SSH session: the part is finished as well.
                    InterruptCase{"SighupIsTakenLikeSigterm",
                                  kFullWrite,
                                  "200",
                                  "blank-check",
                                  {SIGHUP},
                                  12,
                                  "SIGHUP: qs71prog stops after the blank check",
                                  "interrupted by SIGHUP after the blank check",
                                  "OTP blank check complete.",
                                  WriteSeen::kNone,
                                  "write"},
                    InterruptCase{"SigquitIsTakenLikeSigterm",
                                  kWriteOnly,
                                  "200",
                                  "write",
                                  {SIGQUIT},
                                  12,
                                  "SIGQUIT: the write will finish",
                                  "interrupted by SIGQUIT after the write; not run: verify",
                                  "Write OTP complete.",
                                  WriteSeen::kWhole,
                                  "verify"}),
    [](const testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.name); });

// Two qs71prog on one emulated chip file would mix two images in one part: the second is
// refused before its first request and told which process holds the file.
TEST_F(ProgSafety, ASecondProcessOnTheChipFileIsRefused) {
  LiveRun first(Arguments(kWriteOnly), {{"QS71_EMU_PACE_US", "1000"}});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(first.WaitFor([](const JsonEvent& e) { return IsProgressOf(e, "write"); }));
  const ProcessResult second = RunProg(Arguments({"--emulate=CHIP", "--identify"}));
  EXPECT_EQ(second.exitCode, 14) << second.err;
  EXPECT_NE(second.err.find("the emulated programmer with the chip file " + chip +
                            " is busy: process " + std::to_string(first.Pid()) + " (qs71prog)"),
            std::string::npos)
      << second.err;
}

// Started with standard output and error closed, as a service may start it: the screen's lines
// must not land in the chip file, which would take their numbers.
TEST_F(ProgSafety, ClosedStandardStreamsLeaveTheChipAlone) {
  const ProcessResult write = testsupport::RunProcess(
      {"sh", "-c", "exec >&- 2>&-; exec \"$0\" --emulate=\"$1\" --write \"$2\"", QS71PROG_PATH, chip, image.string()});
  EXPECT_EQ(write.exitCode, 0);
  EXPECT_EQ(RunProg(Arguments({"--emulate=CHIP", "--verify", "IMAGE"})).exitCode, 0);
}

// The emulator keeps the chip file for programmer 1 alone: a job on programmer 2 would write a
// fresh chip and verify another, so it is refused before any call, and no file is made.
TEST_F(ProgSafety, TheChipFileIsProgrammerOnesOnly) {
  const ProcessResult run = RunProg(Arguments({"--emulate=CHIP", "--programmer", "2", "--write", "IMAGE"}),
                                    {{"QS71_EMU_PROGRAMMERS", "2"}});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("keeps the chip of the emulated programmer 1 only"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(chip));
}

}  // namespace
}  // namespace qs71prog::test
