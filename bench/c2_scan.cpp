// The C2 scan of a full 80-minute CD (359,849 blocks) on the virtual drive in instant
// time, target at most 2 seconds. Next to it, measured in the same run, the same READ CD
// commands (25 blocks of C2 flags each) sent in a bare loop: the drive's own share of the
// time, so the ratio shows what the scan adds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "scan/c2_worker.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace {

using zorvane::C2ScanState;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBlocks = 359849;
constexpr double kTargetSeconds = 2.0;

void LoadFullCd() {
  zorvane::RegisterVirtualBackend();
  zorvane::CloseAllDevices();
  zorvane::ResetVirtualDrives();
  for (std::string& path : zorvane::DevicePaths) path.clear();
  zorvane::DevicePaths[0] = "virtual:cdrom,blocks=359849,time=instant,damage=100000-100999";
  zorvane::CurrentDevice.slot = 0;
  zorvane::CurrentDevice.target = 0;
  zorvane::CurrentDevice.lun = 0;
}

// The scan's READ CD commands without the scan.
double DriveOnlySeconds() {
  std::vector<std::uint8_t> buffer(65536);
  std::uint8_t cdb[12] = {0xBE, 0x01, 0, 0, 0, 0, 0, 0, 25, 0x04, 0, 0};
  zorvane::TraceEnabled = 0;
  const auto start = Clock::now();
  for (std::uint32_t p = 0; p < kBlocks; p += 25) {
    const std::uint32_t count = std::min<std::uint32_t>(25, kBlocks - p);
    cdb[2] = static_cast<std::uint8_t>(p >> 24);
    cdb[3] = static_cast<std::uint8_t>(p >> 16);
    cdb[4] = static_cast<std::uint8_t>(p >> 8);
    cdb[5] = static_cast<std::uint8_t>(p);
    cdb[8] = static_cast<std::uint8_t>(count);
    benchmark::DoNotOptimize(zorvane::ExecuteOnCurrent(cdb, 0xFFFF, buffer.data(),
                                                       zorvane::kDataIn, 0));
  }
  const std::chrono::duration<double> elapsed = Clock::now() - start;
  zorvane::TraceEnabled = 1;
  return elapsed.count();
}

void BM_C2ScanFullCd(benchmark::State& state) {
  LoadFullCd();
  double scan_seconds = 0;
  double drive_seconds = 0;
  std::uint32_t sectors = 0;
  for (auto _ : state) {
    drive_seconds += DriveOnlySeconds();
    auto scan = std::make_shared<C2ScanState>();
    const auto start = Clock::now();
    zorvane::C2ScanWorker(scan);
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    scan_seconds += elapsed.count();
    sectors = scan->error_sectors.load();
    if (scan->phase.load() != zorvane::C2Phase::kDone || scan->scanned.load() != kBlocks) {
      state.SkipWithError("the scan did not cover the disc");
      break;
    }
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["scan_s"] = scan_seconds / runs;
  state.counters["drive_only_s"] = drive_seconds / runs;
  state.counters["scan_vs_drive"] = scan_seconds / drive_seconds;
  state.counters["scan_vs_2s_target"] = scan_seconds / runs / kTargetSeconds;
  state.counters["c2_sectors"] = sectors;
  zorvane::CloseAllDevices();
}
BENCHMARK(BM_C2ScanFullCd)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
