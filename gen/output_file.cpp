#include "output_file.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "compile_state.h"
#include "name_tables.h"
#include "platform/file_system.h"
#include "sha256.h"
#include "sound_kinds.h"

namespace {

// Where an output's bytes go: in place (a device, a pipe, or a name that a link leads through
// without a plain file at its end), or a rebuilt file at target, the end of any link chain.
struct Destination {
  bool inPlace = false;
  bool existed = false;
  std::string target;
};

// The outputs of a run, for the identity checks. A name not yet created is known by its
// folder and file name, so that two new outputs of one name are found as well.
struct OutputPlace {
  std::string name;
  const char* writes;  // what would be written over the file, for the refusal
  FileIdentity file;
  FileIdentity folder;
  std::string base;
};

struct PendingImage {
  OutputRequest request;
  Destination image;
  std::string scratchName;  // empty for an unnamed scratch file or a device
  bool scratch = false;     // g_state.Image is a scratch file still to be settled
  FILE* device = nullptr;   // a pipe or terminal that takes the image once it is complete
};

PendingImage g_pending;

// The signal handler may only unlink; it reads the name from here, never from a std::string.
char g_signalName[4096] = {};

void RemoveOnSignal() {
  if (g_signalName[0] != '\0') std::remove(g_signalName);
}

void InstallCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  OnTermination(RemoveOnSignal);
}

Destination DestinationOf(const std::string& output) {
  Destination d;
  const FileIdentity id = IdentifyFile(output.c_str());
  d.existed = id.exists;
  d.target = LinkTarget(output);
  // A link of /proc leads to a pipe or to a file that may have lost its name: in place.
  d.inPlace = id.exists && (!id.regular || !SameFile(IdentifyFile(d.target.c_str()), id));
  return d;
}

OutputPlace PlaceOf(const std::string& name, const char* writes) {
  OutputPlace p{name, writes, IdentifyFile(name.c_str()), {}, {}};
  const std::string target = LinkTarget(name);
  p.folder = IdentifyFile(FolderOf(target).c_str());
  p.base = target.substr(target.find_last_of("/\\") + 1);
  return p;
}

bool SamePlace(const OutputPlace& a, const OutputPlace& b) {
  if (a.file.exists || b.file.exists) return SameFile(a.file, b.file);
  return SameFile(a.folder, b.folder) && a.base == b.base;
}

std::vector<OutputPlace> OutputPlaces(const OutputRequest& r) {
  std::vector<OutputPlace> places{PlaceOf(r.image, "the image")};
  if (!r.failed.empty()) places.push_back(PlaceOf(r.failed, "the image"));
  if (!r.map.empty()) places.push_back(PlaceOf(r.map, "the map"));
  return places;
}

bool Refuse(const OutputPlace& output, const std::string& what) {
  std::fprintf(stderr, "qs71gen: %s is %s; refusing to write %s over it (nothing was written)\n",
               output.name.c_str(), what.c_str(), output.writes);
  return false;
}

// The map against the image and the failed-image file; those two are never both written.
bool OutputsApart(const std::vector<OutputPlace>& places) {
  const OutputPlace& last = places.back();
  if (std::strcmp(last.writes, "the map") != 0) return true;
  for (size_t i = 0; i + 1 < places.size(); ++i) {
    if (!SamePlace(last, places[i])) continue;
    return Refuse(last, i == 0 ? "the image output" : "the failed-image file");
  }
  return true;
}

bool OutputsSpare(const FileIdentity& input, const std::string& what) {
  for (const OutputPlace& output : OutputPlaces(g_pending.request)) {
    if (SameFile(output.file, input)) return Refuse(output, what);
  }
  return true;
}

void TakeScratch(FILE* stream, const std::string& name) {
  g_state.Image = stream;
  g_pending.scratch = true;
  g_pending.scratchName = name;
  std::snprintf(g_signalName, sizeof g_signalName, "%s", name.c_str());
}

void ReleaseScratch() {
  g_state.Image = nullptr;
  g_pending.scratch = false;
  g_pending.scratchName.clear();
  g_signalName[0] = '\0';
}

void ReportNoImage(bool quiet) {
  if (quiet) return;
  const std::string& image = g_pending.request.image;
  if (g_pending.image.existed) {
    std::fprintf(stderr, "qs71gen: no image written: %s keeps its previous content\n", image.c_str());
  } else {
    std::fprintf(stderr, "qs71gen: no image written: %s was not created\n", image.c_str());
  }
}

void ReportNoScratch(const std::string& output, const std::string& reason) {
  std::fprintf(stderr,
               "qs71gen: %s: cannot create a file in its folder: %s (qs71gen builds the output in a "
               "new file beside it and renames that onto it, so the folder must be writable)\n",
               output.c_str(), reason.c_str());
}

bool CopyStream(FILE* from, FILE* to) {
  if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0) return false;
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, from)) > 0) {
    if (std::fwrite(block, 1, n, to) != n) return false;
  }
  return std::ferror(from) == 0 && std::fflush(to) == 0;
}

