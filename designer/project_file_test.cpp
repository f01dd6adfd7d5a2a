#include "project_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "file_contents.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

namespace fs = std::filesystem;

void WriteText(const fs::path& path, const std::string& text) {
  ASSERT_TRUE(testwav::WriteFile(path.string(), {text.begin(), text.end()}));
}

// The reader's folder holds a script and a folder, so that the names a project gives exist.
fs::path ReaderFolder() {
  const fs::path folder = ScratchFolder(QS71_TEST_TMPDIR, "project-reader");
  WriteText(folder / "toy.qs", ".GLOBAL $FILESIZE = 40000h\n");
  fs::create_directories(folder / "listen");
  return folder;
}

struct ReadRow {
  const char* text;
  const char* error;  // after "FOLDER/toy.toml:"; "" when the project is good
};

// One row per key, good and bad; the good rows are checked by what they set, below.
const ReadRow kReadRows[] = {
    {"script = \"toy.qs\"\nimage = \"toy.bin\"\nmap = \"toy.map\"\npage = \"toy.html\"\n"
     "failed_image = \"bad.bin\"\nkeep_prepared = \"listen\"\nparameters = [\"12\", 34]\n"
     "part_size = \"512K\"\nstrict = true\n"
     "[preparation]\nresample = true\nloudness = -21.0\ntrim = \"-50:30\"\nhighpass = 150\nlimit = -1\n"
     "dither = true\nadpcm_quality = 2\n"
     "[sound.hello]\ngain = 3.0\nhighpass = \"150:6\"\nloudness = false\ndither = false\nadpcm_quality = 3\n",
     ""},
    {"part_size = 2097152\n", ""},
    {"colour = 3\n", "1: unknown key colour at the top; the keys there are script, image, map, page, failed_image, "
                     "keep_prepared, parameters, part_size, strict, [preparation], [sound.NAME]"},
    {"[preparation]\ngain = 1\n", "2: unknown key gain in [preparation]; the keys there are resample, highpass, trim, "
                                  "loudness, limit, dither, adpcm_quality"},
    {"[sound.hello]\nresample = true\n", "2: unknown key resample in [sound.hello]; the keys there are highpass, trim, "
                                         "loudness, limit, dither, adpcm_quality, gain"},
    {"script = 7\n", "1: script needs the script's file name in quotes"},
    {"image = \"\"\n", "1: image needs the image's file name in quotes"},
    {"script = \"gone.qs\"\n", "1: script FOLDER/gone.qs is missing, not a file; give a file that exists"},
    {"keep_prepared = \"toy.qs\"\n", "1: keep_prepared FOLDER/toy.qs is a regular file, not a folder; give a folder that exists"},
    {"parameters = [1, 2, 3, 4, 5, 6, 7, 8]\n", "1: parameters needs a list of at most 7 texts or whole numbers (the script's %3 to %9)"},
    {"part_size = 65536\n", "1: part_size needs 262144, 524288, 1048576 or 2097152 (bytes), or \"256K\", \"512K\", \"1M\" or \"2M\""},
    {"strict = \"yes\"\n", "1: strict needs true or false"},
    {"[preparation]\nloudness = 0\n", "2: loudness 0 is out of range: give -70 to -1 LUFS"},
    {"[preparation]\nloudness = true\n", "2: loudness needs LUFS as a number, or false"},
    {"\n[sound.hello]\nhighpass = 5000.5\n", "3: highpass 5000.5 is out of range: give 1 to 4000 Hz"},
    {"[sound.hello]\nhighpass = \"150:9\"\n", "2: highpass 150:9 is out of range: give the order after the colon as 2 to 8"},
    {"[sound.hello]\ntrim = \"-50:2000\"\n", "2: trim -50:2000 is out of range: give the hold in ms after the colon as 0 to 1000"},
    {"[sound.hello]\nlimit = -31\n", "2: limit -31 is out of range: give -30 to 0 dBFS"},
    {"[sound.hello]\ngain = 41\n", "2: gain 41 is out of range: give -40 to 40 dB"},
    {"[sound.hello]\ngain = \"3 dB\"\n", "2: gain needs dB as a number from -40 to 40"},
    {"[sound.hello]\nadpcm_quality = 4\n", "2: adpcm_quality needs a level from 0 to 3"},
    {"[sound.hello]\ndither = 1\n", "2: dither needs true or false"},
    {"[sound.Hello]\ngain = 1\n[sound.hello]\ngain = 2\n",
     "3: [sound.hello] is a second section for one sound (the first: FOLDER/toy.toml:1); sound names ignore letter case"},
    {"[sound.voice]\ngain = 1\n[sound.VOICE]\ngain = 2\n",
     "3: [sound.VOICE] is a second section for one sound (the first: FOLDER/toy.toml:1); sound names ignore letter case"},
    {"[sound.hello]\ngain = 99\ndither = 1\n", "2: gain 99 is out of range: give -40 to 40 dB"},
    {"[sound]\nhello = 3\n", "2: sound.hello needs a section of settings: [sound.hello]"},
    {"\xEF\xBB\xBF[sound.hello]\ngain = 1\n", ""},
    {"image = \"a.bin\"\nimage = \"b.bin\"\n", "2: Error while parsing key-value pair: cannot redefine existing string 'image'; the project must be TOML"},
    {"map = \"D\xc3\xa9mo.map\" # \xc2\xa7 in a comment\n[soundz\xc3\xa2]\n",
     "2: a character that is not ASCII outside quotes and comments; the project must be TOML, whose names and "
     "values are ASCII but for texts in quotes"},
    {"map = \"\"\"\\\n  \xc2\xa7\"\"\"\n", "2: a character that is not ASCII first after a line-ending backslash in a "
     "\"\"\" text; the project must be TOML, whose names and values are ASCII but for texts in quotes"},
    {"script = toy.qs\n", "1: Error while parsing boolean: expected 'true', saw 'to'; the project must be TOML"},
    // Each of these took toml++ 3.3 to undefined behaviour (UBSan: "execution reached an
    // unreachable program point"), past the check of bytes outside quotes.
    {"a =+\"\xEF\xBB\x9E\"\n", "1: a character that is not ASCII in a value that is no text (a quote opens a text "
     "only at the start of a value); the project must be TOML, whose names and values are ASCII but for texts in quotes"},
    {"[sound.hello]\ngain = [1, 2\"\xC3\xA9\"]\n", "2: a character that is not ASCII in a value that is no text (a quote "
     "opens a text only at the start of a value); the project must be TOML, whose names and values are ASCII but for "
     "texts in quotes"},
    {"map = \"\"\"\\\xC3\xA9\"\"\"\n", "1: a character that is not ASCII after a backslash in a text; the project must "
     "be TOML, whose names and values are ASCII but for texts in quotes"},
    {"map = \"\"\"\\ \xC2\xA7\"\"\"\n", "1: a character that is not ASCII first after a line-ending backslash in a "
     "\"\"\" text; the project must be TOML, whose names and values are ASCII but for texts in quotes"},
    // A number that is no number, in every key that takes one.
    {"[sound.hello]\ngain = nan\n", "2: gain nan is not a number: give -40 to 40 dB"},
    {"[sound.hello]\ngain = +nan\n", "2: gain nan is not a number: give -40 to 40 dB"},
    {"[sound.hello]\ngain = -inf\n", "2: gain -inf is not a number: give -40 to 40 dB"},
    {"[preparation]\nhighpass = inf\n", "2: highpass inf is not a number: give 1 to 4000 Hz"},
    {"[sound.hello]\nhighpass = \"nan:4\"\n", "2: highpass nan:4 is not a number: give 1 to 4000 Hz"},
    {"[preparation]\ntrim = -inf\n", "2: trim -inf is not a number: give -120 to -1 dBFS"},
    {"[sound.hello]\ntrim = \"nan\"\n", "2: trim nan is not a number: give -120 to -1 dBFS"},
    {"[sound.hello]\nloudness = nan\n", "2: loudness nan is not a number: give -70 to -1 LUFS"},
    {"[preparation]\nlimit = -nan\n", "2: limit nan is not a number: give -30 to 0 dBFS"},
    {"[sound.hello]\nadpcm_quality = nan\n", "2: adpcm_quality needs a level from 0 to 3"},
    {"part_size = inf\n", "1: part_size needs 262144, 524288, 1048576 or 2097152 (bytes), or \"256K\", \"512K\", \"1M\" or \"2M\""},
    {"parameters = [nan]\n", "1: parameters needs a list of at most 7 texts or whole numbers (the script's %3 to %9)"},
};

