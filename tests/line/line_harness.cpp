#include "line_harness.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <csignal>
#include <fstream>
#include <thread>

#include "file_contents.h"

namespace qs71line {
namespace {

namespace fs = std::filesystem;
using testsupport::Environment;
using testsupport::RunProcess;

// A socket's part that sits crooked: the chip's ID reads as zeros.
constexpr const char* kCrooked =
    "reply-byte:0x72:12:0 reply-byte:0x72:13:0 reply-byte:0x72:14:0 reply-byte:0x72:15:0";
double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double EpochSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A file whose owner is the running user, writable by it alone, as a station policy demands.
void WriteOwnFile(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
}

void MakeFolder(const fs::path& path) {
  fs::create_directories(path);
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

// The chip ID whose size code is the image's size, so that a new part is the image's size.
std::string ChipIdFor(uintmax_t size) {
  switch (size) {
    case 524288: return "6D610400";
    case 1048576: return "6D610800";
    case 2097152: return "6D611600";
    default: return "6D610200";
  }
}

// A cell the image programs (a bit that must clear), for a stuck cell to show.
std::string StuckCellOf(const fs::path& image) {
  const std::string bytes = ReadFileText(image);
  for (size_t at = 0x100; at < bytes.size(); ++at) {
    if (static_cast<unsigned char>(bytes[at]) != 0xFF) {
      char text[40];
      std::snprintf(text, sizeof text, "stuck:0x%zX", at);
      return text;
    }
  }
  return "stuck:0x100";
}

bool UnshareWorks() {
  return RunProcess({"unshare", "--pid", "--fork", "--kill-child", "true"}).exitCode == 0;
}

bool HasPart(const fs::path& socket) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(socket, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".otp") return true;
  }
  return false;
}

}  // namespace

fs::path MakeDemoImage(const fs::path& dir) {
  const fs::path project = dir / "project";
  fs::create_directories(dir);
  fs::copy(QS71_EXAMPLES_DIR, project, fs::copy_options::recursive);
  const fs::path made = dir / "demo.bin";
  if (RunProcess({QS71GEN_PATH, "demo.qs", made.string()}, {.folder = project}).exitCode != 0) {
    return {};
  }
  return made;
}

double Setting(const char* name, double otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? std::atof(value) : otherwise;
}

Line::Line(fs::path folder_, std::vector<StationShape> shape_, Schedule schedule_,
           fs::path image_, LineSettings settings_)
    : folder(std::move(folder_)),
      image(std::move(image_)),
      shape(std::move(shape_)),
      schedule(std::move(schedule_)),
      settings(settings_),
      runs(shape.size()),
      draw(schedule.seed) {}

Line::~Line() {
  for (StationRun& run : runs) run.process.reset();
}

double Line::Now() const { return SteadySeconds() - started; }

// One programmer's socket is the folder itself; of several, each has its numbered folder.
fs::path Line::SocketOf(size_t station, int programmer) const {
  const fs::path sockets = folder / shape[station].name / "sockets";
  return shape[station].programmers == 1 ? sockets : sockets / std::to_string(programmer);
}

fs::path Line::SpoolOf(size_t station) const { return folder / shape[station].name / "spool.db"; }

std::string Line::Serial(size_t station, int programmer) const {
  return shape[station].name + "-" + std::to_string(programmer);
}

