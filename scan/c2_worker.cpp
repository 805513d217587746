#include "scan/c2_worker.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "base/utilities.h"
#include "info/commands.h"
#include "info/run_out.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

constexpr std::uint32_t kTransferLength = 0xFFFF;
constexpr std::size_t kCommandBytes = kC2SectorsPerCommand * kC2BlockSize;  // 7,400

struct Device {
  std::uint8_t slot;
  std::uint8_t target;
  std::uint32_t lun;
};

std::int32_t Send(const Device& device, const std::uint8_t* cdb, void* buffer,
                  std::uint8_t direction, std::uint8_t close_after) {
  return ExecuteCdb(cdb, device.slot, device.target, device.lun,
                    direction == kDataNone ? 0 : kTransferLength, buffer, direction, close_after);
}

void Finish(C2ScanState& state, C2Phase phase) {
  TraceEnabled.store(1);
  state.phase.store(phase);
  state.finished.store(true);
}

}  // namespace

int CountC2Flags(const std::uint8_t* block) {
  // Set bits per byte value, looked up (a portable build has no population-count
  // instruction to rely on).
  static constexpr auto kBits = [] {
    std::array<std::uint8_t, 256> bits{};
    for (int value = 0; value < 256; ++value) {
      bits[static_cast<std::size_t>(value)] =
          static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(value)));
    }
    return bits;
  }();
  int count = 0;
  for (std::size_t i = 0; i < kC2FlagBytes; ++i) count += kBits[block[i]];
  return count;
}

void C2ScanWorker(const std::shared_ptr<C2ScanState>& shared) {
  C2ScanState& state = *shared;
  const Device device{CurrentDevice.slot.load(), CurrentDevice.target.load(),
                      CurrentDevice.lun.load()};
  // The buffer is as large as the transfer length the commands announce.
  std::vector<std::uint8_t> buffer(kTransferLength + 1, 0);
  std::vector<std::uint8_t> single(kTransferLength + 1, 0);  // one sector at a time

  if (const std::int32_t result = Send(device, cdb::kReadCapacity, buffer.data(), kDataIn, 1);
      result != 0) {
    state.failure.store(result);
    Finish(state, C2Phase::kNoCapacity);
    return;
  }
  const std::uint32_t last = ReadBe32(buffer.data());
  state.last.store(last);
  if (state.record) state.record->Reset(ScanKind::kC2, last);
  if (last == 0) ConsoleLog(InfoConsole.load(), "光碟片尚未寫入資料.\n");
  state.phase.store(C2Phase::kScanning);

  // READ CD: any sector type, C2 error flags with the block error byte, no main channel.
  std::uint8_t cdb[12] = {0xBE, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x04, 0, 0};
  std::uint32_t error_sectors = 0;
  std::uint32_t error_flags = 0;
  bool run_out = false;  // the run-out blocks were met
  // READ CAPACITY names the last sector, which is read as well: the scan covers last + 1
  // sectors. A disc reported as 0 has nothing written to scan.
  const std::uint64_t end = last == 0 ? 0 : static_cast<std::uint64_t>(last) + 1;
  for (std::uint64_t p = 0; p < end; p += kC2SectorsPerCommand) {
    TraceEnabled.store(0);
    if (!state.run.load()) {
      Finish(state, C2Phase::kStopped);
      return;
    }
    const auto first = static_cast<std::uint32_t>(p);
    auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kC2SectorsPerCommand, end - p));
    WriteBe32(first, cdb + 2);
    cdb[6] = 0;
    cdb[7] = 0;
    cdb[8] = static_cast<std::uint8_t>(count);
    std::memset(buffer.data(), 0, kCommandBytes);
    std::int32_t result = Send(device, cdb, buffer.data(), kDataIn, 0);
    std::uint32_t failed_at = first;
    if (result != 0 && IsRunOutAnswer(result) && IsRunOutBlock(first + count - 1, last)) {
      // The command reaches the run-out blocks that end a track written track at once,
      // which no drive reads: its sectors one at a time, and the first run-out block that
      // answers as one ends the scan, complete. Any other failure is one.
      for (std::uint32_t i = 0; i < count; ++i) {
        if (!state.run.load()) {
          Finish(state, C2Phase::kStopped);
          return;
        }
        const std::uint32_t sector = first + i;
        failed_at = sector;
        WriteBe32(sector, cdb + 2);
        cdb[8] = 1;
        std::memset(single.data(), 0, kC2BlockSize);
        result = Send(device, cdb, single.data(), kDataIn, 0);
        if (result == 0) {
          std::memcpy(buffer.data() + i * kC2BlockSize, single.data(), kC2BlockSize);
          continue;
        }
        if (IsRunOutAnswer(result) && IsRunOutBlock(sector, last)) {
          run_out = true;
          count = i;
          result = 0;
        }
        break;
      }
    }
    if (result != 0) {
      // Once more with tracing on, so that the command and its sense are shown.
      TraceEnabled.store(1);
      Send(device, cdb, single.data(), kDataIn, 0);
      ConsoleLog(InfoConsole.load(), "Read CD C2 Command Error.\n");
      state.failure.store(result);
      state.failed_at.store(failed_at);
      Finish(state, C2Phase::kCommandError);
      return;
    }
    ScanSample sample;
    sample.position = first;
    sample.values[0] = count;
    for (std::uint32_t i = 0; i < count; ++i) {
      const int flags = CountC2Flags(buffer.data() + i * kC2BlockSize);
      if (flags == 0) continue;
      sample.values[1] += 1;
      sample.values[2] += static_cast<std::uint32_t>(flags);
    }
    error_sectors += sample.values[1];
    error_flags += sample.values[2];
    state.error_sectors.store(error_sectors);
    state.error_flags.store(error_flags);
    state.scanned.store(first + count);
    state.position.store(first);
    if (count > 0) {
      if (state.record) state.record->Add(sample);
      if (state.on_command) state.on_command(sample);
    }
    if (run_out) break;
  }
  state.position.store(last);
  ExecuteOnCurrent(cdb::kTestUnitReady, 0, nullptr, kDataNone, 1);
  Finish(state, C2Phase::kDone);
}

}  // namespace zorvane
