#include "dump_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dump_options.h"
#include "dump_result.h"
#include "output_writer.h"
#include "image_map.h"
#include "image_page.h"
#include "playback_rate.h"
#include "sha256.h"
#include "file_system.h"
#include "sound_extract.h"
#include "sound_names.h"
#include "text_report.h"

namespace {

// Anything beyond the chip address space is refused by the size check anyway; reading one
// byte more than that is enough to tell from a stream whose size is not known beforehand.
constexpr size_t kStreamLimit = 0x10000000 + 1;

// The size of a regular file, judged before a byte of it is read, so that a huge (or sparse)
// file costs neither time nor memory. Devices and pipes have no size to ask; they are read up
// to the limit and judged afterwards.
int JudgeSizeFirst(const std::string& path, size_t* readLimit, std::string* problem) {
  std::error_code error;
  *readLimit = kStreamLimit;
  if (!std::filesystem::is_regular_file(path, error)) return DumpOk;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return DumpOk;  // the open below names the reason
  const int r = RefuseBySize(static_cast<int64_t>(std::min<uintmax_t>(size, INT64_MAX)), problem);
  if (r != DumpOk) *problem = path + ": " + *problem;
  // One byte more tells a file that grew while it was read.
  *readLimit = static_cast<size_t>(size) + 1;
  return r;
}

int ReadImage(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  size_t limit = 0;
  const int r = JudgeSizeFirst(path, &limit, problem);
  if (r != DumpOk) return r;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = path + ": " + std::strerror(errno);
    return DumpOpenFailed;
  }
  bytes->clear();
  uint8_t chunk[65536];
  size_t n = 0;
  while (bytes->size() < limit && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *problem = path;
    return DumpOpenFailed;
  }
  return DumpOk;
}

int Fail(int result, const std::string& detail, DumpOutput* output) {
  output->err += Format("qs71dump: %s: %s\n", DumpMessage(result), detail.c_str());
  if (result == DumpUsage) output->err += "Try qs71dump --help.\n";
  return DumpExitCode(result);
}

// The files of the run: the image read, and the page written only for a file that is an
// image, never over it; the extracted sounds are checked against both.
RunFiles FilesOfRun(const DumpOptions& options) {
  RunFiles files;
  files.AddInput(options.image, "the image");
  if (!options.htmlFile.empty()) files.AddOutput(options.htmlFile, "the page");
  return files;
}

int WritePage(const DumpOptions& options, const std::vector<uint8_t>& image, const ImageMap& map,
              std::string* problem) {
  RunFiles read;
  read.AddInput(options.image, "the image");
  const std::string clash = read.Clash(options.htmlFile);
  if (!clash.empty()) {
    *problem = options.htmlFile + ": is " + clash + "; refusing to write the page over it";
    return DumpPageFailed;
  }
  return WriteImagePage(options.htmlFile, ImagePage(image, map, nullptr), problem);
}

// "2", "2 and 4", "1, 2 and 4".
std::string ListOfValues(const std::vector<int32_t>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += i + 1 == values.size() ? " and " : ", ";
    text += std::to_string(values[i]);
  }
  return text;
}

// A section with one or two links often reads the same under several GrpAdr values, and the
// image does not store the one its script set: the report keeps the first that fits, and the
// reader learns that it was a choice and how to make it.
std::string GrpAdrWarning(const ImageMap& map) {
  const std::vector<int32_t>& others = map.grpAdrAlsoConsistent;
  if (!map.grpAdrDetected || others.empty()) return "";
  return Format(
      "qs71dump: warning: %s: read with GrpAdr %d, but GrpAdr %s also %s every group entry "
      "consistently; give --grpadr with the value of the script's $GRPADR (qs71gen) if it was "
      "not %d\n",
      map.path.c_str(), map.grpAdr, ListOfValues(others).c_str(),
      others.size() == 1 ? "reads" : "read", map.grpAdr);
}

