#include "display/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "display/production_display.h"
#include "terminal_screen.h"

namespace qs71prog {
namespace {

class StringSink : public TextSink {
 public:
  void Out(const std::string& text) override { out += text; }
  void Err(const std::string& text) override { err += text; }
  std::string out;
  std::string err;
};

constexpr int32_t kSize = 262144;

ProgressEvent Event(ProgressEventKind kind, int stage, int percent) {
  ProgressPoint point;
  point.stage = stage;
  point.size = kSize;
  point.percent = percent;
  point.position = static_cast<int32_t>(int64_t{kSize} * percent / 100) - 1;
  if (point.position < 0) point.position = 0;
  return {kind, point};
}

JobDescription Job() {
  JobDescription job;
  job.selection = Selection{false, true, false};
  job.image = "door\"bell.bin";
  job.library = "libqs71_usb_writer_emulated.so";
  job.emulated = true;
  job.volts = {5.0, 5.5, 6.5, 5.0};
  return job;
}

JobOutcome Success() {
  JobOutcome outcome;
  outcome.called = true;
  outcome.phase = Phase::kWrite;
  outcome.otpSize = kSize;
  outcome.seconds = 2.0;
  return outcome;
}

JobOutcome WriteFailure() {
  JobOutcome outcome = Success();
  outcome.result = -59;
  outcome.exit = ExitCode::kWriteFailed;
  return outcome;
}

// Drives a display through a write with library lines arriving while the bar is shown.
void PlayWrite(Display& display) {
  display.Begin(Job());
  display.LibraryLine("OTP test started @ VDD=3.30V, VPP=3.30V.", false);
  display.Progress(Event(ProgressEventKind::kBegan, 2, 0));
  display.LibraryLine("Import File: door.bin", false);
  for (int percent : {3, 4, 9, 27, 51, 99})
    display.Progress(Event(ProgressEventKind::kAdvanced, 2, percent));
  display.LibraryLine("qs71 emulator: a complaint", true);
  display.Progress(Event(ProgressEventKind::kAdvanced, 2, 100));
  display.LibraryLine("Write OTP complete.", false);
  display.Progress(Event(ProgressEventKind::kDone, 2, 100));
  display.LibraryLine("The OTP test stopped.", false);
}

TEST(TerminalDisplay, LibraryLinesStayWholeAboveTheBar) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  PlayWrite(*display);
  display->Finish(Job(), Success());
  const std::vector<std::string> expected = {
      "OTP test started @ VDD=3.30V, VPP=3.30V.",
      "Import File: door.bin",
      "Write OTP complete.",
      "write       [##########################] 100%  in 0:00",
      "The OTP test stopped.",
      "qs71prog: done: write on a 262144-byte chip in 0:02",
      ""};
  EXPECT_EQ(TerminalScreen(sink.out), expected);
  EXPECT_EQ(sink.err, "qs71 emulator: a complaint\n");
}

TEST(TerminalDisplay, TheBarIsWipedBeforeEveryLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  display->Progress(Event(ProgressEventKind::kBegan, 1, 0));
  display->Progress(Event(ProgressEventKind::kAdvanced, 1, 40));
  sink.out.clear();
  display->LibraryLine("[ERROR] OTP NOT blank!", false);
  // Spaces over the whole bar, back to the first column, the line, then the bar again.
  ASSERT_EQ(sink.out.substr(0, 1), "\r");
  const size_t line = sink.out.find("\r[ERROR] OTP NOT blank!\n");
  ASSERT_NE(line, std::string::npos) << sink.out;
  EXPECT_EQ(sink.out.find_first_not_of(' ', 1), line);
  EXPECT_NE(sink.out.find("blank check [##########.", line), std::string::npos);
}

TEST(TerminalDisplay, FailureSummaryGoesToStandardError) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kTerminal, sink, 60);
  display->Progress(Event(ProgressEventKind::kBegan, 2, 0));
  display->Finish(Job(), WriteFailure());
  EXPECT_EQ(TerminalScreen(sink.out), std::vector<std::string>{""});
  EXPECT_EQ(sink.err,
            "qs71prog: failed in write: the programmer's reply has an unexpected status byte "
            "(-59); exit 7 (write-failed)\n");
}

