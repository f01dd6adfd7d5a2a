#include "fit_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "audio/sound_import.h"
#include "command_line.h"
#include "compile_state.h"
#include "driver.h"
#include "file_system.h"
#include "fit_choice.h"
#include "fit_measure.h"
#include "fit_search.h"
#include "image_layout.h"
#include "output_file.h"
#include "output_writer.h"
#include "project_file.h"
#include "script_rewrite.h"
#include "sound_report.h"
#include "text_format.h"

namespace {

// The words without an option that takes a value (as "--name VALUE" or "--name=VALUE").
std::vector<std::string> Without(const std::vector<std::string>& words, const std::string& name) {
  std::vector<std::string> kept;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == name) ++i;
    else if (words[i].rfind(name + "=", 0) != 0) kept.push_back(words[i]);
  }
  return kept;
}

// The words of a compile of script as the fit runs it: always with --resample, so that a sound
// given another rate is brought to it. The look at the script (read) keeps no listening copies:
// those of NEW.qs's compile are the ones asked for.
std::vector<std::string> CompileWords(const FitRequest& r, const std::string& script, bool read = false) {
  std::vector<std::string> words{"qs71gen"};
  const std::vector<std::string> options = read ? Without(r.options, "--keep-prepared") : r.options;
  words.insert(words.end(), options.begin(), options.end());
  if (std::find(words.begin(), words.end(), "--resample") == words.end()) words.push_back("--resample");
  words.push_back(script);
  words.push_back(r.image);
  words.insert(words.end(), r.parameters.begin(), r.parameters.end());
  return words;
}

// Pointers into words, which must outlive them.
struct Arguments {
  std::vector<const char*> argv;
  explicit Arguments(const std::vector<std::string>& words) {
    for (const std::string& w : words) argv.push_back(w.c_str());
  }
  int argc() const { return static_cast<int>(argv.size()); }
};

// A compile of the fit; under a watch one that tells the watch what it read and writes the
// page the watch serves.
int RunCompile(CompileState& s, const Arguments& args) {
  if (s.Watched != nullptr) return RunWatchedCompile(args.argc(), args.argv.data(), s.Out, s.Err, s.Watched, s.Routes);
  return RunGenerator(args.argc(), args.argv.data(), s.Out, s.Err, s.Routes);
}

// What of the run NEW.qs would be written over; empty when none.
std::string Clash(const FitRequest& r, const CompileState* read) {
  RunFiles files;
  files.AddInput(r.script, "the script");
  if (!r.project.empty()) files.AddInput(r.project, "the project");
  files.AddOutput(r.image, "the image output");
  if (!r.map.empty()) files.AddOutput(r.map, "the map");
  if (!r.html.empty()) files.AddOutput(r.html, "the page");
  if (!r.failedImage.empty()) files.AddOutput(r.failedImage, "the failed-image file");
  if (read != nullptr) {
    for (const auto& entry : read->Prep.records) files.AddInput(entry.second.file, "the wave file " + entry.second.file);
  }
  return files.Clash(r.newScript);
}

bool AllSoundsRead(const CompileState& s) {
  return std::all_of(s.Prep.records.begin(), s.Prep.records.end(),
                     [](const auto& entry) { return entry.second.refusal.empty(); });
}

// What the fit learnt of the script before its pass 1 state was released.
struct ScriptFacts {
  std::vector<FitCandidates> sounds;
  int32_t fileSize = 0;
  int64_t room = 0;
  std::string adpcmQuality;  // the compile's level, and the sounds' own
  std::string clash;
};

std::string Cell(const FitOption& o, bool judged) {
  if (!judged) return Format("%-34s %8lld %7s", "as it is", static_cast<long long>(o.bytes), "-");
  return Format("%-34s %8lld %7.1f", FitOptionText(o).c_str(), static_cast<long long>(o.bytes), o.snrDb);
}

std::string Table(const ScriptFacts& facts, const std::vector<FitSound>& sounds, const FitChoice& choice,
                  const std::string& command) {
  std::string text = Format("\nFit for a part of %d bytes, %lld of them for sounds (SNR in dB against the source; "
                            "ADPCM at quality level %s):\n", facts.fileSize, static_cast<long long>(facts.room),
                            facts.adpcmQuality.c_str());
  size_t width = 4;
  for (const FitSound& sound : sounds) width = std::max(width, sound.name.size());
  text += Format("  %-*s  %-34s %8s %7s   %-34s %8s %7s\n", static_cast<int>(width), "name", "before", "bytes", "SNR",
                 "after", "bytes", "SNR");
  for (size_t i = 0; i < sounds.size(); ++i) {
    const FitSound& sound = sounds[i];
    text += Format("  %-*s  %s   %s%s%s\n", static_cast<int>(width), sound.name.c_str(),
                   Cell(sound.before, sound.judged).c_str(),
                   Cell(sound.options[choice.chosen[i]], sound.judged).c_str(), sound.kept.empty() ? "" : "  ",
                   sound.kept.c_str());
  }
  text += Format("free: %lld bytes; worst SNR %.1f dB (%s), total %.1f dB\n", static_cast<long long>(choice.free),
                 choice.worstDb, std::isfinite(choice.worstDb) ? sounds[choice.worst].name.c_str() : "none",
                 choice.totalDb);
  text += "limited by " + choice.limit + "\n";
  return text + "compiled as: " + command + "\n";
}