TEST(ProjectFileTest, ReadsEachKey) {
  const fs::path folder = ReaderFolder();
  const std::string path = (folder / "toy.toml").string();
  const std::string dir = folder.string();
  for (const ReadRow& row : kReadRows) {
    SCOPED_TRACE(row.text);
    ProjectFile project;
    std::string error;
    const bool read = ParseProjectText(path, row.text, &project, &error);
    std::string expected = row.error;
    for (size_t at; (at = expected.find("FOLDER")) != std::string::npos;) expected.replace(at, 6, dir);
    EXPECT_EQ(read, expected.empty());
    EXPECT_EQ(error, expected.empty() ? "" : path + ":" + expected);
  }
  ProjectFile p;
  std::string error;
  ASSERT_TRUE(ParseProjectText(path, kReadRows[0].text, &p, &error)) << error;
  EXPECT_EQ(p.script, dir + "/toy.qs");
  EXPECT_EQ(p.image, dir + "/toy.bin");
  EXPECT_EQ(p.options.html, dir + "/toy.html");
  EXPECT_EQ(p.options.keepPrepared, dir + "/listen");
  EXPECT_EQ(p.parameters, (std::vector<std::string>{"12", "34"}));
  EXPECT_EQ(p.partSize, 0x80000);
  EXPECT_TRUE(p.options.strict && p.options.resample && p.options.dither);
  EXPECT_EQ(p.options.loudness + " " + p.options.trim + " " + p.options.highpass + " " + p.options.limit, "-21 -50:30 150 -1");
  EXPECT_EQ(p.options.adpcmQuality, 2);
  ASSERT_EQ(p.sounds.size(), 1u);
  const SoundSettings& own = p.sounds[0];
  EXPECT_EQ(own.where, path + ":18");
  EXPECT_EQ(own.gainDb, 3.0);
  EXPECT_EQ(own.texts.highpass + " " + own.texts.loudness, "150:6 off");
  EXPECT_EQ(own.dither, 0);
  EXPECT_EQ(own.adpcmQuality, 3);
}