// The image goes to a device in place. One that can seek (/dev/full, /dev/null) takes the
// writes as they come, as it always did; a pipe or terminal cannot take the skeleton's seeks,
// so the image is built aside and copied in once the compile has succeeded.
bool OpenInPlace(const std::string& output) {
  FILE* out = std::fopen(output.c_str(), "wb+");
  if (out == nullptr) {
    std::fprintf(stderr, "qs71gen: %s: %s\n", output.c_str(), LastSystemError().c_str());
    return false;
  }
  if (std::fseek(out, 0, SEEK_SET) == 0) return g_state.Image = out, true;
  FILE* aside = std::tmpfile();
  if (aside == nullptr) {
    std::fprintf(stderr, "qs71gen: %s cannot seek, and no file to build the image in: %s\n",
                 output.c_str(), LastSystemError().c_str());
    std::fclose(out);
    return false;
  }
  g_pending.device = out;
  InstallCleanup();
  TakeScratch(aside, "");
  return true;
}

bool CloseDevice(bool deliver, FILE* image) {
  FILE* device = g_pending.device;
  g_pending.device = nullptr;
  if (device == nullptr) return true;
  bool ok = !deliver || CopyStream(image, device);
  const std::string reason = ok ? std::string() : LastSystemError();
  ok = std::fclose(device) == 0 && ok;
  if (deliver && !ok) {
    std::fprintf(stderr, "qs71gen: the image cannot be written to %s: %s\n",
                 g_pending.request.image.c_str(), reason.empty() ? LastSystemError().c_str() : reason.c_str());
  }
  return ok;
}

// A failed compile's image into its own file: renamed there, or copied into a device.
bool KeepFailedImage(FILE* stream, const std::string& name, const std::string& failed) {
  const Destination d = DestinationOf(failed);
  std::string reason;
  if (!d.inPlace) {
    if (CommitScratch(stream, name, d.target, &reason)) return true;
    std::fprintf(stderr, "qs71gen: %s: %s\n", failed.c_str(), reason.c_str());
    return false;
  }
  FILE* out = std::fopen(failed.c_str(), "wb");
  bool ok = out != nullptr && CopyStream(stream, out);
  if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  DiscardScratch(stream, name);
  return ok;
}

}  // namespace

bool OpenImageOutput(const OutputRequest& request) {
  g_pending = PendingImage();
  g_pending.request = request;
  const FileIdentity script = IdentifyFile(request.script.c_str());
  const std::vector<OutputPlace> places = OutputPlaces(request);
  if (!OutputsSpare(script, "the script") || !OutputsApart(places)) return false;
  g_pending.image = DestinationOf(request.image);
  if (g_pending.image.inPlace) return OpenInPlace(request.image);
  InstallCleanup();
  std::string name;
  std::string reason;
  FILE* stream = CreateScratchBeside(g_pending.image.target, &name, &reason);
  if (stream == nullptr) return ReportNoScratch(request.image, reason), false;
  TakeScratch(stream, name);
  return true;
}

bool OutputSparesWaveFiles() {
  for (const SoundDef* sound : SoundsNewestFirst()) {
    if (!KindHasData(sound->kind)) continue;
    const std::string what = "the wave file of sound <" + sound->name + ">";
    if (!OutputsSpare(IdentifyFile(sound->text.c_str()), what)) return false;
  }
  return true;
}

int SettleImageOutput(int passResult, bool quiet) {
  if (!g_pending.scratch) return passResult;
  FILE* stream = g_state.Image;
  const std::string name = g_pending.scratchName;
  ReleaseScratch();
  const OutputRequest& request = g_pending.request;
  if (g_pending.device != nullptr) {
    const bool delivered = CloseDevice(passResult == 0, stream);
    if (passResult == 0) {
      DiscardScratch(stream, name);
      return delivered ? 0 : 1;
    }
  }
  if (passResult == 0) {
    std::string reason;
    if (CommitScratch(stream, name, g_pending.image.target, &reason)) return 0;
    std::fprintf(stderr, "qs71gen: the image cannot be given the name %s: %s\n",
                 request.image.c_str(), reason.c_str());
    ReportNoImage(quiet);
    return 1;
  }
  if (!request.failed.empty() && KeepFailedImage(stream, name, request.failed)) {
    if (!quiet) std::fprintf(stderr, "qs71gen: the image of this failed compile is in %s: never program it\n",
                 request.failed.c_str());
    return passResult;
  }
  if (request.failed.empty()) DiscardScratch(stream, name);
  ReportNoImage(quiet);
  return passResult;
}

void AbandonImageOutput() {
  if (!g_pending.scratch) return;
  CloseDevice(false, nullptr);
  FILE* stream = g_state.Image;
  const std::string name = g_pending.scratchName;
  ReleaseScratch();
  DiscardScratch(stream, name);
}

bool WriteOutputText(const std::string& path, const std::string& text, std::string* reason) {
  const Destination d = DestinationOf(path);
  std::string name;
  FILE* file = d.inPlace ? std::fopen(path.c_str(), "wb") : CreateScratchBeside(d.target, &name, reason);
  if (file == nullptr) {
    if (d.inPlace) *reason = LastSystemError();
    return false;
  }
  if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
    *reason = LastSystemError();
    if (d.inPlace) std::fclose(file);
    else DiscardScratch(file, name);
    return false;
  }
  if (!d.inPlace) return CommitScratch(file, name, d.target, reason);
  if (std::fclose(file) == 0) return true;
  *reason = LastSystemError();
  return false;
}

std::string ImageSha256() {
  FILE* image = g_state.Image;
  if (image == nullptr || !g_pending.scratch) return {};
  if (std::fflush(image) != 0 || std::fseek(image, 0, SEEK_SET) != 0) return {};
  Sha256 sha;
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, image)) > 0) sha.Add(block, n);
  return std::ferror(image) == 0 ? sha.HexDigest() : std::string();
}
