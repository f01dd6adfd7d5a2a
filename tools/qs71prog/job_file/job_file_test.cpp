// Job files made and taken back: every setting and byte survives, and every damage, every
// foreign key and every missing signature is refused with its own words and exit 11, through
// the real qs71prog, before a programmer is touched.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "file_contents.h"
#include "job_file/job_loader.h"
#include "job_file/job_run.h"
#include "process_runner.h"
#include "sha256.h"
#include "test_scratch.h"

namespace qs71prog {
namespace {

using testsupport::RunProcess;

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The trust folder is replaced by an empty one of the test's own, so that no test reads the
// system's or the user's keys.
testsupport::ProcessResult Prog(const std::filesystem::path& dir,
                                const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {QS71PROG_PATH};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return RunProcess(command, {.folder = dir, .environment = {{"QS71_TRUST_DIR", "no-keys"}}});
}

class JobFiles : public testing::Test {
 protected:
  void SetUp() override {
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    dir = CleanScratchFolder(QS71_TEST_TMPDIR, CaseName(name));
    std::filesystem::copy(QS71_EXAMPLES_DIR, dir / "project",
                          std::filesystem::copy_options::recursive);
    ASSERT_EQ(RunProcess({QS71GEN_PATH, "demo.qs", (dir / "demo.bin").string()},
                         {.folder = dir / "project"})
                  .exitCode,
              0);
    for (const char* key : {"engineer", "stranger"}) {
      ASSERT_EQ(Prog(dir, {"--make-key", key}).exitCode, 0);
    }
  }

  static std::string CaseName(std::string name) {
    for (char& c : name) c = c == '/' ? '_' : c;
    return name;
  }