// The written project reads back, lists every sound with data, and is never written twice.
TEST(ProjectFileTest, InitialProjectReadsBack) {
  const fs::path folder = ReaderFolder();
  const std::string script = ".adpcm hello = \"h.wav\"\n  .PCM8 Song_2=\"s.wav\"\n.SILENCE pause = 100\n; .ULAW no = \"x\"\n";
  WriteText(folder / "toy.qs", script);
  EXPECT_EQ(ScriptSoundNames(script), (std::vector<std::string>{"hello", "Song_2"}));
  fs::remove(folder / "new.toml");
  const auto run = testsupport::RunProcess({QS71GEN_PATH, "--init-project", "new.toml", "toy.qs"}, {.folder = folder});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<uint8_t> bytes = ReadFileBytes(folder / "new.toml");
  std::string text(bytes.begin(), bytes.end());
  for (const char* section : {"# [sound.hello]\n", "# [sound.Song_2]\n"}) EXPECT_NE(text.find(section), std::string::npos);
  ProjectFile project;
  std::string error;
  EXPECT_TRUE(ParseProjectText((folder / "new.toml").string(), text, &project, &error)) << error;
  // Every commented key, taken in, is a key the reader knows with a value in range.
  std::string keys;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    const std::string line = text.substr(at, end - at + 1);
    const bool key = line.rfind("# ", 0) == 0 && (line[2] == '[' || line.find(" = ") != std::string::npos);
    keys += key ? line.substr(2) : line;
  }
  text = keys;
  EXPECT_TRUE(ParseProjectText((folder / "new.toml").string(), text, &project, &error)) << error;
  const auto again = testsupport::RunProcess({QS71GEN_PATH, "--init-project", "new.toml", "toy.qs"}, {.folder = folder});
  EXPECT_EQ(again.exitCode, 254);
  EXPECT_EQ(again.err, "qs71gen: new.toml exists; --init-project never writes over a file\n");
  const auto missing = testsupport::RunProcess({QS71GEN_PATH, "--init-project", "other.toml", "nosuch.qs"}, {.folder = folder});
  EXPECT_EQ(missing.exitCode, 254);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "qs71gen: --init-project: the script nosuch.qs cannot be read: there is no such file\n");
}

