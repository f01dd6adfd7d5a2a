// A station's policy through the real qs71prog: what an operator could do to change what a
// station trusts or where it records (each the way it was done on a line) is refused, with the
// policy named, before any part is touched; a policy, a key folder or a key that others than
// root could change is refused, for root and for an unprivileged operator alike; the system's
// policy comes before QS71_STATION_POLICY; names that the trace cannot store are usage errors.
// Each test runs twice: as root, and as an operator without root (nobody, through setpriv),
// who owns the station's own files (its socket, spool and state) and none of the policy's.
// The policy's files are made root's with their modes set here, whatever the umask.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>

#include "file_contents.h"
#include "other_user.h"
#include "prog_run.h"
#include "test_scratch.h"

namespace qs71prog::test {
namespace {

using testsupport::kNobody;

// Who runs qs71prog: root, or an operator without root.
enum class Operator { kRoot, kNobody };

// What root keeps of the scene: the policy's files, the system's policy and its mounts. The
// operator gets the rest: the socket, the spool, the state and whatever a run writes.
const char* const kRootsOwn[] = {"policy", "trusted-keys", "elsewhere", "key-store",
                                 "system", "upper",        "work"};

// path made root's, with mode: a station's administrator makes the policy's files so.
bool RootsOwn(const std::filesystem::path& path, mode_t mode) {
  return chown(path.c_str(), 0, 0) == 0 && chmod(path.c_str(), mode) == 0;
}

// {dir}: the test's folder, root's as the policy's folder is; {own}: the operator's folder in
// it, for what a run writes (a spool, a summary, a log).
std::string InScene(std::string text, const std::filesystem::path& dir) {
  text = std::regex_replace(text, std::regex("\\{own\\}"), (dir / "station").string());
  return std::regex_replace(text, std::regex("\\{dir\\}"), dir.string());
}

class ProgPolicy : public testing::TestWithParam<Operator> {
 protected:
  void SetUp() override {
    const std::filesystem::path scratch = QS71_TEST_TMPDIR;
    std::error_code ignored;
    std::filesystem::permissions(scratch, std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ignored);
    const std::string why = GetParam() == Operator::kRoot
                                ? testsupport::WhyFilesCannotChangeHands()
                                : testsupport::WhyNobodyCannotRun({QS71PROG_PATH, scratch / "."});
    if (!why.empty()) {
      if (testsupport::EveryTestMustRun()) {
        FAIL() << why << " (QS71_CI is set: every policy test must run here)";
      }
      GTEST_SKIP() << why;
    }
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    dir = CleanScratchFolder(scratch, name.substr(0, name.find('/')) +
                                          (GetParam() == Operator::kRoot ? "-root" : "-nobody"));
    // The folder of the key folder is checked: root's, and no one else may write it.
    ASSERT_TRUE(RootsOwn(dir, 0755));
    own = dir / "station";
    std::filesystem::create_directories(own);
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
      ASSERT_TRUE(RootsOwn(dir / "trusted-keys" / key, 0644));
    }
    for (const char* folder : {"policy", "trusted-keys"}) ASSERT_TRUE(RootsOwn(dir / folder, 0755));
    ASSERT_TRUE(RootsOwn(dir / "policy" / "station.toml", 0644));
  }

  // The command line as the test's operator runs it; nobody is given the scene's files but
  // the policy's first.
  std::vector<std::string> AsOperator(const std::vector<std::string>& line) const {
    if (GetParam() == Operator::kRoot) return line;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (std::find(std::begin(kRootsOwn), std::end(kRootsOwn), name) != std::end(kRootsOwn)) continue;
      EXPECT_TRUE(testsupport::GiveTo(entry.path(), kNobody, kNobody)) << entry.path();
    }
    return testsupport::AsNobody(line);
  }

