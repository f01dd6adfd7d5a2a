#include "driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "file_contents.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

namespace fs = std::filesystem;

// Two scripts that differ in every part of the image: kinds, ramp sound, sizes, fills, options.
// %W stands for the folder of the wave files.
const char* const kScripts[] = {
    ".GLOBAL $FILESIZE = 40000h\n"
    ".GLOBAL $VOL_MAP = \"204080FF\"\n"
    ".ADPCM chime = \"%W/a.wav\"\n"
    ".PCM16 RampDec = \"%W/b.wav\"\n"
    ".SILENCE pause = 2000\n"
    ".SECTION [1] $EDGE = \"Yes\"\n"
    ".SECTION [1] $GROUPS = chime(8000):0\n"
    ".SECTION [1] $GROUPS = pause(8000):0\n",

    ".GLOBAL $FILESIZE = 80000h\n"
    ".GLOBAL $SECNUM = 8\n"
    ".ULAW sweep = \"%W/b.wav\"\n"
    ".PCM8 beep = \"%W/a.wav\"\n"
    ".SECTION [2] $HOLD = \"Yes\"\n"
    ".SECTION [2] $GROUPS = sweep(16000):1\n"
    ".SECTION [3] $GROUPS = beep(8000):0\n"
    ".GLOBAL $FILL = \"7F000:12_34\"\n",
};

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<uint8_t> image;
};

std::string StreamText(FILE* stream) {
  std::string text;
  std::rewind(stream);
  char block[4096];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, n);
  std::fclose(stream);
  return text;
}

// One run in this process, without the program's routes, its listing and messages in streams of
// its own; words are what follows "qs71gen", the image's name last.
Outcome RunHere(const std::vector<std::string>& words) {
  std::vector<const char*> argv = {"qs71gen"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  Outcome o;
  if (out == nullptr || err == nullptr) return o;
  o.exitCode = RunGenerator(static_cast<int>(argv.size()), argv.data(), out, err) & 0xFF;  // as the shell shows it
  o.out = StreamText(out);
  o.err = StreamText(err);
  o.image = ReadFileBytes(words.back());
  return o;
}

Outcome CompileHere(const fs::path& script, const fs::path& image) { return RunHere({script.string(), image.string()}); }

class TwoCompilesTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = CleanScratchFolder(QS71_TEST_TMPDIR, "driver");
    const testwav::Signal tone;
    testwav::Signal sweep;
    sweep.shape = testwav::Shape::Sweep;
    ASSERT_TRUE(testwav::WriteFile((folder / "a.wav").string(),
                                   testwav::EncodeWav(testwav::MakeSamples(tone, 3000, 8000),
                                                      {8000, 8, 2})));
    ASSERT_TRUE(testwav::WriteFile((folder / "b.wav").string(),
                                   testwav::EncodeWav(testwav::MakeSamples(sweep, 5000, 16000),
                                                      {16000, 16, 1})));
    for (size_t i = 0; i < std::size(kScripts); ++i) {
      std::string text = kScripts[i];
      for (size_t at; (at = text.find("%W")) != std::string::npos;) {
        text.replace(at, 2, folder.string());
      }
      scripts.push_back(folder / ("s" + std::to_string(i) + ".qs"));
      ASSERT_TRUE(testwav::WriteFile(scripts.back().string(), {text.begin(), text.end()}));
      const fs::path image = folder / ("reference" + std::to_string(i) + ".bin");
      const testsupport::ProcessResult r =
          testsupport::RunProcess({QS71GEN_PATH, scripts.back().string(), image.string()});
      references.push_back({r.exitCode, r.out, r.err, ReadFileBytes(image)});
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      ASSERT_GT(references.back().image.size(), 0u);
    }
  }

  void ExpectAsReference(const Outcome& got, size_t i) {
    SCOPED_TRACE(scripts[i].string());
    const Outcome& want = references[i];
    EXPECT_EQ(got.exitCode, want.exitCode);
    EXPECT_EQ(got.out, want.out);
    EXPECT_EQ(got.err, want.err);
    EXPECT_TRUE(got.image == want.image) << "the image differs from the one qs71gen wrote";
  }

  fs::path folder;
  std::vector<fs::path> scripts;
  std::vector<Outcome> references;
};