TEST(PlainDisplay, OneLinePerFivePercentAndADoneLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kPlain, sink, 0);
  PlayWrite(*display);
  EXPECT_EQ(sink.out,
            "OTP test started @ VDD=3.30V, VPP=3.30V.\n"
            "Import File: door.bin\n"
            "write   9%  address 0x005C27 of 0x03FFFF\n"
            "write  27%  address 0x011479 of 0x03FFFF\n"
            "write  51%  address 0x020A3C of 0x03FFFF\n"
            "write  99%  address 0x03F5C1 of 0x03FFFF\n"
            "Write OTP complete.\n"
            "write 100%  address 0x03FFFF of 0x03FFFF  done in 0:00\n"
            "The OTP test stopped.\n");
  EXPECT_EQ(sink.out.find('\r'), std::string::npos);
}

TEST(JsonDisplay, OneEventPerLine) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kJson, sink, 0);
  PlayWrite(*display);
  display->Finish(Job(), WriteFailure());
  const std::string expectedStart =
      "{\"event\":\"start\",\"version\":\"" QS71PROG_TEST_VERSION
      "\","
      "\"library\":\"libqs71_usb_writer_emulated.so\",\"emulated\":true,"
      "\"operations\":[\"write\"],\"image\":\"door\\\"bell.bin\",\"volts\":{\"blank_check_vdd\":5."
      "000,"
      "\"write_vdd\":5.500,\"vpp\":6.500,\"verify_vdd\":5.000}}\n";
  ASSERT_EQ(sink.out.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(sink.out.find("{\"event\":\"stage\",\"stage\":\"write\",\"state\":\"began\"}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"progress\",\"stage\":\"write\",\"progress\":10484,"
                          "\"size\":262144,\"percent\":4}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"message\",\"source\":\"library\",\"stream\":\"stderr\","
                          "\"text\":\"qs71 emulator: a complaint\"}\n"),
            std::string::npos);
  EXPECT_NE(sink.out.find("{\"event\":\"result\",\"ok\":false,\"result\":-59,\"stage\":\"write\","
                          "\"exit\":7,\"status\":\"write-failed\",\"otp_size\":262144,"
                          "\"seconds\":2.000,\"message\":\"qs71prog: failed in write: "),
            std::string::npos);
  EXPECT_EQ(sink.err, "");
}

TEST(JsonDisplay, ProgressOnlyWhenThePercentageMovesOrTheStageEnds) {
  StringSink sink;
  const auto display = MakeDisplay(DisplayKind::kJson, sink, 0);
  display->Progress(Event(ProgressEventKind::kAdvanced, 3, 40));
  auto same = Event(ProgressEventKind::kAdvanced, 3, 40);
  same.point.position += 16;
  display->Progress(same);
  auto last = Event(ProgressEventKind::kAdvanced, 3, 100);
  display->Progress(last);
  display->Progress(last);
  size_t events = 0;
  for (char c : sink.out) events += c == '\n';
  EXPECT_EQ(events, 3u);
}

TEST(Summary, LibraryThatDidNotLoad) {
  JobOutcome outcome;
  outcome.problem = "cannot load the programmer library: nope";
  outcome.exit = ExitCode::kLibraryMissing;
  EXPECT_EQ(SummaryLine(Job(), outcome),
            "qs71prog: cannot load the programmer library: nope; exit 10 (library-missing)\n");
}

// Two runs raced for a chip file not made yet: the loser learns it after its first call
// succeeded, and must read as busy, not as a call that failed with "success".
TEST(Summary, AChipFileTakenAfterTheFirstCallIsBusy) {
  JobOutcome outcome;
  outcome.called = true;
  outcome.phase = Phase::kIdentify;
  outcome.problem = "the chip file new.otp is in use by another qs71prog (process 4711)";
  outcome.exit = ExitCode::kBusy;
  const std::string line =
      "qs71prog: the chip file new.otp is in use by another qs71prog (process 4711); exit 14 "
      "(busy)";
  EXPECT_EQ(SummaryLine(Job(), outcome), line + "\n");
  StringSink sink;
  MakeDisplay(DisplayKind::kJson, sink, 0)->Finish(Job(), outcome);
  EXPECT_EQ(sink.out.find("\"result\":0"), std::string::npos) << sink.out;
  EXPECT_NE(sink.out.find("\"message\":\"" + line + "\""), std::string::npos) << sink.out;
}