std::vector<ScriptEdit> Edits(const std::vector<FitSound>& sounds, const FitChoice& choice) {
  std::vector<ScriptEdit> edits;
  for (size_t i = 0; i < sounds.size(); ++i) {
    const FitOption& now = sounds[i].before;
    const FitOption& next = sounds[i].options[choice.chosen[i]];
    ScriptEdit edit{sounds[i].name, next.kind != now.kind ? next.kind : 0,
                    next.linkRate != now.linkRate ? next.linkRate : 0};
    if (edit.kind != 0 || edit.rate != 0) edits.push_back(edit);
  }
  return edits;
}

// The compile of the script itself, to show why the fit could not go on; its exit code, -3
// where it passed.
int CompileForErrors(CompileState& s, const FitRequest& r, const char* why) {
  const std::vector<std::string> words = CompileWords(r, r.script);
  const Arguments compile(words);
  const int code = RunCompile(s, compile);
  std::fprintf(s.Err, "qs71gen: --fit: %s was not written: %s\n", r.newScript.c_str(), why);
  return code == 0 ? -3 : code;
}

// For bench/fit.sh: how much the search measured, on standard error when QS71_FIT_STATS is set.
void PrintSearchStats(FILE* err, const FitSearchResult& search, const std::vector<FitCandidates>& sounds) {
  if (std::getenv("QS71_FIT_STATS") == nullptr) return;
  size_t options = 0;
  for (const FitCandidates& c : sounds) options += c.sound.judged ? c.rates.size() * kFitCodecs : 0;
  std::fprintf(err, "qs71gen: --fit measured %d rates (%d at the searching ADPCM level) in %d rounds, of %zu options\n",
               search.stats.measures, search.stats.adpcmMeasures, search.stats.rounds, options);
}

constexpr const char* kEverySoundRead = "every sound of the script must be read first";

// Pass 1 of the script, quietly, its sounds probed and not prepared; false (after the compile of
// the script has shown why) when its sounds cannot all be read.
bool ReadScript(CompileState& s, const FitRequest& r, FILE* quiet, ScriptFacts* facts, int* code) {
  auto read = std::make_unique<CompileState>();
  read->Out = read->Err = quiet;
  read->ProbeSoundsOnly = true;
  read->Watched = s.Watched;  // the script and wave files the fit reads are the watch's inputs
  read->Routes = s.Routes;    // the project is read through the program's route, as a compile reads it
  const std::vector<std::string> readWords = CompileWords(r, r.script, true);
  const Arguments args(readWords);
  const int pass = RunPassOne(*read, args.argc(), args.argv.data());
  const bool soundsRead = AllSoundsRead(*read);
  if (pass != 0 || !soundsRead) {
    ReleaseAll(*read);
    *code = CompileForErrors(s, r, soundsRead ? "the run stopped before the sounds were measured (above: why)"
                                              : kEverySoundRead);
    return false;
  }
  facts->fileSize = read->FileSize;
  facts->adpcmQuality = AdpcmQualityLevels(*read);
  facts->clash = Clash(r, read.get());
  if (read->FileSize >= kSystemAreaSize && facts->clash.empty()) {
    facts->room = SoundRoom(*read);
    facts->sounds = FitCandidatesOf(*read);
  }
  ReleaseAll(*read);
  return true;
}

// The measures run side by side, on scratch files beside the image (or the script, when the
// image is no regular file).
size_t FitWorkers() { return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4); }

bool Search(CompileState& s, const FitRequest& r, const ScriptFacts& facts, FitSearchResult* result) {
  const FileKind output = IdentifyFile(r.image.c_str()).kind;
  const std::string& beside = output == FileKind::Regular || output == FileKind::Missing ? r.image : r.script;
  FitScratch scratch;
  std::string reason;
  if (!scratch.Open(beside, FitWorkers(), &reason)) {
    std::fprintf(s.Err, "qs71gen: --fit needs scratch files beside %s: %s\n", beside.c_str(), reason.c_str());
    return false;
  }
  const FitMeasurer measure = [&](size_t worker, const FitJob& job, SoundSpectrum* spectrum, RateMeasure* out,
                                  std::string* why) {
    return scratch.Trim(worker, why) &&
           MeasureRate(facts.sounds[job.sound].take, job.played, job.adpcmLevel, scratch.Files(worker), spectrum, out, why);
  };
  *result = SearchFit(facts.sounds, facts.room, scratch.Workers(), measure);
  PrintSearchStats(s.Err, *result, facts.sounds);
  return true;
}

}  // namespace

