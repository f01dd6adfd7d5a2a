#pragma once
// A job file made and taken back. LoadJob is the one door a run takes a job through: the
// whole file's hash, then the station's trust, then the settings and the image's own checks,
// all before a programmer is touched.

#include <cstdint>
#include <string>
#include <vector>

#include "job_file/job_format.h"
#include "job_file/trust.h"

namespace qs71prog {

struct LoadedJob {
  JobSettings settings;
  std::vector<uint8_t> image;
  std::string sha256;  // the job file's own: of everything its signature covers
  std::string signer;  // the signing key's fingerprint; empty when not signed
  // The station's verdict: accepted, and in words ("signed by ..., a key this station
  // trusts (...)", "not signed; this station trusts no key"), or the refusal.
  bool accepted = false;
  std::string trustWords;
};

// The file's bytes, signed with key when there is one.
std::vector<uint8_t> BuildJobFile(const JobSettings& settings, const std::vector<uint8_t>& image,
                                  const SecretKey* key);

// Everything the file holds, with the station's verdict in job.accepted and job.trustWords.
// False with problem only when the file itself is no sound job (missing, not a job, another
// format, cut short, changed, a setting out of range, an image that is no image).
bool ReadJob(const std::string& path, const Trust& trust, LoadedJob& job, std::string& problem);

// ReadJob, and a job the station does not accept is refused with the verdict's words.
bool LoadJob(const std::string& path, const Trust& trust, LoadedJob& job, std::string& problem);

}  // namespace qs71prog