  std::filesystem::path dir;
};

TEST_F(JobFiles, MadeAndLoadedGivesEveryFieldBack) {
  const auto made = Prog(dir, {"--make-job", "doorbell.job", "--write", "demo.bin",
                               "--no-blank-check", "--vdd", "4.5", "--vpp", "6.25",
                               "--verify-vdd", "2.7", "--expect-programmers", "4", "--lot",
                               "5000", "--work-order", "WO 17/b", "--job-name", "Doorbell, v2",
                               "--sign", "engineer"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  Trust trust;
  std::string problem;
  ASSERT_TRUE(LoadTrust({(dir / "engineer.pub").string()}, {}, trust, problem)) << problem;
  LoadedJob job;
  ASSERT_TRUE(LoadJob((dir / "doorbell.job").string(), trust, job, problem)) << problem;
  const JobSettings& s = job.settings;
  EXPECT_EQ(s.name, "Doorbell, v2");
  EXPECT_EQ(s.workOrder, "WO 17/b");
  EXPECT_EQ(s.chipSize, 262144u);
  EXPECT_FALSE(s.blankCheck);
  EXPECT_TRUE(s.verify);
  EXPECT_EQ(s.volts, (std::array<double, 4>{4.5, 4.5, 6.25, 2.7}));
  EXPECT_EQ(s.programmers, 4);
  EXPECT_EQ(s.lot, 5000);
  EXPECT_NE(s.madeBy.find('@'), std::string::npos);
  EXPECT_EQ(s.madeAt.size(), 20u);
  EXPECT_EQ(s.version, QS71PROG_TEST_VERSION);
  const std::vector<uint8_t> image = ReadFileBytes(dir / "demo.bin");
  EXPECT_EQ(job.image, image);
  EXPECT_EQ(s.imageSha256, FileSha256((dir / "demo.bin").string().c_str()));
  const std::string file = ReadFileText(dir / "doorbell.job");
  EXPECT_NE(file.find("\nsha256: " + job.sha256 + "\n"), std::string::npos);
  EXPECT_EQ(job.signer, trust.keys.at(0).fingerprint);
  EXPECT_TRUE(job.accepted);
  const auto json = Prog(dir, {"--show-job", "doorbell.job", "--json", "--trust", "engineer.pub"});
  EXPECT_EQ(json.exitCode, 0) << json.err;
  for (const std::string& member : std::vector<std::string>{"\"work_order\": \"WO 17/b\"", "\"blank_check\": false", "\"write_vpp\": 6.250",
        "\"lot\": 5000", "\"sha256\": \"" + job.sha256 + "\"", "\"signer\": \"" + job.signer + "\"",
        "\"accepted\": true"}) {
    EXPECT_NE(json.out.find(member), std::string::npos) << member << "\n" << json.out;
  }
}

// What a production run takes from a job: its options filled from the job alone, and the
// pre-flight's bytes the job's image, judged without reading the job file as an image.
TEST_F(JobFiles, ARunTakesEverythingFromItsJob) {
  ASSERT_EQ(Prog(dir, {"--make-job", "run.job", "--write", "demo.bin", "--no-verify",
                       "--write-vdd", "5", "--expect-programmers", "2", "--job-name", "night"})
                .exitCode,
            0);
  Options options;
  std::string error;
  const std::string job = (dir / "run.job").string();
  ASSERT_EQ(ParseArguments({"--job", job, "--production"}, options, error), Command::kRun) << error;
  setenv("QS71_TRUST_DIR", (dir / "no-keys").c_str(), 1);
  Console console;
  ASSERT_EQ(ApplyJobFile(options, console), ExitCode::kOk);
  EXPECT_TRUE(options.selection.write && options.selection.blankCheck);
  EXPECT_FALSE(options.selection.verify);
  EXPECT_EQ(options.Volts(Voltage::kWriteVdd), 5.0);
  EXPECT_EQ(options.expectProgrammers, 2);
  EXPECT_EQ(options.jobName, "night");
  EXPECT_EQ(options.expectSha256, FileSha256((dir / "demo.bin").string().c_str()));
  const Preflight preflight = PreflightImage(options);
  EXPECT_EQ(preflight.exit, ExitCode::kOk) << preflight.problem;
  EXPECT_EQ(preflight.bytes, ReadFileBytes(dir / "demo.bin"));
}

enum class Trusting { kNone, kEngineer, kStranger };

struct Damage {
  const char* name;
  bool sign;
  void (*edit)(std::string& bytes);
  Trusting trust;
  int exit;
  const char* words;
};

size_t Trailer(const std::string& bytes) { return bytes.rfind("\nsha256: ") + 1; }

const Damage kDamages[] = {
    {"as_made_signed_and_trusted", true, [](std::string&) {}, Trusting::kEngineer, 0,
     "which this station trusts"},
    {"as_made_unsigned_no_trust", false, [](std::string&) {}, Trusting::kNone, 0,
     "not signed; this station trusts no key"},
    {"signed_no_trust", true, [](std::string&) {}, Trusting::kNone, 0,
     "not checked: this station trusts no key"},
    {"header_byte", true, [](std::string& b) { b[b.find("name: ") + 6] ^= 1; },
     Trusting::kEngineer, 11, "was changed after it was made"},
    {"header_voltage", false, [](std::string& b) { b[b.find("write-vpp: ") + 11] = '7'; },
     Trusting::kNone, 11, "was changed after it was made"},
    {"image_byte", true, [](std::string& b) { b[b.find("\nimage: ") + 5000] ^= 0x40; },
     Trusting::kEngineer, 11, "was changed after it was made"},
    // Another hex digit: a flipped bit turns 'a' or 'f' into no hex digit at all, which fails as
    // a damaged trailer instead (two runs in sixteen, as the hash changes with the signing time).
    {"trailer_hash", true,
     [](std::string& b) { b[Trailer(b) + 9] = b[Trailer(b) + 9] == '0' ? '1' : '0'; },
     Trusting::kEngineer, 11, "was changed after it was made"},
    // Another hex digit, so that the signature still reads as one and fails as a signature.
    {"trailer_signature", true,
     [](std::string& b) { b[b.size() - 10] = b[b.size() - 10] == '0' ? '1' : '0'; },
     Trusting::kEngineer, 11, "'s signature does not hold for key"},
    {"trailer_end", true, [](std::string& b) { b[b.size() - 2] = 'D'; }, Trusting::kEngineer, 11,
     "is damaged: its trailer is not sha256, signature and end"},
    {"bytes_after_end", false, [](std::string& b) { b += "x"; }, Trusting::kNone, 11,
     "is damaged: 1 bytes follow its end line"},
    {"unsigned_under_trust", false, [](std::string&) {}, Trusting::kEngineer, 11,
     "is not signed, and this station runs only jobs signed by a key it trusts"},
    {"signed_by_another_key", true, [](std::string&) {}, Trusting::kStranger, 11,
     ", which this station does not trust"},
    {"cut_in_image", true, [](std::string& b) { b.resize(b.find("\nimage: ") + 1000); },
     Trusting::kNone, 11, "is cut short: its image has"},
    {"cut_in_trailer", true, [](std::string& b) { b.resize(b.size() - 20); }, Trusting::kNone, 11,
     "is cut short: its trailer ends before its end line"},
    {"cut_in_header", true, [](std::string& b) { b.resize(40); }, Trusting::kNone, 11,
     "is cut short: it ends in its header"},
    {"another_format", true, [](std::string& b) { b[8] = '2'; }, Trusting::kNone, 11,
     "is a job file of format 2; this qs71prog reads format 1 only"},
    {"cut_in_first_line", false, [](std::string& b) { b.resize(9); }, Trusting::kNone, 11,
     "is cut short: it ends in its first line"},
    {"not_a_job", false, [](std::string& b) { b = "PK\x03\x04 a zip file\n"; }, Trusting::kNone,
     11, "is not a job file: it does not begin with QS71JOB"},
};

class DamagedJobs : public JobFiles, public testing::WithParamInterface<Damage> {};

TEST_P(DamagedJobs, AreRefusedByShowJob) {
  const Damage& d = GetParam();
  std::vector<std::string> make = {"--make-job", "made.job", "--write", "demo.bin"};
  if (d.sign) make.insert(make.end(), {"--sign", "engineer"});
  ASSERT_EQ(Prog(dir, make).exitCode, 0);
  std::string bytes = ReadFileText(dir / "made.job");
  d.edit(bytes);
  WriteBytes(dir / "edited.job", bytes);
  std::vector<std::string> show = {"--show-job", "edited.job"};
  if (d.trust != Trusting::kNone) {
    show.insert(show.end(), {"--trust", d.trust == Trusting::kEngineer ? "engineer.pub"
                                                                       : "stranger.pub"});
  }
  const auto shown = Prog(dir, show);
  EXPECT_EQ(shown.exitCode, d.exit) << shown.err;
  EXPECT_NE((shown.out + shown.err).find(d.words), std::string::npos) << shown.out << shown.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, DamagedJobs, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage>& info) {
                           return std::string(info.param.name);
                         });

// A production run of a job the station refuses ends before the library is loaded: the
// emulated part in the socket stays blank, and the wire carries nothing.
TEST_F(JobFiles, ARefusedJobTouchesNoProgrammer) {
  ASSERT_EQ(Prog(dir, {"--make-job", "unsigned.job", "--write", "demo.bin"}).exitCode, 0);
  std::filesystem::create_directories(dir / "socket");
  ASSERT_EQ(Prog(dir, {"--emulate=socket/part.otp", "--identify"}).exitCode, 0);
  const std::string blank = ReadFileText(dir / "socket" / "part.otp");
  const std::vector<std::string> command = {QS71PROG_PATH, "--job",        "unsigned.job",
                                            "--production", "--emulate",    "--transcript",
                                            "wire.txt",     "--trust",      "engineer.pub"};
  const auto run = RunProcess(command, {.folder = dir,
                                        .environment = {{"QS71_TRUST_DIR", "no-keys"},
                                                        {"QS71_EMU_SOCKET", "socket"}}});
  EXPECT_EQ(run.exitCode, 11) << run.err;
  EXPECT_NE(run.err.find("unsigned.job is not signed"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "wire.txt"));
  EXPECT_EQ(ReadFileText(dir / "socket" / "part.otp"), blank);
}

struct KeyCase {
  const char* name;
  std::vector<std::string> arguments;
  int exit;
  const char* words;
};

class KeyRefusals : public JobFiles, public testing::WithParamInterface<KeyCase> {};

TEST_P(KeyRefusals, SayWhatTheFileIs) {
  const KeyCase& k = GetParam();
  std::string bytes = ReadFileText(dir / "engineer");
  bytes[bytes.rfind("secret: ") + 20] ^= 1;
  WriteBytes(dir / "damaged", bytes);
  const auto run = Prog(dir, k.arguments);
  EXPECT_EQ(run.exitCode, k.exit) << run.err;
  EXPECT_NE(run.err.find(k.words), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeyRefusals,
    testing::Values(
        KeyCase{"existing_key", {"--make-key", "engineer"}, 9,
                "engineer exists: a key is never written over"},
        KeyCase{"existing_file", {"--make-key", "demo.bin"}, 9, "demo.bin exists"},
        KeyCase{"public_key_to_sign",
                {"--make-job", "j.job", "--write", "demo.bin", "--sign", "engineer.pub"}, 11,
                "--sign engineer.pub is a public key: signing needs the secret key (engineer)"},
        KeyCase{"image_to_sign",
                {"--make-job", "j.job", "--write", "demo.bin", "--sign", "demo.bin"}, 11,
                "--sign demo.bin is not a qs71 key file"},
        KeyCase{"damaged_secret_key",
                {"--make-job", "j.job", "--write", "demo.bin", "--sign", "damaged"}, 11,
                "--sign damaged is a damaged key file"},
        KeyCase{"secret_key_to_trust", {"--show-job", "j.job", "--trust", "engineer"}, 11,
                "--trust engineer is a secret key"}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

TEST_F(JobFiles, SecretKeyIsTheOwnersAlone) {
  struct stat mode {};
  ASSERT_EQ(stat((dir / "engineer").c_str(), &mode), 0);
  EXPECT_EQ(mode.st_mode & 07777, 0600u);
  const std::string pub = ReadFileText(dir / "engineer.pub");
  const std::string secret = ReadFileText(dir / "engineer");
  EXPECT_TRUE(pub.starts_with("qs71 ed25519 public key 1\ncomment: made by ")) << pub;
  const std::string seed = secret.substr(secret.find("secret: ") + 8, 64);
  EXPECT_EQ(seed.size(), 64u);
  EXPECT_EQ(pub.find(seed), std::string::npos);
}

}  // namespace
}  // namespace qs71prog
