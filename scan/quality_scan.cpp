#include "scan/quality_scan.h"

#include <cstring>
#include <thread>
#include <vector>

#include "base/utilities.h"
#include "info/checks.h"
#include "info/commands.h"
#include "info/media.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"

namespace zorvane {

namespace {

std::atomic<bool> scan_running{false};

constexpr std::uint32_t kTransferLength = 0xFFFF;

constexpr std::uint8_t kDvdStart[12] = {0x2B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDvdMeasure[12] = {0xF3, 0x0E, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0};
constexpr std::uint8_t kCdStart[5][12] = {
    {0xDF, 0xA3, 0, 0, 0x00, 0, 0, 0, 0, 0, 0, 0}, {0xDF, 0xA0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0},
    {0xDF, 0xA0, 0, 0, 0x00, 0, 0, 0, 0, 0, 0, 0}, {0xDF, 0xA0, 0, 0, 0x04, 0, 0, 0, 0, 0, 0, 0},
    {0xDF, 0xA0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0},
};
// The fourth start command's message is the third's.
constexpr const char* kCdStartErrors[5] = {"Initial Scan Error 1.\n", "Initial Scan Error 2.\n",
                                           "Initial Scan Error 3.\n", "Initial Scan Error 3.\n",
                                           "Initial Scan Error 5.\n"};
constexpr std::uint8_t kCdPosition[12] = {0xDF, 0x82, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kCdCounts[12] = {0xDF, 0x82, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kCdReset[12] = {0xDF, 0x97, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

Console* Info() {
  return InfoConsole.load();
}

// A BCD byte of the disc time (a byte that is not BCD is taken digit by digit all the
// same).
int FromBcd(std::uint8_t value) {
  return (value >> 4) * 10 + (value & 0x0F);
}

class Worker {
 public:
  explicit Worker(QualityScanState& state) : state_(state), buffer_(kTransferLength + 1, 0) {}

  void Run() {
    const std::uint8_t code = ProbeMediumType(0, buffer_.data());
    if (code == kMediumNoDevice) return End(QualityScanEnd::kNoDevice, nullptr, -1);
    if (const std::int32_t r = Send(cdb::kReadCapacity); r != 0) {
      return End(QualityScanEnd::kCapacityError, "Read Capacity Error.\n", r);
    }
    const std::uint32_t capacity = ReadBe32(buffer_.data());
    state_.capacity.store(capacity);
    if (code == kMediumNoDisc || code == kMediumDoorOpen) {
      return End(QualityScanEnd::kNoDisc, nullptr, 0);
    }
    // A disc with nothing recorded has nothing to measure (the vendor commands would be
    // refused as if the drive offered no scan).
    if (capacity == 0) return End(QualityScanEnd::kNothingToScan, "光碟片尚未寫入資料.\n", 0);
    if (IsDvdMedium(code)) {
      ScanDvd(capacity);
    } else {
      ScanCd(capacity);
    }
  }

 private:
  // Every command of the scan: data in, the handle closed afterwards.
  std::int32_t Send(const std::uint8_t* cdb) {
    std::memset(buffer_.data(), 0, 256);
    return ExecuteOnCurrent(cdb, kTransferLength, buffer_.data(), kDataIn, 1);
  }

  void End(QualityScanEnd end, const char* message, std::int32_t result) {
    if (message != nullptr) ConsoleLog(Info(), "%s", message);
    TraceEnabled.store(1);
    state_.failure.store(result);
    state_.end.store(end);
  }

  bool Stopped() {
    if (state_.run.load()) return false;
    End(QualityScanEnd::kStopped, nullptr, 0);
    return true;
  }

  void Record(const ScanSample& sample) {
    state_.measurements.fetch_add(1);
    if (state_.record) state_.record->Add(sample);
    if (state_.on_sample) state_.on_sample(sample);
  }

  void ScanDvd(std::uint32_t capacity) {
    state_.dvd.store(true);
    if (state_.record) state_.record->Reset(ScanKind::kDvd, capacity);
    if (Stopped()) return;
    if (const std::int32_t r = Send(kDvdStart); r != 0) {
      return End(QualityScanEnd::kStartError, "Initial Scan Error 1.\n", r);
    }
    TraceEnabled.store(0);
    std::uint32_t pie = 0;
    std::uint32_t pif = 0;
    for (;;) {
      if (Stopped()) return;
      const std::int32_t r = Send(kDvdMeasure);
      if (r != 0) return End(QualityScanEnd::kScanError, "Scan Error.\n", r);
      const std::uint8_t* a = buffer_.data();
      const std::uint32_t address =
          static_cast<std::uint32_t>(a[1]) << 16 | static_cast<std::uint32_t>(a[2]) << 8 | a[3];
      ScanSample sample;
      sample.position = address;
      sample.values[0] = ReadBe16(a + 4);
      sample.values[1] = ReadBe16(a + 6);
      pie += sample.values[0];
      pif += sample.values[1];
      state_.totals[0].store(pie);
      state_.totals[1].store(pif);
      if (Console* info = Info()) info->Clear();
      ConsoleLog(Info(), "LBA=%i/%i, PIE=%i, PIF=%i\n", static_cast<int>(address),
                 static_cast<int>(capacity), static_cast<int>(pie), static_cast<int>(pif));
      Record(sample);
    }
  }

  void ScanCd(std::uint32_t capacity) {
    state_.dvd.store(false);
    // The CD scan's positions are disc times: the extent is the last sector's, 00:02:00
    // after sector 0.
    if (state_.record)
      state_.record->Reset(ScanKind::kCd, static_cast<std::int64_t>(capacity) + 150);
    for (int i = 0; i < 5; ++i) {
      if (Stopped()) return;
      if (const std::int32_t r = Send(kCdStart[i]); r != 0) {
        return End(QualityScanEnd::kStartError, kCdStartErrors[i], r);
      }
    }
    TraceEnabled.store(0);
    std::uint32_t bler = 0;
    std::uint32_t e22 = 0;
    std::uint32_t e32 = 0;
    for (std::uint32_t n = 0;; ++n) {
      if (Stopped()) return;
      std::int32_t r = Send(kCdPosition);
      if (r != 0) return End(QualityScanEnd::kScanError, "Scan Error.\n", r);
      const std::uint8_t time[3] = {buffer_[0], buffer_[1], buffer_[2]};
      if (Stopped()) return;
      r = Send(kCdCounts);
      if (r != 0) return End(QualityScanEnd::kCountError, "CX Read Error.\n", r);
      ScanSample sample;
      sample.position = static_cast<std::int64_t>(FromBcd(time[0])) * 4500 + FromBcd(time[1]) * 75 +
                        FromBcd(time[2]);
      sample.values[0] = ReadBe16(buffer_.data());
      sample.values[1] = ReadBe16(buffer_.data() + 2);
      sample.values[2] = ReadBe16(buffer_.data() + 4);
      bler += sample.values[0];
      e22 += sample.values[1];
      e32 += sample.values[2];
      state_.totals[0].store(bler);
      state_.totals[1].store(e22);
      state_.totals[2].store(e32);
      if (Console* info = Info()) info->Clear();
      ConsoleLog(Info(), "%02X:%02X:%02X, LBA=%i/%i, BLER/s=%.02f, BLER=%i, E22=%i, E32=%i\n",
                 time[0], time[1], time[2], static_cast<int>(n), static_cast<int>(capacity),
                 static_cast<double>(BlerPerSecond(bler, n)), static_cast<int>(bler),
                 static_cast<int>(e22), static_cast<int>(e32));
      Record(sample);
      if (Stopped()) return;
      r = Send(kCdReset);
      if (r != 0) return End(QualityScanEnd::kResetError, "CX rst Error.\n", r);
    }
  }

  QualityScanState& state_;
  // The scan's own reply buffer, as large as the transfer length its commands announce.
  std::vector<std::uint8_t> buffer_;
};

}  // namespace

float BlerPerSecond(std::uint32_t bler_total, std::uint32_t n) {
  return static_cast<float>(bler_total) / static_cast<float>(n + 1) * 75.0f;
}

bool QualityScanRunning() {
  return scan_running.load();
}

void QualityScanWorker(const std::shared_ptr<QualityScanState>& state) {
  Worker(*state).Run();
  if (state->end.load() == QualityScanEnd::kRunning) state->end.store(QualityScanEnd::kStopped);
  TraceEnabled.store(1);
  scan_running.store(false);
  state->finished.store(true);
}

std::shared_ptr<QualityScanState> StartQualityScan(
    Dialog& window, std::shared_ptr<ScanRecord> record,
    std::function<void(const ScanSample&)> on_sample) {
  bool idle = false;
  if (!scan_running.compare_exchange_strong(idle, true)) return nullptr;
  ApplyClearRule(window);
  auto state = std::make_shared<QualityScanState>();
  state->record = std::move(record);
  state->on_sample = std::move(on_sample);
  std::thread([state] { QualityScanWorker(state); }).detach();
  return state;
}

}  // namespace zorvane
