#include "job_file/job_run.h"

#include "job/programming_job.h"
#include "job_file/job_loader.h"

namespace qs71prog {

namespace {

void TakeSettings(const LoadedJob& job, Options& options) {
  const JobSettings& settings = job.settings;
  options.selection.write = true;
  options.selection.blankCheck = settings.blankCheck;
  options.selection.verify = settings.verify;
  options.volts = settings.volts;
  options.expectProgrammers = settings.programmers;
  options.jobName = settings.name;
  options.lot = settings.lot;
  options.workOrder = settings.workOrder;
  options.expectSha256 = settings.imageSha256;
  options.jobImage = job.image;
  options.jobSha256 = job.sha256;
  options.jobSigner = job.signer;
}

// --job FILE --verify or --identify: the part is checked against the job's image at the
// job's verify voltage; nothing is written.
void TakeImageOnly(const LoadedJob& job, Options& options) {
  options.volts = job.settings.volts;
  options.expectSha256 = job.settings.imageSha256;
  options.jobImage = job.image;
  options.jobSha256 = job.sha256;
  options.jobSigner = job.signer;
}

}  // namespace

ExitCode ApplyJobFile(Options& options, Console& console) {
  Trust trust;
  LoadedJob job;
  std::string problem;
  if (!LoadStationTrust(options, trust, problem) ||
      !LoadJob(options.jobFile, trust, job, problem)) {
    // Not the job file's name as the image: a refused job may be huge, and is not hashed.
    Options refused = options;
    refused.image.clear();
    return ReportJobNotRun(refused, console, problem, ExitCode::kNotAnImage);
  }
  if (options.production) {
    TakeSettings(job, options);
  } else {
    TakeImageOnly(job, options);
  }
  console.Err("qs71prog: job " + options.jobFile + ": " + job.trustWords + "\n");
  return ExitCode::kOk;
}

}  // namespace qs71prog
