#include "output_file.h"

#include <cstdio>
#include <mutex>
#include <cstring>
#include <vector>

#include "compile_state.h"
#include "name_tables.h"
#include "file_system.h"
#include "sha256.h"
#include "sound_kinds.h"

namespace {

// The outputs of a run, for the identity checks (PlaceOf: a name not yet created counts too).
struct OutputPlace {
  std::string name;
  const char* writes;  // what would be written over the file, for the refusal
  FilePlace place;
};

// A signal ends the whole process, whichever compiles are running in it: base removes every
// scratch file it made beside an output, the image's as well as the map's and the page's.
void InstallCleanup() {
  static std::once_flag installed;
  std::call_once(installed, [] { OnTermination(nullptr); });
}

OutputPlace Output(const std::string& name, const char* writes) {
  return {name, writes, PlaceOf(name)};
}

std::vector<OutputPlace> OutputPlaces(const OutputRequest& r) {
  std::vector<OutputPlace> places{Output(r.image, "the image")};
  if (!r.failed.empty()) places.push_back(Output(r.failed, "the image"));
  if (!r.map.empty()) places.push_back(Output(r.map, "the map"));
  if (!r.html.empty()) places.push_back(Output(r.html, "the page"));
  return places;
}

bool Refuse(CompileState& s, const OutputPlace& output, const std::string& what) {
  std::fprintf(s.Err, "qs71gen: %s is %s; refusing to write %s over it (nothing was written)\n",
               output.name.c_str(), what.c_str(), output.writes);
  return false;
}

const char* OutputName(const std::vector<OutputPlace>& places, size_t i) {
  if (i == 0) return "the image output";
  const bool failedImage = std::strcmp(places[i].writes, "the image") == 0;
  return failedImage ? "the failed-image file" : places[i].writes;
}

// The map and the page against every output before them; the image and the failed-image file
// are never both written.
bool OutputsApart(CompileState& s, const std::vector<OutputPlace>& places) {
  for (size_t j = 1; j < places.size(); ++j) {
    if (std::strcmp(places[j].writes, "the image") == 0) continue;
    for (size_t i = 0; i < j; ++i) {
      if (SamePlace(places[j].place, places[i].place)) {
        return Refuse(s, places[j], OutputName(places, i));
      }
    }
  }
  return true;
}

bool OutputsSpare(CompileState& s, const FileIdentity& input, const std::string& what) {
  for (const OutputPlace& output : OutputPlaces(s.Pending.request)) {
    if (SameFile(output.place.file, input)) return Refuse(s, output, what);
  }
  return true;
}

// The stream the compile writes its image into, when it is still to be settled.
FILE* Unsettled(CompileState& s) {
  if (s.Pending.aside != nullptr) return s.Pending.aside;
  return s.Pending.file.Stream();
}

void ReportNoImage(CompileState& s, bool quiet) {
  if (quiet) return;
  const std::string& image = s.Pending.request.image;
  if (s.Pending.image.existed) {
    std::fprintf(s.Err, "qs71gen: no image written: %s keeps its previous content\n",
                 image.c_str());
  } else {
    std::fprintf(s.Err, "qs71gen: no image written: %s was not created\n", image.c_str());
  }
}

void ReportNoScratch(CompileState& s, const std::string& output, const std::string& reason) {
  std::fprintf(s.Err,
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
bool OpenInPlace(CompileState& s, const std::string& output) {
  FILE* out = std::fopen(output.c_str(), "wb+");
  if (out == nullptr) {
    std::fprintf(s.Err, "qs71gen: %s: %s\n", output.c_str(), LastSystemError().c_str());
    return false;
  }
  if (std::fseek(out, 0, SEEK_SET) == 0) return s.Image = out, true;
  FILE* aside = std::tmpfile();
  if (aside == nullptr) {
    std::fprintf(s.Err, "qs71gen: %s cannot seek, and no file to build the image in: %s\n",
                 output.c_str(), LastSystemError().c_str());
    std::fclose(out);
    return false;
  }
  s.Pending.device = out;
  InstallCleanup();
  s.Pending.aside = s.Image = aside;
  return true;
}

bool CloseDevice(CompileState& s, bool deliver, FILE* image) {
  FILE* device = s.Pending.device;
  s.Pending.device = nullptr;
  if (device == nullptr) return true;
  bool ok = !deliver || CopyStream(image, device);
  const std::string reason = ok ? std::string() : LastSystemError();
  ok = std::fclose(device) == 0 && ok;
  if (deliver && !ok) {
    std::fprintf(s.Err, "qs71gen: the image cannot be written to %s: %s\n",
                 s.Pending.request.image.c_str(), reason.empty() ? LastSystemError().c_str() : reason.c_str());
  }
  return ok;
}

// A failed compile's image into its own file: renamed there, or copied into a device.
bool KeepFailedImage(CompileState& s, const std::string& failed) {
  const Destination d = DestinationOf(failed);
  std::string reason;
  if (!d.inPlace && s.Pending.aside == nullptr) {
    if (s.Pending.file.CommitAs(d.target, &reason)) return true;
    std::fprintf(s.Err, "qs71gen: %s: %s\n", failed.c_str(), reason.c_str());
    return false;
  }
  OutputWriter out;
  return out.Open(failed, AtLink::kFollow, &reason) && CopyStream(Unsettled(s), out.Stream()) &&
         out.Commit(&reason);
}

// Closes the image's stream and removes its scratch file; the image's name keeps what it held.
void DropImage(CompileState& s) {
  s.Image = nullptr;
  s.Pending.file.Discard();
  if (s.Pending.aside != nullptr) std::fclose(s.Pending.aside);
  s.Pending.aside = nullptr;
}

}  // namespace

bool StreamIsImage(FILE* stream, const std::string& image) {
  const FileIdentity out = IdentifyStream(stream);
  const bool carriesBytes = out.kind == FileKind::Regular || out.kind == FileKind::Fifo || out.kind == FileKind::Socket;
  return carriesBytes && SameFile(out, IdentifyFile(image.c_str()));
}

bool OpenImageOutput(CompileState& s, const OutputRequest& request) {
  s.Pending = PendingImage();
  s.Pending.request = request;
  const FileIdentity script = IdentifyFile(request.script.c_str());
  const std::vector<OutputPlace> places = OutputPlaces(request);
  if (!OutputsSpare(s, script, "the script") || !OutputsApart(s, places)) return false;
  if (!request.project.empty() && !OutputsSpare(s, IdentifyFile(request.project.c_str()), "the project")) return false;
  s.Pending.image = DestinationOf(request.image);
  if (s.Pending.image.inPlace) return OpenInPlace(s, request.image);
  InstallCleanup();
  std::string reason;
  if (!s.Pending.file.Open(request.image, AtLink::kFollow, &reason)) {
    return ReportNoScratch(s, request.image, reason), false;
  }
  s.Image = s.Pending.file.Stream();
  return true;
}

std::string OutputAt(CompileState& s, const std::string& path) {
  const std::vector<OutputPlace> places = OutputPlaces(s.Pending.request);
  const FilePlace place = PlaceOf(path);
  for (size_t i = 0; i < places.size(); ++i) {
    if (SamePlace(place, places[i].place)) return OutputName(places, i);
  }
  return {};
}

bool OutputSparesWaveFiles(CompileState& s) {
  for (const SoundDef* sound : SoundsNewestFirst(s)) {
    if (!KindHasData(sound->kind)) continue;
    const std::string what = "the wave file of sound <" + sound->name + ">";
    if (!OutputsSpare(s, IdentifyInput(sound->text.c_str()), what)) return false;
  }
  return true;
}

int SettleImageOutput(CompileState& s, int passResult, bool quiet) {
  FILE* stream = Unsettled(s);
  if (stream == nullptr) return passResult;
  s.Image = nullptr;
  const OutputRequest& request = s.Pending.request;
  if (s.Pending.device != nullptr) {
    const bool delivered = CloseDevice(s, passResult == 0, stream);
    if (passResult == 0) {
      DropImage(s);
      return delivered ? 0 : 1;
    }
  }
  if (passResult == 0) {
    std::string reason;
    if (s.Pending.file.Commit(&reason)) return 0;
    std::fprintf(s.Err, "qs71gen: the image cannot be given the name %s: %s\n",
                 request.image.c_str(), reason.c_str());
    ReportNoImage(s, quiet);
    return 1;
  }
  const bool kept = !request.failed.empty() && KeepFailedImage(s, request.failed);
  DropImage(s);
  if (kept) {
    if (!quiet) {
      std::fprintf(s.Err, "qs71gen: the image of this failed compile is in %s: never program it\n",
                   request.failed.c_str());
    }
    return passResult;
  }
  ReportNoImage(s, quiet);
  return passResult;
}

void AbandonImageOutput(CompileState& s) {
  if (Unsettled(s) == nullptr) return;
  CloseDevice(s, false, nullptr);
  DropImage(s);
}

bool ReadImageBack(CompileState& s, std::vector<uint8_t>* bytes) {
  FILE* image = s.Image;
  bytes->clear();
  if (image == nullptr || Unsettled(s) != image) return false;
  if (std::fflush(image) != 0 || std::fseek(image, 0, SEEK_SET) != 0) return false;
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, image)) > 0)
    bytes->insert(bytes->end(), block, block + n);
  return std::ferror(image) == 0;
}

std::string ImageSha256(CompileState& s) {
  FILE* image = s.Image;
  if (image == nullptr || Unsettled(s) != image) return {};
  if (std::fflush(image) != 0 || std::fseek(image, 0, SEEK_SET) != 0) return {};
  Sha256 sha;
  char block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, image)) > 0) sha.Add(block, n);
  return std::ferror(image) == 0 ? sha.HexDigest() : std::string();
}