int RunFitRequest(CompileState& s, const FitRequest& r) {
  std::string clash = Clash(r, nullptr);
  if (!clash.empty()) {
    std::fprintf(s.Err, "qs71gen: --fit would write %s over %s; give the new script a name of its own\n",
                 r.newScript.c_str(), clash.c_str());
    return -2;
  }
  FILE* quiet = std::tmpfile();
  if (quiet == nullptr) {
    std::fprintf(s.Err, "qs71gen: --fit needs a temporary file: %s\n", LastSystemError().c_str());
    return -2;
  }
  ScriptFacts facts;
  int code = 0;
  const bool read = ReadScript(s, r, quiet, &facts, &code);
  std::fclose(quiet);
  if (!read) return code;
  if (!facts.clash.empty()) {
    std::fprintf(s.Err, "qs71gen: --fit would write %s over %s; give the new script a name of its own\n",
                 r.newScript.c_str(), facts.clash.c_str());
    return -2;
  }
  if (facts.fileSize < kSystemAreaSize) {
    std::fprintf(s.Err, "qs71gen: --fit needs the part's size: %s sets no $FILESIZE; %s was not written\n",
                 r.script.c_str(), r.newScript.c_str());
    return -3;
  }
  FitSearchResult search;
  if (!Search(s, r, facts, &search)) return -2;
  if (!search.unprepared.empty()) {
    // The compile of the script says it again, where and with the listing around it.
    return CompileForErrors(s, r, kEverySoundRead);
  }
  const FitChoice& choice = search.choice;
  if (!choice.fits) {
    std::fprintf(s.Err, "qs71gen: --fit: nothing fits this part: with every sound at its smallest codec and rate the "
                 "sounds need %lld bytes where the part has room for %lld: over by %lld bytes; %s was not written\n",
                 static_cast<long long>(choice.bytes), static_cast<long long>(facts.room),
                 static_cast<long long>(choice.overBy), r.newScript.c_str());
    return -3;
  }
  std::string text, reason;
  if (!ReadFileBytes(r.script, &text)) {
    std::fprintf(s.Err, "qs71gen: --fit: %s cannot be read again: %s\n", r.script.c_str(), LastSystemError().c_str());
    return -2;
  }
  if (!WriteOutputText(r.newScript, RewriteScript(text, Edits(search.sounds, choice), s.Err), &reason)) {
    std::fprintf(s.Err, "qs71gen: --fit: %s cannot be written: %s\n", r.newScript.c_str(), reason.c_str());
    return -2;
  }
  const std::vector<std::string> words = CompileWords(r, r.newScript);
  const Arguments args(words);
  code = RunCompile(s, args);
  // The table follows the listing, on the stream that carried it.
  FILE* out = StreamIsImage(s.Out, r.image) ? s.Err : s.Out;
  const std::string table = Table(facts, search.sounds, choice, HintCommand(words));
  std::fwrite(table.data(), 1, table.size(), out);
  return code;
}

namespace {

// With a project, the script, image and parameters are the project's; the command line may give
// the image alone.
bool TakeNames(CompileState& s, int argc, const char* const* argv, int first, const ProjectFile& project,
               FitRequest* r) {
  if (!project.path.empty()) {
    if (argc - first > 1) {
      std::fprintf(s.Err, "qs71gen: --fit with --project takes the image output alone after the options (the "
                   "script and its parameters are the project's)\n");
      return false;
    }
    if (project.script.empty()) {
      std::fprintf(s.Err, "qs71gen: %s names no script: give script = \"NAME\"\n", project.path.c_str());
      return false;
    }
    r->script = project.script;
    r->image = first < argc ? argv[first] : project.image;
    r->parameters = project.parameters;
    return true;
  }
  if (first + 1 >= argc) {
    std::fprintf(s.Err, "qs71gen: --fit needs the script and the image output after the options\n");
    return false;
  }
  r->script = argv[first];
  r->image = argv[first + 1];
  for (int i = first + 2; i < argc; ++i) r->parameters.push_back(argv[i]);
  return true;
}

}  // namespace

int RunFit(CompileState& s, int argc, const char* const* argv, const GenOptions& options, const ProjectFile& project) {
  FitRequest r;
  r.newScript = options.fit;
  // --project stays among the options: each compile of the fit takes the project's settings.
  r.options = Without(std::vector<std::string>(argv + 1, argv + options.scriptIndex), "--fit");
  if (!TakeNames(s, argc, argv, options.scriptIndex, project, &r)) return -2;
  r.map = options.map;
  r.html = options.html;
  r.failedImage = options.failedImage;
  r.project = options.project;
  return RunFitRequest(s, r);
}