// Each image, listing and message text as qs71gen itself gives them: the compiles share
// nothing, whether they run one after the other or on two threads at once.
TEST_F(TwoCompilesTest, InOneProcessAsInSeparateRuns) {
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < scripts.size(); ++i) {
      const fs::path image = folder / ("serial" + std::to_string(i) + ".bin");
      ExpectAsReference(CompileHere(scripts[i], image), i);
    }
  }
  std::vector<Outcome> outcomes(scripts.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < scripts.size(); ++i) {
    threads.emplace_back([&, i] {
      outcomes[i] = CompileHere(scripts[i], folder / ("thread" + std::to_string(i) + ".bin"));
    });
  }
  for (std::thread& t : threads) t.join();
  for (size_t i = 0; i < scripts.size(); ++i) ExpectAsReference(outcomes[i], i);
}

// A run without the program's routes (a test, a fuzzer) refuses each option that needs one, before
// it touches a file: a route missing where the compile needs it would be a call through null.
TEST_F(TwoCompilesTest, WithoutRoutesRefusesWhatOnlyTheProgramRuns) {
  struct Row {
    std::vector<std::string> options;
    const char* option;  // as the refusal names it
  };
  const std::string file = (folder / "asked.out").string();  // what an option would write
  const Row rows[] = {
      {{"--watch"}, "--watch"},          {{"--serve"}, "--serve"},
      {{"--fit", file}, "--fit"},        {{"--html", file}, "--html"},
      {{"--project", file}, "--project"}, {{"--init-project", file}, "--init-project"},
  };
  const fs::path image = folder / "routeless.bin";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.option);
    std::vector<std::string> words = row.options;
    words.insert(words.end(), {scripts[0].string(), image.string()});
    const Outcome o = RunHere(words);
    EXPECT_EQ(o.exitCode, 254);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, std::string("qs71gen: ") + row.option + " runs only in the program qs71gen\n");
    EXPECT_FALSE(fs::exists(image));
    EXPECT_FALSE(fs::exists(file));
  }
}

// A script piped in is read once and scanned by both passes: the same listing and image as
// from its file, not an image without its sounds.
TEST_F(TwoCompilesTest, ScriptFromAPipe) {
  for (size_t i = 0; i < scripts.size(); ++i) {
    const fs::path image = folder / ("piped" + std::to_string(i) + ".bin");
    const std::string command = "cat '" + scripts[i].string() + "' | \"$0\" /dev/stdin '" + image.string() + "'";
    const testsupport::ProcessResult r = testsupport::RunProcess({"sh", "-c", command, QS71GEN_PATH});
    ExpectAsReference({r.exitCode, r.out, r.err, ReadFileBytes(image)}, i);
  }
}

