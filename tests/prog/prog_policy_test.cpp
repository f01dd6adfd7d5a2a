// A station's policy through the real qs71prog: what an operator could do to change what a
// station trusts or where it records (each the way it was done on a line) is refused, with the
// policy named, before any part is touched; a policy, a key folder or a key that others than
// root could change is refused, for root and for an unprivileged operator alike; the system's
// policy comes before QS71_STATION_POLICY; names that the trace cannot store are usage errors.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "file_contents.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

constexpr uid_t kNobody = 65534;

std::string InScene(std::string text, const std::filesystem::path& dir) {
  return std::regex_replace(text, std::regex("\\{dir\\}"), dir.string());
}

class ProgPolicy : public testing::Test {
 protected:
  void SetUp() override {
    dir = CleanScratchFolder(QS71_TEST_TMPDIR,
                             testing::UnitTest::GetInstance()->current_test_info()->name());
    image = GeneratedImage(dir / "gen");
    ASSERT_FALSE(image.empty());
    for (const char* key : {"alice", "mallory"}) {
      ASSERT_EQ(RunProg({"--make-key", (dir / key).string()}).exitCode, 0);
    }
    MakeJob("alice.job", {"--sign", (dir / "alice").string()});
    MakeJob("mallory.job", {"--sign", (dir / "mallory").string()});
    MakeJob("unsigned.job", {});
  }

  void MakeJob(const std::string& name, std::vector<std::string> arguments) {
    // A lot of one part ends a run of the job after its part: a job fixes its runs' counts.
    arguments.insert(arguments.begin(), {"--make-job", (dir / name).string(), "--write",
                                         image.string(), "--lot", "1"});
    ASSERT_EQ(RunProg(arguments).exitCode, 0);
  }

  // The policy file and its folder of keys, made afresh; keys names the files of the folder,
  // each a copy of alice.pub.
  void WritePolicy(const std::string& text, const std::vector<std::string>& keys = {"alice.pub"}) {
    EmptyFolder(dir / "policy");
    EmptyFolder(dir / "trusted-keys");
    std::ofstream(dir / "policy" / "station.toml") << InScene(text, dir);
    for (const std::string& key : keys) {
      std::filesystem::copy_file(dir / "alice.pub", dir / "trusted-keys" / key);
    }
  }

  Environment Scene(const Environment& more = {}) const {
    Environment environment = {{"QS71_STATION_POLICY", (dir / "policy" / "station.toml").string()},
                               {"XDG_CONFIG_HOME", (dir / "config").string()},
                               {"XDG_STATE_HOME", (dir / "state").string()},
                               {"QS71_EMU_SOCKET", (dir / "socket").string()}};
    for (const auto& [name, value] : more) {
      const auto same = [&name](const auto& entry) { return entry.first == name; };
      environment.erase(std::remove_if(environment.begin(), environment.end(), same),
                        environment.end());
      environment.emplace_back(name, InScene(value, dir));
    }
    return environment;
  }

  // A blank part in the socket, for a run that may take it.
  std::filesystem::path Part() {
    EmptyFolder(dir / "socket");
    const std::filesystem::path part = dir / "socket" / "part1.otp";
    EXPECT_EQ(RunProg({"--emulate=" + part.string(), "--identify"}).exitCode, 0);
    return part;
  }

  bool HoldsImage(const std::filesystem::path& part) const { return PartHoldsImage(part, image); }

  ProcessResult Run(std::vector<std::string> arguments, const Environment& more = {}) {
    for (std::string& argument : arguments) argument = InScene(argument, dir);
    return RunProg(arguments, Scene(more));
  }

  std::filesystem::path dir;
  std::filesystem::path image;
};

const char* const kSigned =
    "station = \"bench-3\"\njobs = \"signed\"\ntrusted-keys = \"{dir}/trusted-keys\"\n"
    "spool = \"{dir}/spool.db\"\n";

