#include "dump_command.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dump_options.h"
#include "dump_result.h"
#include "image_map.h"
#include "sha256.h"
#include "json_report.h"
#include "sound_extract.h"
#include "text_report.h"

namespace {

// Anything beyond the chip address space is refused by the size check anyway; reading one
// byte more than that is enough to tell.
constexpr long kReadLimit = 0x10000000 + 1;

int ReadImage(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = path + ": " + std::strerror(errno);
    return DumpOpenFailed;
  }
  bytes->clear();
  uint8_t chunk[65536];
  size_t n = 0;
  while (bytes->size() < static_cast<size_t>(kReadLimit) &&
         (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
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
  Sha256 sha;
  sha.Add(image.data(), image.size());
  map.sha256 = sha.HexDigest();
  r = BuildImageMap(image, options.settings, &map, &problem);
  if (r != DumpOk) return Fail(r, options.image + ": " + problem, output);
  output->out += options.json ? JsonReport(map) : TextReport(map);
  if (options.extractDir.empty()) return 0;
  std::string listing;
  r = ExtractSounds(image, map, options.extractDir, &listing, &problem);
  // With --json the listing goes to standard error, so that standard output stays one document.
  (options.json ? output->err : output->out) += (options.json ? "" : "\nExtracted\n") + listing;
  return r == DumpOk ? 0 : Fail(r, problem, output);
}