ProgressPoint Point(int stage, int percent, double remaining, double elapsed = 0.0) {
  ProgressPoint point;
  point.stage = stage;
  point.size = 262144;
  point.position = static_cast<int32_t>(int64_t{point.size} * percent / 100) - 1;
  point.percent = percent;
  point.remaining = remaining;
  point.elapsed = elapsed;
  return point;
}

TEST(FormatDuration, MinutesSecondsAndHours) {
  EXPECT_EQ(FormatDuration(-1), "--:--");
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(7.4), "0:07");
  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(RenderBar, NeverReachesTheLastColumn) {
  EXPECT_EQ(RenderBar(Point(2, 50, 7), 60),
            "write       [#############.............]  50%  0:07 left");
  // The longest time left fills the line but for the last column, where a terminal wraps.
  const std::string longest = RenderBar(Point(2, 1, 3600), 60);
  EXPECT_EQ(longest, "write       [..........................]   1%  1:00:00 left");
  EXPECT_EQ(longest.size(), 59u);
}

TEST(RenderBar, UnknownTimeAndEveryStageTitle) {
  EXPECT_EQ(RenderBar(Point(1, 0, -1), 60),
            "blank check [..........................]   0%  --:-- left");
  EXPECT_EQ(RenderBar(Point(3, 100, 0), 60),
            "verify      [##########################] 100%  0:00 left");
}

TEST(RenderBar, DropsTheGaugeOnANarrowTerminal) {
  EXPECT_EQ(RenderBar(Point(2, 42, 65), 30), "write         42%  1:05 left");
}

TEST(RenderDoneLine, KeepsTheGaugeOfTheBar) {
  const std::string done = RenderDoneLine(Point(2, 100, 0, 3.2), 60);
  EXPECT_EQ(done, "write       [##########################] 100%  in 0:03");
  EXPECT_EQ(done.find(']'), RenderBar(Point(2, 10, 5), 60).find(']'));
}

TEST(RenderPlainLine, NamesTheAddress) {
  EXPECT_EQ(RenderPlainLine(Point(2, 50, 1)), "write  50%  address 0x01FFFF of 0x03FFFF");
}


// A production run's parts, as its loop reports them.
PartRecord Made(const std::string& result, int part = 4) {
  PartRecord record;
  record.time = "2026-12-07T19:40:00.123Z";
  record.programmer = 1;
  record.programmerKey = "SER1";
  record.part = part;
  record.chipId = "6D 61 02 00";
  record.result = result;
  const bool failed = result == "fail" || result == "aborted";
  record.exit = failed ? 8 : result == "untouched" ? 5 : 0;
  record.status = failed ? "verify-mismatch — reject the part"
                  : result == "untouched" ? "image-size — part untouched — use it again"
                                          : "ok";
  record.seconds = 25.0;
  return record;
}

// The tiles as the display last drew them: after its last erase and the lines that scrolled
// above them in the same write, from the first tile's head ("programmer 1  ...",
// "programmer 1 (SER1)", "programmer 1" alone), which no line about a part looks like.
std::string LastTiles(const std::string& out) {
  const size_t erase = out.rfind("\033[J");
  const std::string drawn = erase == std::string::npos ? out : out.substr(erase + 3);
  for (size_t line = 0; line < drawn.size(); line = drawn.find('\n', line) + 1) {
    while (line < drawn.size() && drawn[line] == '\a') ++line;  // the bell takes no column
    const size_t number = line + std::string("programmer ").size();
    if (drawn.compare(line, number - line, "programmer ") != 0) {
      if (drawn.find('\n', line) == std::string::npos) break;
      continue;
    }
    const size_t after = drawn.find_first_not_of("0123456789", number);
    if (after != std::string::npos && after > number &&
        (drawn.compare(after, 2, "  ") == 0 || drawn.compare(after, 2, " (") == 0 ||
         drawn[after] == '\n')) {
      return drawn.substr(line);
    }
    if (drawn.find('\n', line) == std::string::npos) break;
  }
  return drawn;
}

constexpr const char* kRed = "\033[1;31m";
constexpr const char* kGreen = "\033[1;32m";