  Environment Scene(const Environment& more = {}) const {
    Environment environment = {{"QS71_STATION_POLICY", (dir / "policy" / "station.toml").string()},
                               {"XDG_CONFIG_HOME", (own / "config").string()},
                               {"XDG_STATE_HOME", (own / "state").string()},
                               {"QS71_EMU_OPERATOR", "0"},
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
    arguments.insert(arguments.begin(), QS71PROG_PATH);
    for (std::string& argument : arguments) argument = InScene(argument, dir);
    return testsupport::RunProcess(AsOperator(arguments), {.environment = Scene(more)});
  }

  std::filesystem::path dir;
  std::filesystem::path own;
  std::filesystem::path image;
};

// The station's programmers are emulated: its dry runs record as a line of them does.
const char* const kSigned =
    "station = \"bench-3\"\njobs = \"signed\"\ntrusted-keys = \"{dir}/trusted-keys\"\n"
    "spool = \"{own}/spool.db\"\ndry-runs = \"recorded\"\n";

// Each way an operator changed what a line's station trusted or where it recorded ran the
// part before; under a policy each is refused, and the part stays blank.
TEST_P(ProgPolicy, TheOperatorDecidesNothingTheStationTrusts) {
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
      {"a dry run of a signed job, counted in the line's lot",
       std::regex_replace(kSigned, std::regex("dry-runs = \"recorded\"\n"), ""),
       {"alice.pub"},
       {"--job", "{dir}/alice.job"},
       {},
       2,
       "--emulate --production cannot be run on this station: its policy "
       "{dir}/policy/station.toml records production into its trace, where emulated parts would "
       "count in the lot as parts made (dry-runs = \"recorded\" is for a line of emulated "
       "programmers)"},
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
       "the user's own key folder {own}/config/qs71/trusted-keys is not read on this station: "
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
       {"--job", "{dir}/alice.job", "--trace", "{own}/fresh.db"},
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
       {"--job", "{dir}/alice.job", "--log", "{own}/spool.db"},
       {},
       2,
       "--log {own}/spool.db and the station policy's trace {own}/spool.db are the same file; "
       "give --log another name"},
      {"a log written into the record's journal",
       kSigned,
       {"alice.pub"},
       {"--job", "{dir}/alice.job", "--log", "{own}/spool.db-journal"},
       {},
       2,
       "--log {own}/spool.db-journal and the rollback journal of the station policy's trace "
       "{own}/spool.db-journal are the same file; give --log another name"},
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
    std::filesystem::remove_all(own / "config");
    if (std::string(c.name).find("user's own") != std::string::npos) {
      std::filesystem::create_directories(own / "config" / "qs71" / "trusted-keys");
      std::filesystem::copy_file(dir / "mallory.pub",
                                 own / "config" / "qs71" / "trusted-keys" / "mallory.pub");
    }
    const std::filesystem::path part = Part();
    std::vector<std::string> arguments = run;
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult result = Run(arguments, c.environment);
    EXPECT_EQ(result.exitCode, c.exit) << result.out << result.err;
    EXPECT_NE(result.err.find(InScene(c.says, dir)), std::string::npos) << result.err;
    EXPECT_FALSE(HoldsImage(part));
    EXPECT_FALSE(std::filesystem::exists(own / "fresh.db"));
  }
}

// What a policy lets run, and what the screen's first line and the summary say of it.
TEST_P(ProgPolicy, TheFirstLineAndTheSummarySayWhatRuns) {
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
       "jobs = \"any\"\ntrusted-keys = [\"{dir}/trusted-keys/alice.pub\"]\ndry-runs = \"recorded\"\n",
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
    // A log of its own: the jobs share an image, whose rows in a log are the floor of its numbers.
    std::filesystem::remove(own / "parts.csv");
    const std::filesystem::path part = Part();
    std::vector<std::string> arguments = {"--emulate",          "--production", "--summary",
                                          "{own}/summary.json", "--log",        "{own}/parts.csv"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult result = Run(
        arguments, *c.policy == '\0' ? Environment{{"QS71_STATION_POLICY", ""}} : Environment{});
    ASSERT_EQ(result.exitCode, c.exit) << result.out << result.err;
    const std::string says = InScene(c.says, dir);
    EXPECT_NE(result.out.substr(0, result.out.find('\n')).find("; " + says), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("qs71prog: " + says + "\n"), std::string::npos) << result.out;
    EXPECT_NE(ReadFileText(own / "summary.json").find("\"policy\": \"" + says + "\""),
              std::string::npos);
    EXPECT_TRUE(HoldsImage(part));
    // The policy's station names the log's rows.
    EXPECT_EQ(ReadFileText(own / "parts.csv").find(",bench-3,") != std::string::npos,
              c.policy == kSigned);
  }
  // The policy's spool holds its trace.
  EXPECT_TRUE(std::filesystem::exists(own / "spool.db"));
}