// The image of a run in folder, which writes it to image.
std::vector<uint8_t> Compile(const fs::path& folder, std::vector<std::string> args, const fs::path& image) {
  args.insert(args.begin(), QS71GEN_PATH);
  const auto run = testsupport::RunProcess(args, {.folder = folder});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  return ReadFileBytes(image);
}

// A project gives the image of the command line it stands for, also through settings per sound
// that equal the defaults; a sound's own setting changes that sound.
TEST(ProjectFileTest, CompilesAsTheCommandLine) {
  const fs::path folder = CleanScratchFolder(QS71_TEST_TMPDIR, "project-compile");
  fs::create_directories(folder / "takes");
  const fs::path out = folder / "out.bin";
  const std::vector<int32_t> voice = testwav::MakeSamples({testwav::Shape::Sweep, 80, 3000, 0.3}, 16000, 16000);
  const std::vector<int32_t> hum = testwav::MakeSamples({testwav::Shape::Sine, 50, 0, 0.2}, 12000, 16000);
  ASSERT_TRUE(testwav::WriteFile((folder / "takes/voice.wav").string(), testwav::EncodeWav(voice, {16000, 16, 1})));
  ASSERT_TRUE(testwav::WriteFile((folder / "takes/hum.wav").string(), testwav::EncodeWav(hum, {16000, 16, 1})));
  WriteText(folder / "takes/toy.qs", ".GLOBAL $FILESIZE = 40000h\n.ADPCM voice = \"voice.wav\"\n.PCM8 hum = \"hum.wav\"\n"
                                     ".SECTION [1] $GROUPS = voice(8000):0\n.SECTION [2] $GROUPS = hum(8000):0\n");
  const std::string common = "script = \"toy.qs\"\nimage = \"../out.bin\"\n[preparation]\nresample = true\n"
                             "highpass = 120\ntrim = -50\nloudness = -21.0\ndither = true\nadpcm_quality = 2\n";
  WriteText(folder / "takes/toy.toml", common + "[sound.voice]\nhighpass = 120\n[sound.HUM]\nadpcm_quality = 2\n");
  const std::vector<uint8_t> byProject = Compile(folder, {"--project", "takes/toy.toml"}, out);
  const std::vector<uint8_t> byCommand = Compile(folder / "takes", {"--resample", "--highpass", "120", "--trim", "-50",
      "--loudness", "-21", "--dither", "--adpcm-quality", "2", "toy.qs", "../out.bin"}, out);
  ASSERT_EQ(byProject.size(), 0x40000u);
  EXPECT_TRUE(byProject == byCommand);
  // The command line goes over the project's defaults.
  EXPECT_TRUE(Compile(folder, {"--loudness", "-30", "--project", "takes/toy.toml"}, out) != byCommand);
  WriteText(folder / "takes/toy.toml", common + "[sound.hum]\ngain = -6\n");
  const std::vector<uint8_t> quieter = Compile(folder, {"--project", "takes/toy.toml"}, out);
  EXPECT_TRUE(quieter != byCommand);
  WriteText(folder / "takes/toy.toml", common + "\n[sound.hom]\ngain = -6\n");
  const auto unknown = testsupport::RunProcess({QS71GEN_PATH, "--project", "takes/toy.toml"}, {.folder = folder});
  EXPECT_EQ(unknown.exitCode, 253);
  EXPECT_NE(unknown.err.find("qs71gen: takes/toy.toml:11: [sound.hom]: takes/toy.qs defines no sound hom; give a "
                              "sound the script defines\n"), std::string::npos) << unknown.err;
  EXPECT_TRUE(ReadFileBytes(out) == quieter);
}

}  // namespace