// From across the bench a tile must tell "busy, don't touch" from "needs you" and from "take
// it out", and never say more of a part than was done to it.
TEST(ProductionDisplay, EachTileSaysWhatTheOperatorMustDoNow) {
  using Play = std::function<void(ProductionDisplay&)>;
  const struct {
    const char* name;
    Play play;
    std::vector<std::string> shows;
    std::vector<std::string> hides;
    bool rings;
  } cases[] = {
      {"the next part starts after a FAIL",
       [](ProductionDisplay& d) {
         d.PartDone(Made("fail"), {});
         d.PartStarted(1, 5);
         d.Activity(1, "part 5: blank check 84%", true);
       },
       {"programmer 1  part 5  do not touch\n", "\033[1;36m####", "| part 5: blank check 84%"},
       {"FAIL", kRed},
       true},
      {"a part with no number yet", [](ProductionDisplay& d) { d.PartStarted(1, 0); },
       {"programmer 1  part  do not touch\n"}, {"part 0"}, false},
      {"its number once granted",
       [](ProductionDisplay& d) {
         d.PartStarted(1, 0);
         d.PartNumbered(1, 25);
       },
       {"programmer 1  part 25  do not touch\n", "| part 25 in the socket"}, {}, false},
      {"a part that does not answer",
       [](ProductionDisplay& d) {
         d.PartDone(Made("pass"), {});
         d.Reseat(1);
       },
       {"programmer 1  RESEAT  no chip answers — reseat the part\n", "| reseat the part\n"},
       {"PASS", kGreen, "waiting for a part"}, true},
      {"reseated and started", [](ProductionDisplay& d) {
         d.Reseat(1);
         d.PartStarted(1, 5);
       },
       {"part 5  do not touch"}, {"RESEAT"}, true},
      {"taken out",
       [](ProductionDisplay& d) {
         d.PartDone(Made("pass"), {});
         d.SocketEmpty(1);
       },
       {"programmer 1  waiting for a part\nprogrammer 1: passed 1"}, {"PASS", "#"}, false},
      {"written without its verify", [](ProductionDisplay& d) { d.PartDone(Made("unverified"), {}); },
       {"programmer 1  WRITTEN, NOT VERIFIED  part 4  chip 6D 61 02 00  ", "take it out, not verified\n"},
       {"PASS", kGreen}, false},
      {"held this image already", [](ProductionDisplay& d) { d.PartDone(Made("already", 0), {}); },
       {"programmer 1  ALREADY  part  chip 6D 61 02 00  ", kGreen}, {"PASS"}, false},
      {"untouched", [](ProductionDisplay& d) { d.PartDone(Made("untouched", 0), {}); },
       {"programmer 1  part  chip 6D 61 02 00  ", "  untouched: put it through again\n"},
       {"#", "PASS", "FAIL"}, false},
      {"a failure names its step",
       [](ProductionDisplay& d) {
         PartRecord record = Made("fail");
         record.exit = 6;
         record.status = "not-blank — reject the part";
         record.failedStep = "blank check";
         d.PartDone(record, {});
       },
       {"  blank check failed: not-blank — reject the part\n"}, {"verify"}, true},
      {"aborted", [](ProductionDisplay& d) { d.PartDone(Made("aborted"), {}); },
       {"programmer 1  FAIL  part 4", kRed}, {"PASS"}, true},
      {"lost and back with the failed part in the socket",
       [](ProductionDisplay& d) {
         d.PartDone(Made("fail"), {});
         d.Lost(1, "LOST — check the USB cable");
         d.Back(1, "");
       },
       {"programmer 1  FAIL  part 4  chip 6D 61 02 00  ",
        "  verify-mismatch — reject the part  — programmer back\n", kRed},
       {"LOST", "programmer 1  back"}, true},
      {"lost and back with a new blank part in the socket",
       [](ProductionDisplay& d) {
         d.PartDone(Made("pass"), {});
         d.Lost(1, "LOST — check the USB cable");
         d.Back(1, "a blank part is in the socket, not part 4");
       },
       {"programmer 1  a blank part is in the socket, not part 4  — programmer back\n"},
       {"PASS", "take it out", "LOST"}, true},
      {"lost", [](ProductionDisplay& d) { d.Lost(1, "LOST — check the USB cable"); },
       {"programmer 1  LOST  check the USB cable\n", "| LOST — check the USB cable"}, {}, true},
      {"named after the start", [](ProductionDisplay& d) { d.Name(2, "/dev/hidraw7"); },
       {"programmer 1\n", "programmer 2 (/dev/hidraw7)\n"}, {}, false},
  };
  for (const auto& c : cases) {
    for (bool bell : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (bell ? ", bell" : ""));
      StringSink sink;
      ProductionDisplay display(DisplayKind::kTerminal, sink, {1});
      display.SetLook(true, bell);
      c.play(display);
      display.Flush();
      const std::string tiles = LastTiles(sink.out);
      for (const std::string& text : c.shows) EXPECT_NE(tiles.find(text), std::string::npos) << text << "\n" << tiles;
      for (const std::string& text : c.hides) EXPECT_EQ(tiles.find(text), std::string::npos) << text << "\n" << tiles;
      EXPECT_EQ(sink.out.find('\a') != std::string::npos, bell && c.rings) << sink.out;
    }
  }
}