// A file the operator could change decides nothing: the policy, its folder, a link's target,
// the key folder, a key and the line's CA, each owned by another user or writable by others.
TEST_P(ProgPolicy, FilesOthersCouldChangeAreRefused) {
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
      // root's key, reached through a link in a folder the operator may change: the operator
      // may point that link at any file of root's, a key long withdrawn among them.
      {"a key linked through another user's folder", "{dir}/hop", -1,
       "the trusted key {dir}/trusted-keys/alice.pub: the folder {dir}/hop of its link "
       "{dir}/hop/alice.pub is owned by nobody (uid 65534)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WritePolicy(std::string(kSigned) + "root-certificate = \"{dir}/policy/line-ca.crt\"\n");
    std::ofstream(dir / "policy" / "line-ca.crt") << "-----BEGIN CERTIFICATE-----\n";
    ASSERT_TRUE(RootsOwn(dir / "policy" / "line-ca.crt", 0644));
    const std::filesystem::path path = InScene(c.path, dir);
    if (path.parent_path().filename() == "elsewhere") {
      ASSERT_TRUE(RootsOwn(EmptyFolder(path.parent_path()), 0755));
      std::filesystem::rename(dir / "policy" / "station.toml", path);
      std::filesystem::create_symlink(path, dir / "policy" / "station.toml");
    }
    if (path.filename() == "hop") {
      ASSERT_TRUE(RootsOwn(EmptyFolder(dir / "key-store"), 0755));
      ASSERT_TRUE(RootsOwn(EmptyFolder(path), 0755));
      std::filesystem::rename(dir / "trusted-keys" / "alice.pub", dir / "key-store" / "alice.pub");
      std::filesystem::create_symlink(dir / "key-store" / "alice.pub", path / "alice.pub");
      std::filesystem::create_symlink(path / "alice.pub", dir / "trusted-keys" / "alice.pub");
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

// The operator's own policy or key folder decides nothing, whatever the operator may read;
// root's are taken.
TEST_P(ProgPolicy, TheOperatorsOwnFilesAreRefused) {
  const struct {
    const char* name;
    const char* given;  // made nobody's
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
    const ProcessResult shown = Run({"--show-policy"});
    EXPECT_EQ(shown.exitCode, c.exit) << shown.out << shown.err;
    EXPECT_NE(shown.out.find(InScene(c.says, dir)), std::string::npos) << shown.out << shown.err;
  }
  // A policy only root may read (an administrator's slip) runs nothing for an operator
  // without root, and says why: the one place where who runs qs71prog shows.
  WritePolicy(kSigned);
  ASSERT_TRUE(RootsOwn(dir / "policy" / "station.toml", 0600));
  const ProcessResult unread = Run({"--show-policy"});
  if (GetParam() == Operator::kRoot) {
    EXPECT_EQ(unread.exitCode, 0) << unread.out;
  } else {
    EXPECT_EQ(unread.exitCode, 11) << unread.out;
    EXPECT_NE(unread.out.find(InScene("the station policy {dir}/policy/station.toml cannot be "
                                      "read: Permission denied", dir)),
              std::string::npos)
        << unread.out;
  }
}

// What the line's server refused is set aside until an engineer clears it: under a policy the
// operator cannot, the administrator can (here the policy records into a file, which no server
// refuses, and so says the command once the policy let it run).
TEST_P(ProgPolicy, RefusedEventsAreTheAdministratorsToClear) {
  WritePolicy(kSigned);
  const ProcessResult cleared = Run({"--clear-refused"});
  EXPECT_EQ(cleared.exitCode, 2) << cleared.out << cleared.err;
  EXPECT_EQ(cleared.err,
            GetParam() == Operator::kRoot
                ? "qs71prog: --clear-refused needs the line's trace (--trace postgresql://...): only a "
                  "line's server refuses events\n"
                : InScene("qs71prog: --clear-refused cannot be run on this station: its policy "
                          "{dir}/policy/station.toml keeps what the line's server refused until an engineer "
                          "clears it: run it as the administrator (root; on Windows, from an elevated "
                          "prompt)\nTry 'qs71prog --show-policy'.\n",
                          dir));
}

// The system's policy, bound over /etc/qs71 in a mount namespace of the test's own (nothing
// is written to the real /etc), comes before QS71_STATION_POLICY, which it refuses.
// In a user namespace of its own any user is root and may mount his own files over /etc/qs71:
// there no policy is taken, and the station runs no job.
TEST_P(ProgPolicy, NoPolicyIsTakenInAUserNamespaceOfItsOwn) {
  WritePolicy(kSigned);
  const testsupport::ProcessResult shown = testsupport::RunProcess(
      AsOperator({"unshare", "--user", "--map-root-user", QS71PROG_PATH, "--show-policy"}),
      {.environment = Scene()});
  if (shown.err.find("unshare failed") != std::string::npos) {
    if (testsupport::EveryTestMustRun()) FAIL() << shown.err;
    GTEST_SKIP() << shown.err;
  }
  EXPECT_EQ(shown.exitCode, 11) << shown.out << shown.err;
  EXPECT_NE(shown.out.find("the station policy " + (dir / "policy" / "station.toml").string() +
                           " cannot be trusted: qs71prog runs in a user namespace of its own"),
            std::string::npos)
      << shown.out << shown.err;
}

TEST_P(ProgPolicy, TheSystemPolicyComesFirst) {
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
    ASSERT_TRUE(RootsOwn(EmptyFolder(system), 0755));
    EmptyFolder(dir / "upper");
    EmptyFolder(dir / "work");
    std::filesystem::copy_file(dir / "policy" / "station.toml", system / "station.toml");
    ASSERT_TRUE(RootsOwn(system / "station.toml", 0644));
    std::filesystem::remove(dir / "namespace-ready");
    const Environment environment = Scene(c.environment);
    std::vector<std::string> line = {"unshare", "--mount", "sh", "-c", script, "sh"};
    for (const std::string& word : AsOperator({QS71PROG_PATH, "--show-policy"})) line.push_back(word);
    const ProcessResult shown = testsupport::RunProcess(line, {.environment = environment});
    if (!std::filesystem::exists(dir / "namespace-ready")) {
      const std::string why = "no private mount namespace with an overlay on /etc here: " + shown.err;
      if (testsupport::EveryTestMustRun()) FAIL() << why << " (QS71_CI is set: it must run here)";
      GTEST_SKIP() << why;
    }
    EXPECT_EQ(shown.exitCode, c.exit) << shown.out << shown.err;
    EXPECT_NE(shown.out.find(c.says), std::string::npos) << shown.out << shown.err;
  }
  EXPECT_EQ(std::filesystem::exists("/etc/qs71"), hadEtc);
}

// No message shows a password: not libpq's words about a connection string it cannot read,
// which repeat it, in text or in JSON. Without a policy the password still works, with a
// warning; a policy cannot hold one.
TEST_P(ProgPolicy, ThePasswordIsNeverShown) {
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
  EXPECT_NE(refused.out.find("station.toml:6: trace holds a password"), std::string::npos)
      << refused.out;
  EXPECT_EQ(refused.out.find("s3cr3t"), std::string::npos) << refused.out;
}

// A name the trace cannot keep as text is a usage error naming it, before the part is touched.
TEST_P(ProgPolicy, NamesThatAreNoTextAreUsageErrors) {
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
      {"an operator with a zero-width space",
       {"--operator", "bob\xE2\x80\x8B"},
       "--operator \"bob\xE2\x80\x8B\" holds U+200B, which shows as nothing or turns the text "
       "around (byte 4)"},
      {"a station that turns its text around",
       {"--station", "ann\xE2\x80\xAE"},
       "holds U+202E, which shows as nothing"},
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

INSTANTIATE_TEST_SUITE_P(Operators, ProgPolicy, testing::Values(Operator::kRoot, Operator::kNobody),
                         [](const auto& info) {
                           return info.param == Operator::kRoot ? "root" : "nobody";
                         });

}  // namespace
}  // namespace qs71prog::test
