// A whole disc through the virtual drive: a full single-layer DVD+R (2,295,104 blocks)
// written through ExecuteCdb in WRITE(12) commands of 31 blocks, flushed, and read back in
// READ(12) commands of 31 blocks, next to dd copying the same bytes between two files in
// the same folder; then the peak resident memory of the process.
//
//   build/bench_vdrive_full_disc [--preset dvd+r-dl] [--dir FOLDER]
//
// The folder (default $TMPDIR or /tmp) needs room for two copies of the disc.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "transport/discovery.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace {

using zorvane::ExecuteCdb;

constexpr std::uint32_t kPerCommand = 31;
constexpr std::size_t kBlock = 2048;

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Cdb12(std::uint8_t cdb[12], std::uint8_t opcode, std::uint32_t lba, std::uint32_t count) {
  std::memset(cdb, 0, 12);
  cdb[0] = opcode;
  for (int i = 0; i < 4; ++i) {
    cdb[2 + i] = static_cast<std::uint8_t>(lba >> (24 - 8 * i));
    cdb[6 + i] = static_cast<std::uint8_t>(count >> (24 - 8 * i));
  }
}

// Each block starts with its LBA, so that the read-back can tell one block from another.
void Stamp(std::vector<std::uint8_t>& data, std::uint32_t lba, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t block = lba + i;
    std::memcpy(data.data() + std::size_t{i} * kBlock, &block, sizeof block);
  }
}

long PeakResidentKilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::string preset = "dvd+r";
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--preset" && i + 1 < argc) {
      preset = argv[++i];
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    }  // other arguments (those of the benchmark runner) do not apply
  }
  const std::uint32_t blocks = preset == "dvd+r-dl" ? 4173824 : 2295104;
  const std::string folder = dir + "/zorvane-full-disc-" + std::to_string(::getpid());
  std::filesystem::create_directories(folder);
  const std::string state = folder + "/disc.state";

  zorvane::RegisterVirtualBackend();
  zorvane::TraceEnabled.store(0);
  zorvane::DevicePaths[0] = "virtual:" + preset + ",state=" + state;
  const std::uint8_t tur[12] = {};
  for (int i = 0; i < 10 && ExecuteCdb(tur, 0, 0, 0, 0, nullptr, zorvane::kDataNone, 0) != 0; ++i) {
  }

  std::vector<std::uint8_t> data(kPerCommand * kBlock, 0x5A);
  std::uint8_t cdb[12];
  bool ok = true;
  const auto write_start = std::chrono::steady_clock::now();
  for (std::uint32_t lba = 0; lba < blocks && ok; lba += kPerCommand) {
    const std::uint32_t count = std::min(kPerCommand, blocks - lba);
    Stamp(data, lba, count);
    Cdb12(cdb, 0xAA, lba, count);
    ok = ExecuteCdb(cdb, 0, 0, 0, count * kBlock, data.data(), zorvane::kDataOut, 0) == 0;
    if (!ok) std::fprintf(stderr, "WRITE(12) at %u failed\n", lba);
  }
  const double write_seconds = Since(write_start);
  const auto flush_start = std::chrono::steady_clock::now();
  const std::uint8_t flush[12] = {0x35};
  ok = ok && ExecuteCdb(flush, 0, 0, 0, 0, nullptr, zorvane::kDataNone, 0) == 0;
  const double flush_seconds = Since(flush_start);

  const auto read_start = std::chrono::steady_clock::now();
  for (std::uint32_t lba = 0; lba < blocks && ok; lba += kPerCommand) {
    const std::uint32_t count = std::min(kPerCommand, blocks - lba);
    Cdb12(cdb, 0xA8, lba, count);
    ok = ExecuteCdb(cdb, 0, 0, 0, count * kBlock, data.data(), zorvane::kDataIn, 0) == 0;
    std::uint32_t first = 0;
    std::memcpy(&first, data.data(), sizeof first);
    if (ok && first != lba) ok = false;
    if (!ok) std::fprintf(stderr, "READ(12) at %u failed\n", lba);
  }
  const double read_seconds = Since(read_start);
  const long peak_kb = PeakResidentKilobytes();
  zorvane::CloseAllDevices();
  zorvane::ResetVirtualDrives();

  // dd copies the same bytes (the drive's data file) to another file in the same folder.
  std::string data_file;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().string().find(".sectors-") != std::string::npos) data_file = entry.path();
  }
  const auto dd_start = std::chrono::steady_clock::now();
  const std::string command =
      "dd if='" + data_file + "' of='" + folder + "/dd-copy' bs=1M status=none";
  const bool dd_ok = !data_file.empty() && std::system(command.c_str()) == 0;
  const double dd_seconds = Since(dd_start);
  std::filesystem::remove_all(folder);

  const double megabytes = static_cast<double>(blocks) * kBlock / 1e6;
  const double dd_rate = dd_ok && dd_seconds > 0 ? megabytes / dd_seconds : 0;
  auto line = [&](const char* label, double seconds) {
    const double rate = seconds > 0 ? megabytes / seconds : 0;
    std::printf("%-46s %8.0f MB/s  %5.2fx dd\n", label, rate, dd_rate > 0 ? rate / dd_rate : 0);
  };
  std::printf("%s, %u blocks (%.0f MB), 31-block commands\n", preset.c_str(), blocks, megabytes);
  line("WRITE(12) through ExecuteCdb", write_seconds);
  line("READ(12) through ExecuteCdb", read_seconds);
  std::printf("%-46s %8.0f MB/s\n", "dd bs=1M, same bytes, same folder", dd_rate);
  std::printf("%-46s %8.1f s (syncs the data file)\n", "closing SYNCHRONIZE CACHE", flush_seconds);
  std::printf("%-46s %8.1f MB (target: under 64)\n", "peak resident memory", peak_kb / 1024.0);
  if (!ok || !dd_ok) {
    std::fprintf(stderr, "the run did not complete\n");
    return 1;
  }
  return 0;
}
