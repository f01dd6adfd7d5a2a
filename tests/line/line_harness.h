#pragma once
// A whole line on one machine: a PostgreSQL server of its own, a signed job, and stations that
// run the real qs71prog under station policies, each with emulated programmers whose sockets
// are folders of part files. The harness feeds every empty socket a new blank part, plays a
// schedule of faults against the line, and lets it run until its lot is complete.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "line_schedule.h"
#include "postgres_server.h"
#include "process_runner.h"

namespace qs71line {

// How fast the line's parts go and how long a station's reserve of numbers lasts: a line at the
// real pace is these scaled down together.
struct LineSettings {
  int paceMicroseconds = 100;  // the least time an emulated request takes
  int reserveMinutes = 1;      // each station policy's reserve-minutes
};

// When the line's server was stopped and started again, in seconds since the epoch.
struct Outage {
  double down = 0.0;
  double up = 0.0;  // 0 while it is still down
};

struct StationRun {
  std::unique_ptr<testsupport::LiveProcess> process;
  int lastExit = -1;   // of the last process that ended
  int starts = 0;
  bool killed = false;  // by the schedule, and not started again yet
  double endedAt = 0.0;  // when the last process ended by itself, in the line's seconds
};

// examples/demo.qs compiled into dir: the image every line makes. Empty when it did not compile.
std::filesystem::path MakeDemoImage(const std::filesystem::path& dir);
// A setting from the environment, otherwise where it is unset or empty.
double Setting(const char* name, double otherwise);

class Line {
 public:
  Line(std::filesystem::path folder, std::vector<StationShape> shape, Schedule schedule,
       std::filesystem::path image, LineSettings settings = {});
  ~Line();

  // The server, the key, the signed job, each station's policy and folders.
  bool Prepare(std::string& problem);
  // Starts every station, plays the schedule over its span and then feeds the line until every
  // station has ended or `finishWithin` seconds went by after the last fault; false then.
  // Once the line has ended, each station is started once more (the next shift).
  bool Run(double finishWithin);

  const std::filesystem::path& Folder() const { return folder; }
  const std::vector<StationShape>& Shape() const { return shape; }
  const Schedule& Plan() const { return schedule; }
  const std::filesystem::path& Image() const { return image; }
  testsupport::PostgresServer& Server() { return *server; }
  const StationRun& Station(size_t index) const { return runs[index]; }
  // Things the harness could not do as scheduled (a fault that found nothing to act on is not
  // one of them): each one makes the schedule's result doubtful, and the test says so.
  const std::vector<std::string>& Troubles() const { return troubles; }
  std::filesystem::path SocketOf(size_t station, int programmer) const;
  std::filesystem::path SpoolOf(size_t station) const;
  // The environment a station runs in, for the report and any other qs71prog call of the test.
  testsupport::Environment EnvironmentOf(size_t station) const;
  std::string Serial(size_t station, int programmer) const;
  int Fed() const { return fed; }
  const std::vector<Outage>& Outages() const { return outages; }
  int Kills() const { return kills; }

 private:
  using Action = std::function<void()>;
  void At(double when, Action action);
  void Apply(const Fault& fault);
  void StartStation(size_t station);
  void KillStation(size_t station);
  void ServerDown(double seconds);
  void WriteBus(size_t station);
  void DoubleQueuedEvents(size_t station);
  void Feed(double now);
  void FeedSocket(size_t station, int programmer);
  bool AllEnded();
  bool LotHasRoom();
  bool NextShift();
  void RestartEnded(double now);
  void Reap();
  double Now() const;

  std::filesystem::path folder, image;
  std::vector<StationShape> shape;
  Schedule schedule;
  LineSettings settings;
  std::vector<Outage> outages;
  std::unique_ptr<testsupport::PostgresServer> server;
  std::string job, connection;
  std::vector<StationRun> runs;
  std::multimap<double, Action> actions;
  std::map<std::pair<size_t, int>, int> pulled;          // cable pulls in force
  std::map<std::pair<size_t, int>, std::string> nextFaults;  // for the next part fed
  std::map<std::pair<size_t, int>, double> crookedFor;        // seconds until reseated
  std::map<std::pair<size_t, int>, std::vector<std::filesystem::path>> again;
  std::string stuckCell;
  int serverDown = 0;
  int fed = 0;
  int kills = 0;
  bool unshareWorks = false;
  std::vector<std::string> troubles;
  std::mt19937 draw;
  double started = 0.0;
};

}  // namespace qs71line
