// The virtual drive's throughput for 63,488-byte commands (31 blocks of 2048 bytes, what
// recording software sends): WRITE(10) and READ(10) through Drive::Execute, next to a
// plain copy of the same bytes from one file to another on the same machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vdrive/drive.h"

namespace {

using zorvane::vdrive::Direction;
using zorvane::vdrive::Drive;
using zorvane::vdrive::Status;

constexpr std::uint32_t kBlocks = 31;
constexpr std::size_t kCommandBytes = kBlocks * 2048;  // 63,488
constexpr std::uint32_t kCommands = 1024;              // a 62 MB region, then around again

std::unique_ptr<Drive> StartDrive() {
  std::string error;
  std::unique_ptr<Drive> drive = Drive::Create("dvd+rw", &error);
  if (!drive) std::fprintf(stderr, "virtual drive: %s\n", error.c_str());
  return drive;
}

void Cdb10(std::uint8_t cdb[10], std::uint8_t opcode, std::uint32_t lba) {
  cdb[0] = opcode;
  cdb[1] = 0;
  cdb[2] = static_cast<std::uint8_t>(lba >> 24);
  cdb[3] = static_cast<std::uint8_t>(lba >> 16);
  cdb[4] = static_cast<std::uint8_t>(lba >> 8);
  cdb[5] = static_cast<std::uint8_t>(lba);
  cdb[6] = 0;
  cdb[7] = 0;
  cdb[8] = kBlocks;
  cdb[9] = 0;
}

// The last rate of each benchmark, in MB/s (10^6 bytes), printed after the run.
std::map<std::string, double>& Rates() {
  static std::map<std::string, double> rates;
  return rates;
}

// Times the benchmark loop itself, so that the rate counts only the commands.
class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

void Rate(benchmark::State& state, const char* name, std::uint64_t bytes, const Stopwatch& watch) {
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  const double seconds = watch.Seconds();
  if (seconds > 0) Rates()[name] = static_cast<double>(bytes) / 1e6 / seconds;
}

void BM_VirtualWrite(benchmark::State& state) {
  std::unique_ptr<Drive> drive = StartDrive();
  if (!drive) return state.SkipWithError("no drive");
  std::vector<std::uint8_t> data(kCommandBytes, 0xA5);
  std::uint8_t cdb[10];
  std::uint32_t command = 0;
  std::uint64_t bytes = 0;
  const Stopwatch watch;
  while (state.KeepRunning()) {
    Cdb10(cdb, 0x2A, command * kBlocks);
    if (drive->Execute(cdb, 10, Direction::kOut, data.data(), data.size()).status !=
        Status::kGood) {
      return state.SkipWithError("WRITE(10) refused");
    }
    command = (command + 1) % kCommands;
    bytes += kCommandBytes;
  }
  Rate(state, "BM_VirtualWrite", bytes, watch);
}

void BM_VirtualRead(benchmark::State& state) {
  std::unique_ptr<Drive> drive = StartDrive();
  if (!drive) return state.SkipWithError("no drive");
  std::vector<std::uint8_t> data(kCommandBytes, 0x5A);
  std::uint8_t cdb[10];
  for (std::uint32_t c = 0; c < kCommands; ++c) {  // the region reads back what was written
    Cdb10(cdb, 0x2A, c * kBlocks);
    drive->Execute(cdb, 10, Direction::kOut, data.data(), data.size());
  }
  std::uint32_t command = 0;
  std::uint64_t bytes = 0;
  const Stopwatch watch;
  while (state.KeepRunning()) {
    Cdb10(cdb, 0x28, command * kBlocks);
    if (drive->Execute(cdb, 10, Direction::kIn, data.data(), data.size()).transferred !=
        kCommandBytes) {
      return state.SkipWithError("READ(10) short");
    }
    command = (command + 1) % kCommands;
    bytes += kCommandBytes;
  }
  Rate(state, "BM_VirtualRead", bytes, watch);
}

// The same bytes copied between two files with pread and pwrite, 63,488 at a time.
void BM_PlainFileCopy(benchmark::State& state) {
  char source_name[] = "/tmp/zorvane-bench-source-XXXXXX";
  char target_name[] = "/tmp/zorvane-bench-target-XXXXXX";
  const int source = ::mkstemp(source_name);
  const int target = ::mkstemp(target_name);
  if (source < 0 || target < 0) return state.SkipWithError("no temporary files");
  ::unlink(source_name);
  ::unlink(target_name);
  std::vector<std::uint8_t> data(kCommandBytes, 0xC3);
  bool ok = true;
  for (std::uint32_t c = 0; c < kCommands && ok; ++c) {
    ok = ::pwrite(source, data.data(), data.size(), static_cast<off_t>(c) * kCommandBytes) ==
         static_cast<ssize_t>(data.size());
  }
  std::uint32_t command = 0;
  std::uint64_t bytes = 0;
  const Stopwatch watch;
  while (state.KeepRunning()) {
    if (!ok) break;
    const auto offset = static_cast<off_t>(command) * kCommandBytes;
    ok = ::pread(source, data.data(), data.size(), offset) == static_cast<ssize_t>(data.size()) &&
         ::pwrite(target, data.data(), data.size(), offset) == static_cast<ssize_t>(data.size());
    command = (command + 1) % kCommands;
    bytes += kCommandBytes;
  }
  ::close(source);
  ::close(target);
  if (!ok) return state.SkipWithError("file copy failed");
  Rate(state, "BM_PlainFileCopy", bytes, watch);
}

}  // namespace

BENCHMARK(BM_VirtualWrite);
BENCHMARK(BM_VirtualRead);
BENCHMARK(BM_PlainFileCopy);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const char* labels[][2] = {{"BM_VirtualWrite", "virtual drive WRITE(10), 63,488 bytes"},
                             {"BM_VirtualRead", "virtual drive READ(10), 63,488 bytes"},
                             {"BM_PlainFileCopy", "plain file copy, 63,488 bytes at a time"}};
  for (const auto& [name, label] : labels) {
    const auto it = Rates().find(name);
    if (it != Rates().end()) std::printf("%-42s %10.0f MB/s\n", label, it->second);
  }
  return 0;
}
