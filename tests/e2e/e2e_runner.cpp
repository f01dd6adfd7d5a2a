// Runs qs71gen on one end-to-end case and compares its standard output, its exit code and the
// image it wrote with the case's expectations. On a difference it shows the first differing
// offset of the image and a readable diff of the output.
//
//   qs71_e2e_runner --gen PATH [--wrapper CMD] [--options ARGS] [--crlf] [--work DIR] [--update] CASE...
//
// --options puts ARGS (split at blanks) before every case's own arguments: an option that must
// leave every case as it is, such as a default given explicitly, is checked on all of them.

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "case_file.h"
#include "file_contents.h"
#include "output_lines.h"
#include "process_runner.h"
#include "test_scratch.h"
#include "wav_writer.h"

namespace {

struct Options {
  std::string gen;
  std::string wrapper;
  std::string options;
  std::string work = "e2e_work";
  bool crlf = false;
  bool update = false;
  std::vector<std::string> cases;
};

bool WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string BaseName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  return name.substr(0, name.find('.'));
}

testwav::Signal SignalOf(const std::map<std::string, std::string>& p) {
  testwav::Signal s;
  auto get = [&](const char* k, const char* d) { return p.count(k) ? p.at(k) : std::string(d); };
  std::string shape = get("shape", "sine");
  s.shape = shape == "sweep" ? testwav::Shape::Sweep
            : shape == "noise" ? testwav::Shape::Noise
            : shape == "silence" ? testwav::Shape::Silence
            : shape == "ramp" ? testwav::Shape::Ramp : testwav::Shape::Sine;
  s.freq = std::atof(get("freq", "440").c_str());
  s.freqEnd = std::atof(get("freq2", "4000").c_str());
  s.amplitude = std::atof(get("amp", "0.5").c_str());
  s.seed = static_cast<uint32_t>(std::atoi(get("seed", "1").c_str()));
  s.padFrames = static_cast<uint32_t>(std::atoi(get("pad", "0").c_str()));
  return s;
}

bool MakeWav(const std::string& dir, const WavInput& wav) {
  const auto& p = wav.params;
  testwav::Format f;
  if (p.count("rate")) f.rate = static_cast<uint32_t>(std::atoi(p.at("rate").c_str()));
  if (p.count("bits")) f.bits = static_cast<uint16_t>(std::atoi(p.at("bits").c_str()));
  if (p.count("channels")) f.channels = static_cast<uint16_t>(std::atoi(p.at("channels").c_str()));
  if (p.count("tag")) f.tag = static_cast<uint16_t>(std::strtol(p.at("tag").c_str(), nullptr, 0));
  if (p.count("layout") && !testwav::LayoutByName(p.at("layout"), &f.layout)) return false;
  uint32_t frames = p.count("frames") ? static_cast<uint32_t>(std::atoi(p.at("frames").c_str())) : 100;
  auto samples = testwav::MakeSamples(SignalOf(p), frames, f.rate);
  // What the chip tools never read: made by an audio library, as recorders make them.
  if (p.count("container")) return testwav::WriteSoundFile(dir + "/" + wav.name, samples, f, p.at("container"));
  std::vector<uint8_t> bytes = testwav::EncodeWav(samples, f);
  // Bad inputs: a header that lies about its data, a file cut short, another identifier.
  if (p.count("announce")) {
    uint32_t size = static_cast<uint32_t>(std::strtoll(p.at("announce").c_str(), nullptr, 0));
    const size_t at = testwav::WavHeader(f, 0).size() - 4;
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  if (p.count("cut")) bytes.resize(static_cast<size_t>(std::atoi(p.at("cut").c_str())));
  if (p.count("riff") && bytes.size() >= 4) std::copy_n(p.at("riff").begin(), 4, bytes.begin());
  return testwav::WriteFile(dir + "/" + wav.name, bytes);
}

std::string ExpandArg(const std::string& arg) {
  if (arg == "%script") return "script.qs";
  if (arg == "%image") return "image.bin";
  if (arg == "%empty") return "";  // an argument that is the empty string
  return arg;
}

// The wrapper's words (a shell would split "timeout 60 wine" the same way), then qs71gen and
// the case's arguments.
// The shell words that give the run its mount: a tmpfs, or the folder bound read-only onto
// itself. The namespace ends with the run, and the mount with it.
std::string MountSetup(const CaseMount& m) {
  if (m.kind == "tmpfs") return "mount -t tmpfs -o size=" + m.size + " tmpfs " + m.folder;
  return "mount --bind " + m.folder + " " + m.folder + " && mount -o remount,bind,ro " + m.folder;
}

std::vector<std::string> InMountNamespace(const CaseMount& m, const std::string& then) {
  return {"unshare", "-m", "sh", "-c", MountSetup(m) + " && " + then, "sh"};
}

std::vector<std::string> CommandLine(const Options& o, const CaseFile& c) {
  std::vector<std::string> line;
  if (!c.mount.folder.empty()) line = InMountNamespace(c.mount, "exec \"$@\"");
  std::istringstream wrapper(o.wrapper);
  for (std::string word; wrapper >> word;) line.push_back(word);
  line.push_back(o.gen);
  std::istringstream options(o.options);
  for (std::string word; options >> word;) line.push_back(word);
  if (c.keepFailedImage && !c.args.empty() && c.args[0] == "%script") {
    line.insert(line.end(), {"--failed-image", "image.bin"});
  }
  for (const std::string& a : c.args) line.push_back(ExpandArg(a));
  return line;
}

std::string StripCr(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
  }
  return out;
}