// A tile's line longer than the terminal wraps onto more rows; the next redraw must take every
// one of them away, or each redraw leaves rows of the old tile above the new one. The FAIL
// tile is its line (89 columns), five rows of letters (30: exactly the width of 30 takes one
// row each) and its counters (46 to 57, with its rate).
TEST(ProductionDisplay, TheRedrawTakesAwayEveryRowOfAWrappedLine) {
  const struct {
    int width;
    const char* erase;
  } cases[] = {{0, "\033[7A\r\033[J"}, {80, "\033[8A\r\033[J"}, {30, "\033[10A\r\033[J"},
               {20, "\033[18A\r\033[J"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.width);
    StringSink sink;
    ProductionDisplay display(DisplayKind::kTerminal, sink, {1});
    display.SetWidth(c.width);
    display.PartDone(Made("fail"), {});
    display.Flush();
    const size_t drawn = sink.out.size();
    display.Activity(1, "take the part out", false);
    display.Flush();
    EXPECT_EQ(sink.out.substr(drawn, std::string(c.erase).size()), c.erase)
        << LastTiles(sink.out.substr(0, drawn));
  }
}

// A part written with its verify off is never a PASS, not even in the line that scrolls away
// or a plain log.
TEST(ProductionDisplay, AnUnverifiedPartIsNeverAPass) {
  for (DisplayKind kind : {DisplayKind::kTerminal, DisplayKind::kPlain}) {
    StringSink sink;
    ProductionDisplay display(kind, sink, {1});
    display.PartDone(Made("unverified"), {});
    display.Flush();
    EXPECT_EQ((sink.out + sink.err).find("PASS"), std::string::npos) << sink.out;
    EXPECT_NE(sink.out.find("programmer 1 part 4: WRITTEN, NOT VERIFIED, chip 6D 61 02 00, in 0:25\n"),
              std::string::npos)
        << sink.out;
  }
}