// A script's $MAINCLK is not in the image, but the generator's clock-divider word is, where no
// ramp sound took its place: the divider of the ramp rate at the script's clock. One that the
// clock read with does not give tells that every rate read with it is off (or that the script
// set $RAMP_RATE), and a page's player from qs71gen plays what the extracted file does not.
std::string ClockWarning(const DumpOptions& options, const ImageMap& map) {
  constexpr int64_t kDefaultRampRate = 64000;
  if (options.mainClockGiven) return "";
  const int64_t counting = ChipCountingClock(map.settings.mainClockHz);
  const uint8_t expected = static_cast<uint8_t>((counting + kDefaultRampRate / 2) / kDefaultRampRate - 1);
  for (const HeaderWord* word : {&map.rampDec, &map.rampInc}) {
    // A word of all ones was never written (a part read back before its header was).
    if (word->isRamp || word->word == 0xFFFFFFFFu || word->divider == expected) continue;
    return Format(
        "qs71dump: warning: %s: the clock-divider word holds divider %u, not the %u of a main clock "
        "of %lld Hz at the ramp rate of %lld Hz: the script set another $MAINCLK (or $RAMP_RATE); "
        "rates, durations and extracted sounds are given for %lld Hz; give --main-clock with the "
        "script's $MAINCLK\n",
        map.path.c_str(), word->divider, expected, static_cast<long long>(map.settings.mainClockHz),
        static_cast<long long>(kDefaultRampRate), static_cast<long long>(map.settings.mainClockHz));
  }
  return "";
}

// --names: the sounds take the names that the script or qs71gen's map gives them.
int NameTheSounds(const std::string& file, ImageMap* map, DumpOutput* output, std::string* problem) {
  std::string text;
  if (!ReadFileBytes(file, &text)) {
    *problem = file + ": " + LastSystemError();
    return DumpNamesFailed;
  }
  return TakeSoundNames(file, text, map, &output->err, problem);
}

}  // namespace

int RunDump(const std::vector<std::string>& args, DumpOutput* output) {
  DumpOptions options;
  std::string problem;
  int r = ParseDumpOptions(args, &options, &problem);
  if (r != DumpOk) return Fail(r, problem, output);
  if (options.help) {
    output->out += DumpUsageText();
    return 0;
  }
  if (options.version) {
    output->out += DumpVersionText();
    return 0;
  }
  std::vector<uint8_t> image;
  if ((r = ReadImage(options.image, &image, &problem)) != DumpOk) return Fail(r, problem, output);
  ImageMap map;
  map.path = options.image;
  map.sha256 = Sha256Hex(image.data(), image.size());
  r = BuildImageMap(image, options.settings, &map, &problem);
  if (r != DumpOk) return Fail(r, options.image + ": " + problem, output);
  output->err += GrpAdrWarning(map);
  output->err += ClockWarning(options, map);
  if (!options.namesFile.empty() && (r = NameTheSounds(options.namesFile, &map, output, &problem)) != DumpOk)
    return Fail(r, problem, output);
  if (!options.extractDir.empty() &&
      (r = RefuseExtractingOver(FilesOfRun(options), map, options.extractDir, &problem)) != DumpOk)
    return Fail(r, problem, output);
  output->out += options.json ? JsonReport(map) : TextReport(map);
  if (!options.htmlFile.empty() && (r = WritePage(options, image, map, &problem)) != DumpOk)
    return Fail(r, problem, output);
  if (options.extractDir.empty()) return 0;
  std::string listing;
  r = ExtractSounds(image, map, options.extractDir, &listing, &problem);
  // With --json the listing goes to standard error, so that standard output stays one document.
  (options.json ? output->err : output->out) += (options.json ? "" : "\nExtracted\n") + listing;
  return r == DumpOk ? 0 : Fail(r, problem, output);
}

int EmitDumpOutput(const DumpOutput& output, int status, FILE* out, FILE* err) {
  const std::string& text = output.out;
  errno = 0;
  const bool written =
      text.empty() || std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const std::string reason = FinishWrite(out, written);
  std::string message = output.err;
  if (!reason.empty()) {
    message += Format("qs71dump: %s: standard output: %s\n", DumpMessage(DumpOutputFailed),
                      reason.c_str());
    status = DumpExitCode(DumpOutputFailed);
  }
  std::fwrite(message.data(), 1, message.size(), err);
  return status;
}