// The listing leaves standard output only when standard output is the image itself: the image's
// own file or the pipe it goes down. A device is never the image, however both are named.
TEST_F(TwoCompilesTest, ListingMovesOnlyOffTheImage) {
  struct Row {
    const char* command;  // $0 the program, $1 the script
    bool listingOnStderr;
    const char* image;    // the file that must hold the image, or null
    const char* listing;  // the file that must hold the listing, or null
  };
  const Row rows[] = {
      {"\"$0\" \"$1\" /dev/null > /dev/null", false, nullptr, nullptr},
      {"\"$0\" \"$1\" /dev/zero > /dev/zero", false, nullptr, nullptr},
      {"\"$0\" \"$1\" /dev/null > listing.txt", false, nullptr, "listing.txt"},
      {"\"$0\" \"$1\" /dev/stdout > image.bin", true, "image.bin", nullptr},
      {"\"$0\" \"$1\" same.bin > same.bin", true, "same.bin", nullptr},
      {"\"$0\" \"$1\" /dev/stdout | cat > piped.bin", true, "piped.bin", nullptr},
  };
  const fs::path work = folder / "streams";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    fs::remove_all(work);
    fs::create_directories(work);
    const testsupport::ProcessResult r = testsupport::RunProcess(
        {"sh", "-c", row.command, QS71GEN_PATH, scripts[0].string()}, {.folder = work});
    EXPECT_EQ(r.exitCode, 0);
    // Devices read back what they read back (zeros from /dev/zero): only the listing is judged.
    EXPECT_EQ(r.err.find(references[0].out) != std::string::npos, row.listingOnStderr) << r.err;
    EXPECT_EQ(r.err.find("PASS 1") != std::string::npos, row.listingOnStderr) << r.err;
    if (row.image != nullptr) {
      EXPECT_TRUE(ReadFileBytes(work / row.image) == references[0].image);
    }
    if (row.listing != nullptr) {
      EXPECT_EQ(ReadFileText(work / row.listing), references[0].out);
    }
  }
}

// A hint's command, pasted into a POSIX shell, names the very file the script names, whatever
// its name holds.
TEST(HintTest, PastesIntoAShell) {
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "hints");
  const std::vector<int32_t> samples = testwav::MakeSamples({}, 100, 8000);
  for (const std::string name : {"plain.wav", "Voice Prompts 01.wav", "a $HOME & `more` (2).wav"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> compressed = testwav::EncodeWav(samples, {8000, 16, 1});
    compressed[20] = 2;  // MS ADPCM: refused with a sox command
    ASSERT_TRUE(testwav::WriteFile((folder / name).string(), compressed));
    const std::string script = ".GLOBAL $FILESIZE = 10000h\n.ADPCM s = \"" + name + "\"\n.SECTION [1] $GROUPS = s(8000):0\n";
    ASSERT_TRUE(testwav::WriteFile((folder / "s.qs").string(), {script.begin(), script.end()}));
    const auto gen = testsupport::RunProcess({QS71GEN_PATH, "s.qs", "s.bin"}, {.folder = folder});
    const size_t from = gen.err.find("`sox ");
    const size_t to = gen.err.find(" -e signed-integer", from);
    ASSERT_NE(to, std::string::npos) << gen.err;
    const std::string command = "printf '%s\\n'" + gen.err.substr(from + 4, to - from - 4);
    const auto shell = testsupport::RunProcess({"sh", "-c", command}, {.folder = folder});
    EXPECT_EQ(shell.out, name + "\n") << command;
  }
}

// The fit's `compiled as:` line, pasted into a POSIX shell, gives qs71gen the very words of the
// compile, and runs nothing that a name holds.
TEST(HintTest, CompiledAsPastesIntoAShell) {
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "compiled-as");
  ASSERT_TRUE(testwav::WriteFile((folder / "tone.wav").string(),
                                 testwav::EncodeWav(testwav::MakeSamples({}, 4000, 8000), {8000, 16, 1})));
  const std::string script = ".GLOBAL $FILESIZE = 40000h\n.ADPCM tone = \"tone.wav\"\n.SECTION [1] $GROUPS = tone(8000):0\n";
  const std::string name = "a `touch ran1` $(touch ran2) 'q' \"d\".qs";
  ASSERT_TRUE(testwav::WriteFile((folder / name).string(), {script.begin(), script.end()}));
  const std::string fitted = "fit $HOME.qs", image = "out put.bin";
  const auto gen = testsupport::RunProcess({QS71GEN_PATH, "--fit", fitted, name, image, "%3 & more"}, {.folder = folder});
  ASSERT_EQ(gen.exitCode, 0) << gen.out << gen.err;
  const size_t at = gen.out.find("compiled as: qs71gen ");
  ASSERT_NE(at, std::string::npos) << gen.out;
  const std::string words = gen.out.substr(at + 21, gen.out.find('\n', at) - at - 21);
  const auto shell = testsupport::RunProcess({"sh", "-c", "printf '%s\\n' " + words}, {.folder = folder});
  EXPECT_EQ(shell.out, "--resample\n" + fitted + "\n" + image + "\n%3 & more\n") << words;
  EXPECT_FALSE(fs::exists(folder / "ran1"));
  EXPECT_FALSE(fs::exists(folder / "ran2"));
}

