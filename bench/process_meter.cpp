// Measures one Linux process from outside, for the benchmark's memory figures and its account of
// a run: peak anonymous and file-backed resident memory (which the kernel keeps no high-water mark
// of), and what the process used in all (page faults, CPU time, context switches).
//
//   process-meter [--period-us N] COMMAND [ARGUMENTS...]
//
// Runs COMMAND as a child and prints "name value" lines once it has ended. Under Wine, run the
// program as "wine PROGRAM.exe": with a wineserver already running, that process becomes the
// Windows program itself, while the programs it starts are forked twice and reparented, so that
// neither their memory nor their usage is counted here.
//
// The resident sizes are sampled from /proc/PID/status every N microseconds (default 50): an
// allocation that is made and freed between two samples is missed, and so is anything in the
// last period before the exit. The default is that short because the empty Windows program, the
// base of the memory figures, holds its anonymous peak for under a millisecond: sampled every
// 500 us, most of its runs read 0.1 to 0.7 MiB low; every 50 us, within a few tens of KiB. VmHWM is the kernel's own exact peak of the total (anonymous, file
// and shared). The usage figures come from wait4 and are exact.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Peaks {
  long anon_kib = 0;
  long file_kib = 0;
  long hwm_kib = 0;
  long samples = 0;
};

long FieldKib(const char* status, const char* name) {
  const char* line = std::strstr(status, name);
  return line != nullptr ? std::strtol(line + std::strlen(name), nullptr, 10) : -1;
}

void Sample(int status_fd, Peaks& peaks) {
  char text[4096];
  const ssize_t n = pread(status_fd, text, sizeof(text) - 1, 0);
  if (n <= 0) return;
  text[n] = 0;
  const long anon = FieldKib(text, "\nRssAnon:");
  if (anon < 0) return;  // a zombie: its memory is gone already
  const long file = FieldKib(text, "\nRssFile:");
  const long hwm = FieldKib(text, "\nVmHWM:");
  if (anon > peaks.anon_kib) peaks.anon_kib = anon;
  if (file > peaks.file_kib) peaks.file_kib = file;
  if (hwm > peaks.hwm_kib) peaks.hwm_kib = hwm;
  ++peaks.samples;
}

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  long period_us = 50;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--period-us") == 0) {
    period_us = std::atol(argv[2]);
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: process-meter [--period-us N] COMMAND [ARGUMENTS...]\n");
    return 2;
  }
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[first], argv + first);
    _exit(127);
  }
  char path[64];
  std::snprintf(path, sizeof(path), "/proc/%d/status", static_cast<int>(child));
  const int status_fd = open(path, O_RDONLY);
  Peaks peaks;
  int status = 0;
  rusage usage = {};
  const timespec period = {period_us / 1000000, (period_us % 1000000) * 1000};
  for (;;) {
    Sample(status_fd, peaks);
    const pid_t done = wait4(child, &status, WNOHANG, &usage);
    if (done == child) break;
    nanosleep(&period, nullptr);
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  std::printf("exit-status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  std::printf("wall-ms %.1f\n",
              (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6);
  std::printf("cpu-ms %.1f\n", (Seconds(usage.ru_utime) + Seconds(usage.ru_stime)) * 1e3);
  std::printf("user-ms %.1f\n", Seconds(usage.ru_utime) * 1e3);
  std::printf("sys-ms %.1f\n", Seconds(usage.ru_stime) * 1e3);
  std::printf("minor-faults %ld\n", usage.ru_minflt);
  std::printf("major-faults %ld\n", usage.ru_majflt);
  std::printf("voluntary-switches %ld\n", usage.ru_nvcsw);
  std::printf("involuntary-switches %ld\n", usage.ru_nivcsw);
  std::printf("peak-anon-kib %ld\n", peaks.anon_kib);
  std::printf("peak-file-kib %ld\n", peaks.file_kib);
  std::printf("peak-total-kib %ld\n", peaks.hwm_kib > usage.ru_maxrss ? peaks.hwm_kib : usage.ru_maxrss);
  std::printf("samples %ld\n", peaks.samples);
  return 0;
}