// Each way an operator changed what a line's station trusted or where it recorded ran the
// part before; under a policy each is refused, and the part stays blank.
TEST_F(ProgPolicy, TheOperatorDecidesNothingTheStationTrusts) {
  const std::vector<std::string> run = {"--emulate", "--production"};
  const struct {
    const char* name;
    std::string policy;
    std::vector<std::string> keys;  // in the policy's key folder
    std::vector<std::string> arguments;
    Environment environment;
    int exit;
    std::string says;
  } cases[] = {
      {"QS71_TRUST_DIR at an empty folder",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/unsigned.job"},
       {{"QS71_TRUST_DIR", "{dir}/empty"}},
       2,
       "QS71_TRUST_DIR cannot be set on this station: its policy {dir}/policy/station.toml names "
       "the keys it trusts (trusted-keys)"},
      {"--trust on the command line",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/mallory.job", "--trust", "{dir}/mallory.pub"},
       {},
       2,
       "--trust cannot be given on this station: its policy {dir}/policy/station.toml"},
      {"a key in the user's own folder",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/mallory.job"},
       {},
       2,
       "the user's own key folder {dir}/config/qs71/trusted-keys is not read on this station: "
       "its policy {dir}/policy/station.toml names the keys it trusts (trusted-keys); remove the "
       "folder"},
      {"a key folder mistyped",
       std::regex_replace(kSigned, std::regex("trusted-keys\""), "trusted-kyes\""),
       {"alice.pub"},
       {"--job", "{dir}/alice.job"},
       {},
       11,
       "the trusted-keys folder {dir}/trusted-kyes cannot be checked: No such file or directory: "
       "the station policy {dir}/policy/station.toml trusts no key, and this station runs no job"},
      {"only ALICE.PUB",
       kSigned,
       {"ALICE.PUB"},
       {"--job", "{dir}/mallory.job"},
       {},
       11,
       "the station policy {dir}/policy/station.toml trusts no key: its trusted-keys folder "
       "{dir}/trusted-keys holds no *.pub file (ALICE.PUB: a key's name ends in .pub), and this "
       "station runs no job until it holds one"},
      {"only alice.pub.bak",
       kSigned,
       {"alice.pub.bak"},
       {"--job", "{dir}/unsigned.job"},
       {},
       11,
       "holds no *.pub file (alice.pub.bak: a key's name ends in .pub)"},
      {"a job signed by anyone",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/mallory.job"},
       {},
       11,
       "mallory.job is signed by key "},
      {"an unsigned job",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/unsigned.job"},
       {},
       11,
       "unsigned.job is not signed, and this station runs only jobs signed by a key it trusts"},
      {"an image with --production",
       kSigned,
       {"alice.pub"},
       {"--write", image.string(), "--count", "1"},
       {},
       2,
       "--write IMAGE --production cannot be run on this station: its policy "
       "{dir}/policy/station.toml runs job files only: --job FILE, made with --make-job"},
      {"a trace of the operator's own",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/alice.job", "--trace", "{dir}/fresh.db"},
       {},
       2,
       "--trace cannot be given on this station: its policy {dir}/policy/station.toml names the "
       "trace"},
      {"a programmer library of the operator's own",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/alice.job", "--library", "{dir}/mine.so"},
       {},
       2,
       "--library cannot be given on this station: its policy {dir}/policy/station.toml lets "
       "qs71prog load only its own programmer library"},
      {"a log written into the station's record",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/alice.job", "--log", "{dir}/spool.db"},
       {},
       2,
       "--log {dir}/spool.db and the station policy's trace {dir}/spool.db are the same file; "
       "give --log another name"},
      {"a station's name of the operator's own",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/alice.job", "--station", "bench-9"},
       {},
       2,
       "--station cannot be given on this station: its policy {dir}/policy/station.toml names "
       "the station"},
  };
  std::filesystem::create_directories(dir / "empty");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(c.policy, c.keys);
    std::filesystem::remove_all(dir / "config");
    if (std::string(c.name).find("user's own") != std::string::npos) {
      std::filesystem::create_directories(dir / "config" / "qs71" / "trusted-keys");
      std::filesystem::copy_file(dir / "mallory.pub",
                                 dir / "config" / "qs71" / "trusted-keys" / "mallory.pub");
    }
    const std::filesystem::path part = Part();
    std::vector<std::string> arguments = run;
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult result = Run(arguments, c.environment);
    EXPECT_EQ(result.exitCode, c.exit) << result.out << result.err;
    EXPECT_NE(result.err.find(InScene(c.says, dir)), std::string::npos) << result.err;
    EXPECT_FALSE(HoldsImage(part));
    EXPECT_FALSE(std::filesystem::exists(dir / "fresh.db"));
  }
}