// The first differing line with a little context, each line shown with visible ends.
void ShowTextDiff(const char* what, const std::string& expected, const std::string& actual) {
  std::vector<std::string> e = Lines(expected), a = Lines(actual);
  size_t i = 0;
  while (i < e.size() && i < a.size() && e[i] == a[i]) ++i;
  std::printf("  %s differs at line %zu (expected %zu lines, got %zu):\n", what, i + 1, e.size(), a.size());
  size_t from = i >= 2 ? i - 2 : 0;
  for (size_t k = from; k < i + 3; ++k) {
    if (k < i) {
      std::printf("    %s|\n", e[k].c_str());
      continue;
    }
    if (k < e.size()) std::printf("   -%s|\n", e[k].c_str());
    if (k < a.size()) std::printf("   +%s|\n", a[k].c_str());
  }
}

// A scratch image left behind by qs71gen (hidden, or named *.qs71gen on Windows) is a fault.
bool NoScratchLeft(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return true;
  bool clean = true;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' || name.find(".qs71gen") != std::string::npos) {
      std::printf("  stray file left in the case folder: %s\n", name.c_str());
      clean = false;
    }
  }
  closedir(d);
  return clean;
}

// Every plain file in the case folder but the outputs (image.bin and what links lead to), as
// the runner left it before the run.
std::map<std::string, std::string> SnapshotInputs(const std::string& dir, const CaseFile& c) {
  std::map<std::string, std::string> files;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    const bool output = name == "image.bin" ||
        std::any_of(c.links.begin(), c.links.end(), [&](const auto& l) { return l.second == name; });
    if (!output && std::filesystem::is_regular_file(dir + "/" + name)) {
      files[name] = ReadFileText(dir + "/" + name);
    }
  }
  closedir(d);
  return files;
}

bool InputsUnchanged(const std::map<std::string, std::string>& before, const std::string& dir) {
  bool same = true;
  for (const auto& [name, bytes] : before) {
    if (ReadFileText(dir + "/" + name) == bytes) continue;
    std::printf("  input %s was changed by the run\n", name.c_str());
    same = false;
  }
  return same;
}

// Reads a case's FIFO while qs71gen runs. Opened without waiting for a writer, it hears nothing
// until one comes, and ends when the writer has gone or, for a run that never opened it, when
// the run is over and nothing is left to read.
class FifoDrain {
 public:
  explicit FifoDrain(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_NONBLOCK)) {
    if (fd >= 0) reader = std::thread([this] { Drain(); });
  }
  ~FifoDrain() { Finish(); }
  const std::string& Finish() {
    done = true;
    if (reader.joinable()) reader.join();
    if (fd >= 0) close(fd), fd = -1;
    return bytes;
  }

 private:
  void Drain() {
    char block[65536];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      const bool ready = poll(&p, 1, 50) > 0;
      if (!ready && !done) continue;
      const ssize_t n = read(fd, block, sizeof block);
      if (n > 0) bytes.append(block, static_cast<size_t>(n));
      else if (n == 0 || !ready) return;
    }
  }
  int fd;
  std::atomic<bool> done{false};
  std::string bytes;
  std::thread reader;
};