bool Line::Prepare(std::string& problem) {
  MakeFolder(folder);
  server = std::make_unique<testsupport::PostgresServer>(folder / "server");
  if (!server->Start(problem)) return false;
  connection = server->Connection();
  // What the stations' policies name: TLS is not what the line's test is about.
  const std::string bare = server->Url("127.0.0.1", "sslmode=disable");
  server->WritePasswordFile(folder / "pgpass");
  MakeFolder(folder / "keys");
  MakeFolder(folder / "made");
  job = (folder / "line.job").string();
  const std::string key = (folder / "engineer").string();
  const std::vector<std::vector<std::string>> steps = {
      {QS71PROG_PATH, "--make-key", key},
      {QS71PROG_PATH, "--make-job", job, "--write", image.string(), "--lot",
       std::to_string(schedule.lot), "--sign", key, "--job-name",
       "line-" + std::to_string(schedule.seed)}};
  for (const auto& step : steps) {
    const testsupport::ProcessResult made = RunProcess(step);
    if (made.exitCode != 0) {
      problem = step[1] + ": " + made.out + made.err;
      return false;
    }
  }
  fs::copy_file(key + ".pub", folder / "keys" / "engineer.pub");
  for (size_t station = 0; station < shape.size(); ++station) {
    const fs::path own = folder / shape[station].name;
    MakeFolder(own);
    for (int k = 1; k <= shape[station].programmers; ++k) MakeFolder(SocketOf(station, k));
    WriteOwnFile(own / "station.toml",
                 "station = \"" + shape[station].name + "\"\njobs = \"signed\"\ntrusted-keys = \"" +
                     (folder / "keys").string() + "\"\ntrace = \"" + bare + "\"\nspool = \"" +
                     SpoolOf(station).string() + "\"\nreserve-minutes = " +
                     std::to_string(settings.reserveMinutes) + "\ndry-runs = \"recorded\"\n");
    WriteBus(station);
  }
  unshareWorks = UnshareWorks();
  stuckCell = StuckCellOf(image);
  return true;
}

Environment Line::EnvironmentOf(size_t station) const {
  const fs::path own = folder / shape[station].name;
  return {{"QS71_STATION_POLICY", (own / "station.toml").string()},
          {"QS71_EMU_OPERATOR", "0"},
          {"QS71_EMU_SOCKET", (own / "sockets").string()},
          {"QS71_EMU_PROGRAMMERS", std::to_string(shape[station].programmers)},
          {"QS71_EMU_BUS", (own / "bus").string()},
          {"QS71_EMU_HOLD_RECORD", (folder / "holds.record").string()},
          {"QS71_EMU_PACE_US", std::to_string(settings.paceMicroseconds)},
          {"QS71_EMU_ID", ChipIdFor(fs::file_size(image))},
          {"XDG_CONFIG_HOME", (own / "config").string()},
          {"XDG_STATE_HOME", (own / "state").string()},
          {"PGPASSFILE", (folder / "pgpass").string()}};
}

void Line::StartStation(size_t station) {
  StationRun& run = runs[station];
  const fs::path log = folder / shape[station].name / "screen.log";
  std::vector<std::string> command;
  if (shape[station].ownPidNamespace && unshareWorks) {
    command = {"unshare", "--pid", "--fork", "--kill-child"};
  }
  const std::vector<std::string> station_command = {
      "sh", "-c", "exec \"$0\" \"$@\" >>'" + log.string() + "' 2>&1", QS71PROG_PATH,
      "--emulate", "--production", "--all", "--job", job, "--operator",
      "op-" + shape[station].name};
  command.insert(command.end(), station_command.begin(), station_command.end());
  run.process = std::make_unique<testsupport::LiveProcess>(
      command, testsupport::ProcessOptions{.environment = EnvironmentOf(station)});
  if (!run.process->Started()) troubles.push_back("station " + shape[station].name + " did not start");
  run.killed = false;
  ++run.starts;
}

void Line::KillStation(size_t station) {
  StationRun& run = runs[station];
  if (!run.process || run.killed) return;
  run.process->Send(SIGKILL);
  ++kills;
  run.lastExit = run.process->Wait();
  run.process.reset();
  run.killed = true;
}

void Line::WriteBus(size_t station) {
  std::string lines;
  for (int k = 1; k <= shape[station].programmers; ++k) {
    if (pulled[{station, k}] > 0) continue;
    char path[24];
    std::snprintf(path, sizeof path, "emulated:%02d", k);
    lines += std::to_string(k) + " " + path + " " + Serial(station, k) + "\n";
  }
  // Whole or not at all: the emulator reads the bus at every listing and call.
  const fs::path bus = folder / shape[station].name / "bus";
  std::ofstream(bus.string() + ".new", std::ios::trunc) << lines;
  fs::rename(bus.string() + ".new", bus);
}

