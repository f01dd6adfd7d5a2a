#include "output_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "compile_state.h"
#include "name_tables.h"
#include "platform/file_system.h"
#include "sha256.h"
#include "sound_kinds.h"

namespace {

struct PendingImage {
  OutputRequest request;
  std::string scratchName;  // empty for an unnamed scratch file or a device
  bool scratch = false;     // g_state.Image is a scratch file still to be settled
  bool existed = false;
};

PendingImage g_pending;
bool g_quiet = false;  // the scanner's fatal messages stand alone on standard error

// The signal handler may only unlink; it reads the name from here, never from a std::string.
char g_signalName[4096] = {};

void RemoveOnSignal() {
  if (g_signalName[0] != '\0') std::remove(g_signalName);
}

void SettleAtExit() {
  // The scanner's fatal limits end the program from the middle of a pass.
  if (!g_pending.scratch) return;
  g_quiet = true;
  SettleImageOutput(1);
}

void InstallCleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  std::atexit(SettleAtExit);
  OnTermination(RemoveOnSignal);
}

bool Refuse(const std::string& output, const char* what) {
  std::fprintf(stderr, "qs71gen: %s is %s; refusing to write the image over it (nothing was written)\n",
               output.c_str(), what);
  return false;
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

void ReportNoImage() {
  if (g_quiet) return;
  const std::string& image = g_pending.request.image;
  if (g_pending.existed) {
    std::fprintf(stderr, "qs71gen: no image written: %s keeps its previous content\n", image.c_str());
  } else {
    std::fprintf(stderr, "qs71gen: no image written: %s was not created\n", image.c_str());
  }
}

}  // namespace

bool OpenImageOutput(const OutputRequest& request) {
  g_pending = PendingImage();
  g_quiet = false;
  g_pending.request = request;
  const FileIdentity output = IdentifyFile(request.image.c_str());
  const FileIdentity script = IdentifyFile(request.script.c_str());
  if (SameFile(output, script)) return Refuse(request.image, "the script");
  if (SameFile(IdentifyFile(request.failed.c_str()), script)) return Refuse(request.failed, "the script");
  g_pending.existed = output.exists;
  if (output.exists && !output.regular) {
    g_state.Image = std::fopen(request.image.c_str(), "wb+");
    return g_state.Image != nullptr;
  }
  InstallCleanup();
  std::string name;
  FILE* stream = CreateScratchBeside(request.image, &name);
  if (stream == nullptr) return false;
  TakeScratch(stream, name);
  return true;
}

bool OutputSparesWaveFiles() {
  const FileIdentity output = IdentifyFile(g_pending.request.image.c_str());
  const FileIdentity failed = IdentifyFile(g_pending.request.failed.c_str());
  for (const SoundDef* sound : SoundsNewestFirst()) {
    if (!KindHasData(sound->kind)) continue;
    const FileIdentity wave = IdentifyFile(sound->text.c_str());
    const std::string what = "the wave file of sound <" + sound->name + ">";
    if (SameFile(output, wave)) return Refuse(g_pending.request.image, what.c_str());
    if (SameFile(failed, wave)) return Refuse(g_pending.request.failed, what.c_str());
  }
  return true;
}

int SettleImageOutput(int passResult) {
  if (!g_pending.scratch) return passResult;
  FILE* stream = g_state.Image;
  const std::string name = g_pending.scratchName;
  ReleaseScratch();
  const OutputRequest& request = g_pending.request;
  if (passResult == 0) {
    if (CommitScratch(stream, name, request.image)) return 0;
    std::fprintf(stderr, "qs71gen: the image cannot be given the name %s\n", request.image.c_str());
    ReportNoImage();
    return 1;
  }
  if (!request.failed.empty() && CommitScratch(stream, name, request.failed)) {
    if (!g_quiet) std::fprintf(stderr, "qs71gen: the image of this failed compile is in %s: never program it\n",
                 request.failed.c_str());
    return passResult;
  }
  if (request.failed.empty()) DiscardScratch(stream, name);
  ReportNoImage();
  return passResult;
}

void AbandonImageOutput() {
  if (!g_pending.scratch) return;
  FILE* stream = g_state.Image;
  const std::string name = g_pending.scratchName;
  ReleaseScratch();
  DiscardScratch(stream, name);
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