// Each result is counted apart; the yield is over the parts this run made and judged, and the
// rare counts appear only when they happened.
TEST(ProductionDisplay, CountsEachResultApart) {
  const struct {
    std::vector<std::string> results;
    std::string counters;
    std::string shift;
    std::string ended;
  } cases[] = {
      {{"pass", "pass", "fail"}, "programmer 1: passed 2  failed 1  ",
       "shift: all: passed 2, failed 1, yield 66.7%, ", "2 passed, 1 failed; exit 0"},
      {{"pass", "unverified"}, "programmer 1: passed 1  failed 0  unverified 1  ",
       "shift: all: passed 1, failed 0, unverified 1, yield 50.0%, ",
       "1 passed, 0 failed, 1 unverified; exit 0"},
      {{"already", "aborted", "untouched"},
       "programmer 1: passed 0  failed 0  already 1  aborted 1  untouched 1  ",
       "shift: all: passed 0, failed 0, already 1, aborted 1, untouched 1, yield -, ",
       "0 passed, 0 failed, 1 already, 1 aborted, 1 untouched; exit 0"},
      {{"pass", "already"}, "programmer 1: passed 1  failed 0  already 1  ",
       "shift: all: passed 1, failed 0, already 1, yield 100.0%, ", "1 passed, 0 failed, 1 already"},
      {{}, "programmer 1: passed 0  failed 0  - parts/hour", "yield -, 0 parts/hour\n",
       "0 passed, 0 failed; exit 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shift);
    StringSink sink;
    ProductionDisplay display(DisplayKind::kPlain, sink, {1});
    for (const std::string& result : c.results) display.PartDone(Made(result), {});
    display.End(ExitCode::kOk, "count reached");
    EXPECT_NE(sink.out.find(c.counters), std::string::npos) << sink.out;
    EXPECT_NE(sink.out.find(c.shift), std::string::npos) << sink.out;
    EXPECT_NE(sink.out.find("qs71prog: production ended (count reached): " + c.ended),
              std::string::npos)
        << sink.out;
  }
}

// The summary names the shift (who, where, which image, from when to when and why it ended),
// every programmer by its key, a programmer that came after the start, and the parts the log
// lacks.
TEST(ProductionDisplay, SummaryJsonNamesTheShift) {
  StringSink sink;
  ProductionDisplay display(DisplayKind::kPlain, sink, {1});
  display.SetRun({"20261207T194000Z-4711", "bench 3", "Ann", "voice.bin", "ab12",
                  "2026-12-07T19:40:00.123Z"});
  display.Name(1, "SER1");
  display.Name(2, "/dev/hidraw7");
  for (const char* result : {"pass", "unverified", "already", "aborted", "untouched"}) {
    display.PartDone(Made(result), {});
  }
  const PartRecord lonely = Made("pass", 7);
  display.NotLogged(lonely, "the trace");
  display.Flush();
  EXPECT_EQ(sink.err, "programmer 1 part 7: passed, not in the trace\n");
  EXPECT_NE(display.SummaryJson().find("\"end\": null,\n  \"exit\": null,\n  \"ended\": null,"),
            std::string::npos)
      << display.SummaryJson();
  display.LineRefused(2, "2 events the line refused (set aside in s.db: qs71prog --clear-refused)");
  display.End(ExitCode::kInterrupted, "Ctrl-C");
  const std::string json = display.SummaryJson();
  EXPECT_NE(json.find("\"refused\": 2,\n"), std::string::npos) << json;
  EXPECT_NE(sink.out.find("qs71prog: 2 events the line refused (set aside in s.db: qs71prog "
                          "--clear-refused)\n"),
            std::string::npos)
      << sink.out;
  const std::string head =
      "{\n  \"run\": \"20261207T194000Z-4711\",\n  \"station\": \"bench 3\",\n"
      "  \"operator\": \"Ann\",\n  \"image\": \"voice.bin\",\n  \"image_sha256\": \"ab12\",\n"
      "  \"start\": \"2026-12-07T19:40:00.123Z\",\n  \"end\": \"20";
  EXPECT_EQ(json.substr(0, head.size()), head) << json;
  for (const std::string text :
       {"\"exit\": 12,\n  \"ended\": \"Ctrl-C\",", "\"programmer\": 1,\n      \"key\": \"SER1\",",
        "\"programmer\": 2,\n      \"key\": \"/dev/hidraw7\",\n      \"passed\": 0,",
        "\"all\": {\n    \"passed\": 1,\n    \"failed\": 0,\n    \"yield\": 0.500,\n"
        "    \"parts_per_hour\": ",
        ",\n    \"unverified\": 1,\n    \"already\": 1,\n    \"aborted\": 1,\n    \"untouched\": 1\n  },",
        "\"not_logged\": [\n    {\n      \"programmer\": 1,\n      \"part\": 7,\n"
        "      \"chip_id\": \"6D 61 02 00\",\n      \"missing_from\": \"the trace\"\n    }\n  ]\n}"}) {
    EXPECT_NE(json.find(text), std::string::npos) << text << "\n" << json;
  }
  EXPECT_NE(sink.out.find("qs71prog: not in the trace: programmer 1 part 7, chip 6D 61 02 00\n"),
            std::string::npos)
      << sink.out;
  EXPECT_NE(sink.err.find("qs71prog: production ended (Ctrl-C): 1 passed, 0 failed, 1 unverified, "
                          "1 already, 1 aborted, 1 untouched; exit 12 (interrupted)\n"),
            std::string::npos)
      << sink.err;
}

// What goes to programs: a part's result in words and its programmer's key, a remark about
// the whole run without a programmer, and how the run ended.
TEST(ProductionDisplay, JsonEventsCarryResultKeyAndCause) {
  StringSink sink;
  ProductionDisplay display(DisplayKind::kJson, sink, {1});
  display.PartDone(Made("unverified"), {});
  display.RunMessage("Ctrl-C: the parts under way will be finished");
  display.End(ExitCode::kInterrupted, "Ctrl-C");
  for (const char* text :
       {"\"programmer_key\":\"SER1\",", "\"result\":\"unverified\",", "\"unverified\":1,",
        "{\"event\":\"message\",\"text\":\"Ctrl-C: the parts under way will be finished\"}\n",
        "\"exit\":12,\"status\":\"interrupted\",\"ended\":\"Ctrl-C\"}\n"}) {
    EXPECT_NE(sink.out.find(text), std::string::npos) << text << "\n" << sink.out;
  }
}

// A remark about the whole run is the run's, not the first programmer's.
TEST(ProductionDisplay, ARunMessageIsNoProgrammersMessage) {
  const struct {
    DisplayKind kind;
    std::string out;
    std::string err;
  } cases[] = {
      {DisplayKind::kPlain, "", "qs71prog: Ctrl-C: the run ends\n"},
      {DisplayKind::kTerminal, "qs71prog: Ctrl-C: the run ends\nprogrammer 1\n", ""},
  };
  for (const auto& c : cases) {
    StringSink sink;
    ProductionDisplay display(c.kind, sink, {1});
    display.RunMessage("Ctrl-C: the run ends");
    display.Flush();
    EXPECT_EQ(sink.err, c.err);
    EXPECT_NE(sink.out.find(c.out), std::string::npos) << sink.out;
  }
}

// The tile's clock is the bench's wall clock, whatever zone the log's UTC times are in.
TEST(ProductionDisplay, TheTileTellsLocalTime) {
  const char* before = std::getenv("TZ");
  const std::string saved = before == nullptr ? "" : before;
  const struct {
    const char* zone;  // POSIX: the offset is west of UTC, so -5:30 is India's
    const char* clock;
  } cases[] = {{"UTC0", "  19:40:00  "}, {"IST-5:30", "  01:10:00  "}, {"EST5", "  14:40:00  "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zone);
    setenv("TZ", c.zone, 1);
    tzset();
    StringSink sink;
    ProductionDisplay display(DisplayKind::kTerminal, sink, {1});
    display.PartDone(Made("pass"), {});
    display.Flush();
    EXPECT_NE(LastTiles(sink.out).find(std::string("chip 6D 61 02 00") + c.clock), std::string::npos)
        << sink.out;
  }
  if (before == nullptr) {
    unsetenv("TZ");
  } else {
    setenv("TZ", saved.c_str(), 1);
  }
  tzset();
}

// Every big word on a terminal of 80 columns: a line that wraps would push the tiles below it
// down and leave them drawn twice.
TEST(ProductionDisplay, EveryBigWordFitsEightyColumns) {
  using Play = std::function<void(ProductionDisplay&)>;
  const struct {
    const char* word;
    Play play;
    size_t rows;  // of big letters
  } cases[] = {
      {"WRITTEN, NOT VERIFIED", [](ProductionDisplay& d) { d.PartDone(Made("unverified"), {}); }, 10},
      {"ALREADY", [](ProductionDisplay& d) { d.PartDone(Made("already"), {}); }, 5},
      {"RESEAT", [](ProductionDisplay& d) { d.Reseat(1); }, 5},
      {"BUSY", [](ProductionDisplay& d) { d.PartStarted(1, 3); }, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    StringSink sink;
    ProductionDisplay display(DisplayKind::kTerminal, sink, {1});
    c.play(display);
    display.Flush();
    size_t rows = 0;
    for (const std::string& line : TerminalScreen(LastTiles(sink.out))) {
      if (line.find('#') == std::string::npos) continue;
      ++rows;
      EXPECT_LT(line.size(), 80u) << line;
    }
    EXPECT_EQ(rows, c.rows) << sink.out;
  }
}

}  // namespace
}  // namespace qs71prog
