// Hashes one file with FileHelper::GetFileMd5 and prints, one "key value" pair per
// line: the digest, the bytes hashed, wall-clock and CPU seconds, the throughput by
// each, the same for the transform alone on data already in memory, and the peak
// working set of this process.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "sys/file_helper.h"
#include "sys/md5.h"

namespace {

// User plus kernel time of this thread, in seconds.
double CpuSecondsNow() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

size_t PeakWorkingSetKib() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize / 1024;
}

void PrintRate(const char* key, double bytes, double seconds) {
  printf("%s %.1f\n", key, seconds > 0 ? bytes / 1e6 / seconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: md5_bench <file>\n");
    return 2;
  }
  const std::string path = argv[1];
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) {
    fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const double size = static_cast<double>(
      (static_cast<unsigned long long>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow);

  const size_t peakBefore = PeakWorkingSetKib();
  const double wall0 = SecondsNow(), cpu0 = CpuSecondsNow();
  const std::string digest = FileHelper::GetFileMd5(path);
  const double wall = SecondsNow() - wall0, cpu = CpuSecondsNow() - cpu0;
  const size_t peak = PeakWorkingSetKib();

  // The transform alone, on 64 MiB already in memory (after the peak was read).
  std::vector<char> block(64u << 20, '\x5A');
  const double memWall0 = SecondsNow(), memCpu0 = CpuSecondsNow();
  Md5 md5;
  md5.Update(block.data(), block.size());
  md5.ToString();
  const double memWall = SecondsNow() - memWall0, memCpu = CpuSecondsNow() - memCpu0;

  printf("digest %s\n", digest.c_str());
  printf("bytes %.0f\n", size);
  printf("seconds %.3f\n", wall);
  printf("cpu_seconds %.3f\n", cpu);
  PrintRate("mb_per_s", size, wall);
  PrintRate("cpu_mb_per_s", size, cpu);
  PrintRate("memory_mb_per_s", static_cast<double>(block.size()), memWall);
  PrintRate("memory_cpu_mb_per_s", static_cast<double>(block.size()), memCpu);
  printf("peak_working_set_kib_before %lu\n", static_cast<unsigned long>(peakBefore));
  printf("peak_working_set_kib %lu\n", static_cast<unsigned long>(peak));
  return 0;
}