void Line::ServerDown(double seconds) {
  if (serverDown++ == 0) {
    server->Stop();
    outages.push_back({EpochSeconds(), 0.0});
  }
  At(Now() + seconds, [this] {
    std::string problem;
    if (--serverDown != 0) return;
    if (!server->Start(problem)) troubles.push_back("server: " + problem);
    outages.back().up = EpochSeconds();
  });
}

// Every event still queued in the station's spool queued a second time, as a station that
// sent an event and did not hear the server take it sends it again.
void Line::DoubleQueuedEvents(size_t station) {
  const testsupport::ProcessResult doubled = RunProcess(
      {"sqlite3", SpoolOf(station).string(),
       "INSERT INTO outbox (kind, run, ref, numbers, grant_id) SELECT kind, run, ref, numbers, "
       "grant_id FROM outbox; SELECT changes();"});
  if (doubled.exitCode != 0) troubles.push_back("doubling the queue: " + doubled.err);
}

void Line::At(double when, Action action) { actions.emplace(when, std::move(action)); }

void Line::Apply(const Fault& fault) {
  const size_t station = static_cast<size_t>(fault.station);
  const std::pair<size_t, int> socket{station, fault.programmer};
  switch (fault.kind) {
    case FaultKind::kServerDown:
      ServerDown(fault.seconds);
      break;
    case FaultKind::kKillStation:
      if (runs[station].killed || !runs[station].process) break;
      KillStation(station);
      At(Now() + fault.seconds, [this, station] { StartStation(station); });
      break;
    case FaultKind::kPullCable:
      ++pulled[socket];
      WriteBus(station);
      At(Now() + fault.seconds, [this, station, socket] {
        --pulled[socket];
        WriteBus(station);
      });
      break;
    case FaultKind::kStuckCell:
      nextFaults[socket] = stuckCell;
      break;
    case FaultKind::kCrookedPart:
      nextFaults[socket] = kCrooked;
      crookedFor[socket] = fault.seconds;
      break;
    case FaultKind::kPutInAgain: {
      std::vector<fs::path> out;
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(SocketOf(station, fault.programmer) / "out", error)) {
        if (entry.path().extension() == ".otp") out.push_back(entry.path());
      }
      std::sort(out.begin(), out.end());
      if (!out.empty()) again[socket].push_back(out[draw() % out.size()]);
      break;
    }
    case FaultKind::kEventTwice:
      ServerDown(1.0 + fault.seconds + 0.5);
      At(Now() + 1.0, [this, station] {
        if (runs[station].killed || !runs[station].process) return;
        KillStation(station);
        DoubleQueuedEvents(station);
        StartStation(station);
      });
      break;
  }
}

// A part is made apart and then put into the socket whole, its faults beside it first: the
// running station must never meet a part still being made.
void Line::FeedSocket(size_t station, int programmer) {
  const std::pair<size_t, int> socket{station, programmer};
  const fs::path into = SocketOf(station, programmer);
  std::vector<fs::path>& queued = again[socket];
  while (!queued.empty()) {
    const fs::path part = queued.front();
    queued.erase(queued.begin());
    std::error_code error;
    fs::rename(part, into / part.filename(), error);
    if (!error) return;
  }
  char name[32];
  std::snprintf(name, sizeof name, "p%05d", ++fed);
  const auto faults = nextFaults.find(socket);
  if (faults != nextFaults.end()) {
    std::ofstream(into / (std::string(name) + ".faults")) << faults->second;
    const auto crooked = crookedFor.find(socket);
    if (faults->second == kCrooked && crooked != crookedFor.end()) {
      // Reseated: set straight, taken out and put in again.
      const fs::path part = into / (std::string(name) + ".otp");
      At(Now() + crooked->second, [this, part] {
        std::error_code error;
        fs::remove(fs::path(part).replace_extension(".faults"), error);
        const fs::path aside = folder / "made" / part.filename();
        fs::rename(part, aside, error);
        if (!error) fs::rename(aside, part, error);
      });
      crookedFor.erase(crooked);
    }
    nextFaults.erase(faults);
  }
  const fs::path made = folder / "made" / (std::string(name) + ".otp");
  std::ofstream(made, std::ios::trunc).close();
  fs::rename(made, into / made.filename());
}