std::string g_drained;  // what the case's FIFO received

std::string ReadOutput(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) return g_drained;
  return ReadFileText(path);
}

bool CompareImage(const ImageExpectation& want, const std::string& path) {
  const bool exists = std::filesystem::exists(path);
  const std::string bytes = ReadOutput(path);
  if (want.mustBeAbsent) {
    if (exists) std::printf("  image: expected no file, found %zu bytes\n", bytes.size());
    return !exists;
  }
  std::vector<uint8_t> expected = ExpandImage(want);
  std::vector<uint8_t> actual(bytes.begin(), bytes.end());
  if (expected == actual) return true;
  size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  std::printf("  image: %zu bytes expected, %zu written; first difference at offset 0x%zx\n",
              expected.size(), actual.size(), i);
  for (size_t k = i; k < i + 16; ++k) {
    std::printf("   0x%06zx: expected %s, got %s\n", k,
                k < expected.size() ? std::to_string(expected[k]).c_str() : "-",
                k < actual.size() ? std::to_string(actual[k]).c_str() : "-");
  }
  return false;
}

// Rewrites the case's expectations from what the program did; the result needs a careful read.
void UpdateCase(const std::string& path, const std::string& text,
                const testsupport::ProcessResult& r,
                const std::string& imagePath, const CaseFile& c) {
  std::string head = text.substr(0, text.find("=== stdout"));
  std::string out = head + "=== stdout\n" + r.out;
  if (c.expectedStderr || !r.err.empty()) out += "=== stderr\n" + r.err;
  for (const auto& f : c.expectedFiles) out += "=== file " + f.first + "\n" + ReadOutput(imagePath.substr(0, imagePath.rfind('/') + 1) + f.first);
  const bool exists = std::filesystem::exists(imagePath);
  const std::string bytes = ReadOutput(imagePath);
  out += "=== image\n" + (exists ? DescribeImage(std::vector<uint8_t>(bytes.begin(), bytes.end())) : "none\n");
  WriteAll(path, out);
}

void MakeSpecialFiles(const std::string& dir, const CaseFile& c) {
  for (const auto& [name, target] : c.links) symlink(target.c_str(), (dir + "/" + name).c_str());
  for (const auto& [name, target] : c.replacedLinks) symlink(target.c_str(), (dir + "/" + name).c_str());
  for (const std::string& name : c.fifos) mkfifo((dir + "/" + name).c_str(), 0644);
  for (const auto& [name, mode] : c.modes) chmod((dir + "/" + name).c_str(), mode);
  if (!c.mount.folder.empty()) std::filesystem::create_directories(dir + "/" + c.mount.folder);
}

// Links are still the links they were (or plain files, where the run is to replace them), FIFOs
// still FIFOs, and files keep their permissions.
bool SpecialFilesKept(const std::string& dir, const CaseFile& c) {
  bool kept = true;
  struct stat st;
  for (const auto& [name, target] : c.replacedLinks) {
    if (lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) continue;
    std::printf("  %s is not a plain file in place of the link to %s\n", name.c_str(), target.c_str());
    kept = false;
  }
  for (const auto& [name, target] : c.links) {
    std::error_code ec;
    if (std::filesystem::is_symlink(dir + "/" + name, ec) &&
        std::filesystem::read_symlink(dir + "/" + name, ec).string() == target) continue;
    std::printf("  %s is no longer a link to %s\n", name.c_str(), target.c_str());
    kept = false;
  }
  for (const std::string& name : c.fifos) {
    if (lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) continue;
    std::printf("  %s is no longer a FIFO\n", name.c_str());
    kept = false;
  }
  for (const auto& [name, mode] : c.modes) {
    if (stat((dir + "/" + name).c_str(), &st) == 0 && (st.st_mode & 07777) == mode) continue;
    std::printf("  %s has mode %o, expected %o\n", name.c_str(), st.st_mode & 07777, mode);
    kept = false;
  }
  return kept;
}

