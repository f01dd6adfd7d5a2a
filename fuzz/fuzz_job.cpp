// The job file's reader on arbitrary bytes: the cut into header, image and trailer, the hash,
// the signature against the station's keys (QS71_TRUST_DIR, which scripts/fuzz.sh fills with
// the key that signed its seed job) and the settings. A job it reads must come back the same
// when it is written again: the header's rows write what they read.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "job_file/job_loader.h"
#include "job_file/key_places.h"

namespace {

const qs71prog::Trust& StationTrust() {
  static const qs71prog::Trust trust = [] {
    qs71prog::Trust loaded;
    std::string problem;
    if (!qs71prog::LoadTrust({}, qs71prog::TrustFolders(), loaded, problem)) std::abort();
    return loaded;
  }();
  return trust;
}

void ReadAgain(const qs71prog::LoadedJob& job) {
  const std::vector<uint8_t> again = qs71prog::BuildJobFile(job.settings, job.image, nullptr);
  WriteFileOrAbort("again.job", again.data(), again.size());
  qs71prog::LoadedJob reread;
  std::string problem;
  if (!qs71prog::ReadJob("again.job", qs71prog::Trust(), reread, problem) ||
      reread.image != job.image ||
      qs71prog::CoveredBytes(reread.settings, reread.image) !=
          qs71prog::CoveredBytes(job.settings, job.image)) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (EnterScratchFolder("job"), StationTrust(), true);
  (void)ready;
  WriteFileOrAbort("input.job", data, size);
  qs71prog::LoadedJob job;
  std::string problem;
  const bool read = qs71prog::ReadJob("input.job", StationTrust(), job, problem);
  if (read != problem.empty()) std::abort();  // a refusal says why, and only a refusal
  if (!read) return 0;
  if (job.image.size() != job.settings.chipSize || job.trustWords.empty()) std::abort();
  qs71prog::LoadedJob loaded;
  if (qs71prog::LoadJob("input.job", StationTrust(), loaded, problem) != job.accepted) std::abort();
  ReadAgain(job);
  return 0;
}