void Line::Feed(double) {
  for (size_t station = 0; station < shape.size(); ++station) {
    for (int k = 1; k <= shape[station].programmers; ++k) {
      if (!HasPart(SocketOf(station, k))) FeedSocket(station, k);
    }
  }
}

void Line::Reap() {
  for (StationRun& run : runs) {
    if (run.process && run.process->Ended(run.lastExit)) {
      run.process.reset();
      run.endedAt = Now();
    }
  }
}

// A station that ended while the line still runs (one started while its only programmer was
// off the bus ends at once, with nothing to run on) is started again by its operator, a few
// times at most: a station that keeps ending is the line's to show.
void Line::RestartEnded(double now) {
  Reap();
  bool running = !actions.empty();
  for (const StationRun& run : runs) running = running || run.process != nullptr;
  for (size_t station = 0; station < runs.size(); ++station) {
    StationRun& run = runs[station];
    if (run.process || run.killed || !running || run.lastExit == 15 || run.starts > 5) continue;
    if (now - run.endedAt < 1.0) continue;
    StartStation(station);
  }
}

bool Line::AllEnded() {
  Reap();
  for (const StationRun& run : runs) {
    if (run.process || run.killed) return false;
  }
  return true;
}

// Whether the lot still wants parts: fewer good ones than it holds, with those under way.
bool Line::LotHasRoom() {
  std::string rows, problem;
  if (!server->Sql("SELECT j.lot - (SELECT count(*) FROM parts p WHERE p.job = j.hash AND (p.result "
                   "IN ('pass', 'unverified') OR p.result IS NULL)) FROM jobs j",
                   rows, problem)) {
    return false;
  }
  return std::atoi(rows.c_str()) > 0;
}

// A station whose run ended while the line's server was away keeps its events in its spool
// until it runs again: the next shift starts every station once more, with the server up, and
// each finds the lot complete. A part under way that failed after the stations had ended for
// the lot (a part put in again, its blank check failed) gives the lot room back: the
// operators then start the stations again, as a plant's would, a few shifts at most.
bool Line::NextShift() {
  constexpr int kShifts = 4;
  for (int shift = 0; shift == 0 || (shift < kShifts && LotHasRoom()); ++shift) {
    for (size_t station = 0; station < shape.size(); ++station) StartStation(station);
    for (int i = 0; i < 600 && !AllEnded(); ++i) {
      Feed(Now());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (AllEnded()) continue;
    troubles.push_back("the next shift's stations did not end within 30 s");
    for (size_t station = 0; station < runs.size(); ++station) KillStation(station);
    return false;
  }
  return true;
}

bool Line::Run(double finishWithin) {
  started = SteadySeconds();
  Feed(0.0);
  // Every station at the same moment: those in PID namespaces of their own are each process 1
  // there, in the same second, as two containers started together are.
  for (size_t station = 0; station < shape.size(); ++station) StartStation(station);
  for (const Fault& fault : schedule.faults) {
    At(fault.at, [this, fault] { Apply(fault); });
  }
  double lastAction = 0.0;
  for (;;) {
    const double now = Now();
    while (!actions.empty() && actions.begin()->first <= now) {
      Action action = std::move(actions.begin()->second);
      lastAction = actions.begin()->first;
      actions.erase(actions.begin());
      action();
    }
    Feed(now);
    RestartEnded(now);
    if (actions.empty() && AllEnded()) return NextShift();
    if (actions.empty() && now - lastAction > finishWithin) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // The line did not finish: each station is told to end as an operator would, then killed.
  for (StationRun& run : runs) {
    if (run.process) run.process->Send(SIGINT);
  }
  for (int i = 0; i < 200 && !AllEnded(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  for (size_t station = 0; station < runs.size(); ++station) KillStation(station);
  return false;
}

}  // namespace qs71line