// A mount in a private namespace needs a privilege that containers and CI runners often lack.
bool MountAllowed(const std::string& dir, const CaseMount& m, std::string* why) {
  if (m.folder.empty()) return true;
  testsupport::ProcessResult r = testsupport::RunProcess(InMountNamespace(m, "true"), {.folder = dir});
  *why = r.err.empty() ? "exit " + std::to_string(r.exitCode) : r.err.substr(0, r.err.find('\n'));
  return r.exitCode == 0;
}

bool RunCase(const Options& o, const std::string& path) {
  std::string text = ReadFileText(path);
  CaseFile c;
  std::string error;
  if (!ParseCaseFile(text, &c, &error)) return std::printf("%s: %s\n", path.c_str(), error.c_str()), false;
  std::string dir = o.work + "/" + BaseName(path);
  EmptyFolder(dir);
  WriteAll(dir + "/script.qs", c.script);
  for (const WavInput& w : c.wavs) MakeWav(dir, w);
  for (const auto& f : c.files) {
    std::filesystem::create_directories(std::filesystem::path(dir + "/" + f.first).parent_path());
    WriteAll(dir + "/" + f.first, std::string(f.second.begin(), f.second.end()));
  }
  MakeSpecialFiles(dir, c);
  std::string why;
  if (!MountAllowed(dir, c.mount, &why)) {
    std::printf("SKIP %s: mounting in a private mount namespace is not allowed here (%s)\n",
                BaseName(path).c_str(), why.c_str());
    return true;
  }
  const std::map<std::string, std::string> inputs = SnapshotInputs(dir, c);
  std::vector<std::unique_ptr<FifoDrain>> drains;
  for (const std::string& name : c.fifos) drains.push_back(std::make_unique<FifoDrain>(dir + "/" + name));
  testsupport::ProcessResult r = testsupport::RunProcess(CommandLine(o, c), {.folder = dir});
  g_drained.clear();
  for (auto& drain : drains) g_drained += drain->Finish();
  if (o.crlf) r.out = StripCr(r.out), r.err = StripCr(r.err);
  if (o.update) return UpdateCase(path, text, r, dir + "/image.bin", c), true;
  bool ok = true;
  if ((r.exitCode & 0xFF) != (c.exitCode & 0xFF)) {
    std::printf("  exit code %d, expected %d\n", r.exitCode, c.exitCode);
    ok = false;
  }
  if (r.out != c.expectedStdout) ShowTextDiff("stdout", c.expectedStdout, r.out), ok = false;
  if (c.expectedStderr && r.err != *c.expectedStderr) ShowTextDiff("stderr", *c.expectedStderr, r.err), ok = false;
  if (c.image.present && !CompareImage(c.image, dir + "/image.bin")) ok = false;
  if (!NoScratchLeft(dir)) ok = false;
  if (!InputsUnchanged(inputs, dir)) ok = false;
  if (!SpecialFilesKept(dir, c)) ok = false;
  for (const auto& [name, text] : c.expectedFiles) {
    std::string actual = ReadOutput(dir + "/" + name);
    if (o.crlf) actual = StripCr(actual);
    if (actual != text) ShowTextDiff(name.c_str(), text, actual), ok = false;
  }
  std::printf("%s %s\n", ok ? "PASS" : "FAIL", BaseName(path).c_str());
  return ok;
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--gen" && i + 1 < argc) o->gen = argv[++i];
    else if (a == "--wrapper" && i + 1 < argc) o->wrapper = argv[++i];
    else if (a == "--options" && i + 1 < argc) o->options = argv[++i];
    else if (a == "--work" && i + 1 < argc) o->work = argv[++i];
    else if (a == "--crlf") o->crlf = true;
    else if (a == "--update") o->update = true;
    else o->cases.push_back(a);
  }
  return !o->gen.empty() && !o->cases.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, &o)) {
    std::fprintf(stderr, "usage: %s --gen PATH [--wrapper CMD] [--options ARGS] [--crlf] [--work DIR] [--update] CASE...\n", argv[0]);
    return 2;
  }
  int failed = 0;
  for (const std::string& c : o.cases) failed += RunCase(o, c) ? 0 : 1;
  std::printf("%zu passed, %d failed\n", o.cases.size() - failed, failed);
  return failed == 0 ? 0 : 1;
}