// The page of a prepared compile carries the preparation's figures in the sounds' cards; a failed
// compile's page is headed FAILED.
TEST(PageTest, ShowsThePreparation) {
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "prepared-page");
  const std::vector<int32_t> samples = testwav::MakeSamples({}, 22050, 44100);
  ASSERT_TRUE(testwav::WriteFile((folder / "take.wav").string(), testwav::EncodeWav(samples, {44100, 16, 2})));
  const std::string script = ".GLOBAL $FILESIZE = 40000h\n.ADPCM take = \"take.wav\"\n.SECTION [1] $GROUPS = take(8000):0\n";
  ASSERT_TRUE(testwav::WriteFile((folder / "s.qs").string(), {script.begin(), script.end()}));
  const auto gen = testsupport::RunProcess({QS71GEN_PATH, "--resample", "--html", "p.html", "s.qs", "s.bin"},
                                           {.folder = folder});
  ASSERT_EQ(gen.exitCode, 0) << gen.err;
  const std::vector<uint8_t> bytes = ReadFileBytes(folder / "p.html");
  const std::string page(bytes.begin(), bytes.end());
  for (const char* text : {"prepared from", "take.wav (WAV 16-bit, 2 ch, 44100 Hz)", "8000 Hz"}) {
    EXPECT_NE(page.find(text), std::string::npos) << text;
  }
  // Onto a part too small: the page says so, with the advice, and still plays the source.
  const std::string small = ".GLOBAL $FILESIZE = 800h\n" + script.substr(script.find('\n') + 1);
  ASSERT_TRUE(testwav::WriteFile((folder / "s.qs").string(), {small.begin(), small.end()}));
  const auto failed = testsupport::RunProcess({QS71GEN_PATH, "--resample", "--html", "p.html", "s.qs", "s.bin"},
                                              {.folder = folder});
  ASSERT_NE(failed.exitCode, 0);
  const std::vector<uint8_t> failedBytes = ReadFileBytes(folder / "p.html");
  const std::string failedPage(failedBytes.begin(), failedBytes.end());
  for (const char* text : {"FAILED: no image written", "over by", "download=\"take-source.wav\""}) {
    EXPECT_NE(failedPage.find(text), std::string::npos) << text;
  }
  // A plain compile's advice about its sounds is on the page as on standard error.
  ASSERT_TRUE(testwav::WriteFile((folder / "quiet.wav").string(),
                                 testwav::EncodeWav(std::vector<int32_t>(6000, 0), {8000, 16, 1})));
  const std::string plain = ".GLOBAL $FILESIZE = 40000h\n.PCM16 quiet = \"quiet.wav\"\n.SECTION [1] $GROUPS = quiet(8000):0\n";
  ASSERT_TRUE(testwav::WriteFile((folder / "s.qs").string(), {plain.begin(), plain.end()}));
  const auto advised = testsupport::RunProcess({QS71GEN_PATH, "--html", "p.html", "s.qs", "s.bin"}, {.folder = folder});
  ASSERT_EQ(advised.exitCode, 0) << advised.err;
  const std::vector<uint8_t> advisedBytes = ReadFileBytes(folder / "p.html");
  EXPECT_NE(std::string(advisedBytes.begin(), advisedBytes.end()).find("quiet.wav is silent (below -60 dBFS)"),
            std::string::npos) << advised.err;
}

}  // namespace
