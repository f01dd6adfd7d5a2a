// Runs one command and prints what it cost: wall time from a monotonic clock, user and system
// CPU time, the peak resident set of the command and every process it waited for, and its
// page faults (each one is a trip through the kernel; on a virtual machine a costly one). The
// benchmark needs better than the 10 ms that /usr/bin/time shows, since the I/O floor of a
// 64 MiB image is only a few of those.
//
//   qs71_bench_timed [--out FILE] -- PROGRAM [ARGS...]
//
// Standard output of the command goes to FILE (default /dev/null), standard input comes from
// /dev/null. Prints "WALL_S USER_S SYS_S MAXRSS_KIB MINOR_FAULTS STATUS" on one line; the exit
// status of qs71_bench_timed itself is 0 whenever the command could be run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int Usage() {
  std::fprintf(stderr, "usage: qs71_bench_timed [--out FILE] -- PROGRAM [ARGS...]\n");
  return 2;
}

// In the child: wire up the standard streams and become the command.
[[noreturn]] void RunChild(const char* out, char** argv) {
  const int in = open("/dev/null", O_RDONLY);
  const int fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || fd < 0) _exit(126);
  dup2(in, 0);
  dup2(fd, 1);
  execvp(argv[0], argv);
  std::fprintf(stderr, "qs71_bench_timed: cannot run %s: %s\n", argv[0], std::strerror(errno));
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  const char* out = "/dev/null";
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--out") == 0) {
    out = argv[i + 1];
    i += 2;
  }
  if (i >= argc || std::strcmp(argv[i], "--") != 0 || i + 1 >= argc) return Usage();
  std::fflush(nullptr);
  const double start = Now();
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) RunChild(out, argv + i + 1);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 1;
  const double wall = Now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // ru_maxrss of a reaped child already covers the children it reaped itself (sh -c ...).
  std::printf("%.6f %.6f %.6f %ld %ld %d\n", wall, Seconds(usage.ru_utime),
              Seconds(usage.ru_stime), usage.ru_maxrss, usage.ru_minflt, code);
  return 0;
}