// What a policy lets run, and what the screen's first line and the summary say of it.
TEST_F(ProgPolicy, TheFirstLineAndTheSummarySayWhatRuns) {
  const struct {
    const char* name;
    const char* policy;  // "": none
    std::vector<std::string> arguments;
    int exit;  // a job's run ends with its lot (15)
    std::string says;
  } cases[] = {
      {"a signed job on a station for signed jobs",
       kSigned,
       {"--job", "{dir}/alice.job"},
       15,
       "station policy {dir}/policy/station.toml: only jobs signed by a trusted key run"},
      {"an unsigned job on a station for any job",
       "jobs = \"any\"\ntrusted-keys = [\"{dir}/trusted-keys/alice.pub\"]\n",
       {"--job", "{dir}/unsigned.job"},
       15,
       "station policy {dir}/policy/station.toml: job files run, signed or not"},
      {"an image on an engineer's desk",
       "",
       {"--write", image.string(), "--count", "1"},
       0,
       "no station policy: any job runs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(c.policy);
    if (*c.policy == '\0') std::filesystem::remove(dir / "policy" / "station.toml");
    // A log's highest number, of any job, is the floor of the next job's numbers.
    std::filesystem::remove(dir / "parts.csv");
    const std::filesystem::path part = Part();
    std::vector<std::string> arguments = {"--emulate",          "--production", "--summary",
                                          "{dir}/summary.json", "--log",        "{dir}/parts.csv"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult result = Run(
        arguments, *c.policy == '\0' ? Environment{{"QS71_STATION_POLICY", ""}} : Environment{});
    ASSERT_EQ(result.exitCode, c.exit) << result.out << result.err;
    const std::string says = InScene(c.says, dir);
    EXPECT_NE(result.out.substr(0, result.out.find('\n')).find("; " + says), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("qs71prog: " + says + "\n"), std::string::npos) << result.out;
    EXPECT_NE(ReadFileText(dir / "summary.json").find("\"policy\": \"" + says + "\""),
              std::string::npos);
    EXPECT_TRUE(HoldsImage(part));
    // The policy's station names the log's rows.
    EXPECT_EQ(ReadFileText(dir / "parts.csv").find(",bench-3,") != std::string::npos,
              c.policy == kSigned);
  }
  // The policy's spool holds its trace.
  EXPECT_TRUE(std::filesystem::exists(dir / "spool.db"));
}

// A file the operator could change decides nothing: the policy, its folder, a link's target,
// the key folder, a key and the line's CA, each owned by another user or writable by others.
TEST_F(ProgPolicy, FilesOthersCouldChangeAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "making a file another user's takes root";
  const std::string policy = "{dir}/policy/station.toml";
  const struct {
    const char* name;
    const char* path;  // what is changed
    int mode;          // its new mode, or -1 to give it to nobody
    std::string says;
  } cases[] = {
      {"a policy of another user's", "{dir}/policy/station.toml", -1,
       "the station policy " + policy +
           " is owned by nobody (uid 65534), not by root, so others "
           "than root could change it; a station takes it only from root: chown root " +
           policy},
      {"a policy its group may write", "{dir}/policy/station.toml", 0664,
       "the station policy " + policy + " can be written by its group, root (gid 0)"},
      {"a policy in a folder anyone may write", "{dir}/policy", 0757,
       "the station policy " + policy + ": its folder {dir}/policy can be written by every user"},
      {"a key folder its group may write", "{dir}/trusted-keys", 0775,
       "the trusted-keys folder {dir}/trusted-keys can be written by its group"},
      {"a key of another user's", "{dir}/trusted-keys/alice.pub", -1,
       "the trusted key {dir}/trusted-keys/alice.pub is owned by nobody (uid 65534)"},
      {"a CA of another user's", "{dir}/policy/line-ca.crt", -1,
       "the root certificate {dir}/policy/line-ca.crt is owned by nobody (uid 65534)"},
      {"a policy that links to another user's file", "{dir}/elsewhere/station.toml", -1,
       "the station policy " + policy +
           ", a link to {dir}/elsewhere/station.toml is owned by nobody"},
      {"a policy that links to a file of root's", "{dir}/elsewhere/station.toml", 0644, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(std::string(kSigned) + "root-certificate = \"{dir}/policy/line-ca.crt\"\n");
    std::ofstream(dir / "policy" / "line-ca.crt") << "-----BEGIN CERTIFICATE-----\n";
    const std::filesystem::path path = InScene(c.path, dir);
    if (path.parent_path().filename() == "elsewhere") {
      EmptyFolder(path.parent_path());
      std::filesystem::rename(dir / "policy" / "station.toml", path);
      std::filesystem::create_symlink(path, dir / "policy" / "station.toml");
    }
    ASSERT_EQ(c.mode < 0 ? chown(path.c_str(), kNobody, kNobody)
                         : chmod(path.c_str(), static_cast<mode_t>(c.mode)),
              0);
    const ProcessResult shown = Run({"--show-policy"});
    chmod((dir / "policy").c_str(), 0755);
    EXPECT_EQ(shown.exitCode, c.says.empty() ? 0 : 11) << shown.out;
    EXPECT_NE(shown.out.find(InScene(c.says, dir)), std::string::npos) << shown.out;
  }
}

// An operator without root meets the same checks: root's files are taken, the operator's own
// are not, whatever the operator may read.
TEST_F(ProgPolicy, AnUnprivilegedOperatorIsHeldToTheSameFiles) {
  if (geteuid() != 0) GTEST_SKIP() << "running as another user takes root";
  const std::vector<std::string> asNobody = {"setpriv",        "--reuid=65534", "--regid=65534",
                                             "--clear-groups", QS71PROG_PATH,   "--show-policy"};
  const struct {
    const char* name;
    const char* given;  // made the operator's own
    int exit;
    std::string says;
  } cases[] = {
      {"root's policy and keys", "", 0, "key "},
      {"the operator's own policy", "{dir}/policy/station.toml", 11,
       "the station policy {dir}/policy/station.toml is owned by nobody (uid 65534), not by root"},
      {"the operator's own key folder", "{dir}/trusted-keys", 11,
       "the trusted-keys folder {dir}/trusted-keys is owned by nobody (uid 65534)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(kSigned);
    if (*c.given != '\0') {
      ASSERT_EQ(chown(InScene(c.given, dir).c_str(), kNobody, kNobody), 0);
    }
    const ProcessResult shown = testsupport::RunProcess(asNobody, {.environment = Scene()});
    EXPECT_EQ(shown.exitCode, c.exit) << shown.out << shown.err;
    EXPECT_NE(shown.out.find(InScene(c.says, dir)), std::string::npos) << shown.out << shown.err;
  }
}

// The system's policy, bound over /etc/qs71 in a mount namespace of the test's own (nothing
// is written to the real /etc), comes before QS71_STATION_POLICY, which it refuses.
TEST_F(ProgPolicy, TheSystemPolicyComesFirst) {
  const bool hadEtc = std::filesystem::exists("/etc/qs71");
  const std::filesystem::path system = dir / "system";
  const std::string script =
      "set -e; mount --make-rprivate /; mount -t overlay overlay -o lowerdir=/etc,upperdir=" +
      (dir / "upper").string() + ",workdir=" + (dir / "work").string() +
      " /etc; mkdir -p /etc/qs71; mount --bind " + system.string() + " /etc/qs71; touch " +
      (dir / "namespace-ready").string() + "; exec \"$@\"";
  const struct {
    const char* name;
    Environment environment;
    int exit;
    std::string says;
  } cases[] = {
      {"the system's alone",
       {{"QS71_STATION_POLICY", ""}},
       0,
       "station policy /etc/qs71/station.toml: only jobs signed by a trusted key run\n"
       "why: the system's policy file, which only an administrator can change\n"},
      {"beside QS71_STATION_POLICY",
       {},
       11,
       "QS71_STATION_POLICY cannot be set on this station: its policy is /etc/qs71/station.toml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(kSigned);
    EmptyFolder(system);
    EmptyFolder(dir / "upper");
    EmptyFolder(dir / "work");
    std::filesystem::copy_file(dir / "policy" / "station.toml", system / "station.toml");
    std::filesystem::remove(dir / "namespace-ready");
    const Environment environment = Scene(c.environment);
    const ProcessResult shown = testsupport::RunProcess(
        {"unshare", "--mount", "sh", "-c", script, "sh", QS71PROG_PATH, "--show-policy"},
        {.environment = environment});
    if (!std::filesystem::exists(dir / "namespace-ready")) {
      GTEST_SKIP() << "no private mount namespace with an overlay on /etc here: " << shown.err;
    }
    EXPECT_EQ(shown.exitCode, c.exit) << shown.out << shown.err;
    EXPECT_NE(shown.out.find(c.says), std::string::npos) << shown.out << shown.err;
  }
  EXPECT_EQ(std::filesystem::exists("/etc/qs71"), hadEtc);
}

// No message shows a password: not libpq's words about a connection string it cannot read,
// which repeat it, in text or in JSON. Without a policy the password still works, with a
// warning; a policy cannot hold one.
TEST_F(ProgPolicy, ThePasswordIsNeverShown) {
  const std::string broken = "postgresql://line:s3cr3t-77@[::1/trace";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int exit;
    std::string says;
  } cases[] = {
      {"a production run",
       {"--emulate", "--write", image.string(), "--production", "--trace", broken},
       9,
       "the password in --trace can be read by every user of this computer"},
      {"its JSON",
       {"--emulate", "--write", image.string(), "--production", "--json", "--trace", broken},
       9,
       "IPv6 host address in URI: \\\"postgresql://line:***@[::1/trace\\\""},
      {"a report", {"--report", "-", "--trace", broken}, 9, "postgresql://line:***@[::1/trace"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Part();
    const ProcessResult result = Run(c.arguments, {{"QS71_STATION_POLICY", ""}});
    EXPECT_EQ(result.exitCode, c.exit) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find(c.says), std::string::npos)
        << result.out << result.err;
    EXPECT_EQ((result.out + result.err).find("s3cr3t"), std::string::npos)
        << result.out << result.err;
  }
  WritePolicy(std::string(kSigned) + "trace = \"postgresql://line:s3cr3t-77@db/trace\"\n");
  const ProcessResult refused = Run({"--show-policy"});
  EXPECT_EQ(refused.exitCode, 11);
  EXPECT_NE(refused.out.find("station.toml:5: trace holds a password"), std::string::npos)
      << refused.out;
  EXPECT_EQ(refused.out.find("s3cr3t"), std::string::npos) << refused.out;
}

// A name the trace cannot keep as text is a usage error naming it, before the part is touched.
TEST_F(ProgPolicy, NamesThatAreNoTextAreUsageErrors) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::string says;
  } cases[] = {
      {"an operator in Latin-1",
       {"--operator", "J\xE9r\xF4me"},
       "--operator \"J\\xE9r\\xF4me\" is not UTF-8 (byte 0xE9 at 2): a name is kept as text"},
      {"a station with an escape",
       {"--station", "b\x1B[2J"},
       "--station \"b\\x1B[2J\" holds a control character (byte 0x1B at 2)"},
      {"a log with a line end",
       {"--log", "{dir}/a\nb.csv"},
       "--log \"{dir}/a\\x0Ab.csv\" holds a control character"},
      {"an image in Latin-1",
       {"--write", "{dir}/voix-\xE9t\xE9.bin"},
       "--write \"{dir}/voix-\\xE9t\\xE9.bin\" is not UTF-8 (byte 0xE9 at "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path part = Part();
    std::vector<std::string> arguments = {"--emulate",    "--write", image.string(),
                                          "--production", "--count", "1"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult result = Run(arguments, {{"QS71_STATION_POLICY", ""}});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find(InScene(c.says, dir)), std::string::npos) << result.err;
    EXPECT_FALSE(HoldsImage(part));
  }
  // A job's name and work order reach every station's trace.
  const ProcessResult made =
      RunProg({"--make-job", (dir / "x.job").string(), "--write", image.string(), "--work-order",
               "WO-\xB5"
               "17"});
  EXPECT_EQ(made.exitCode, 2);
  EXPECT_NE(made.err.find("--work-order \"WO-\\xB517\" is not UTF-8 (byte 0xB5 at 4)"),
            std::string::npos)
      << made.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "x.job"));
}

}  // namespace
}  // namespace qs71prog::test
