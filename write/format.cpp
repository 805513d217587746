#include "write/format.h"

#include <cstring>
#include <thread>

#include "info/checks.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/transport.h"
#include "write/write_job.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kGetMrwFeature[10] = {0x46, 0x02, 0x00, 0x28, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kReadFormatCapacities[10] = {0x23, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0};
constexpr std::uint8_t kFormatUnit[6] = {0x04, 0x11, 0, 0, 0, 0};
constexpr std::uint8_t kRequestSense[6] = {0x03, 0, 0, 0, 18, 0};
constexpr std::uint8_t kReadDiscInformation[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};

enum class Family { kCdRw, kDvd, kOther };

}  // namespace

bool FormatMedium(Dialog& window) {
  std::uint8_t list[12] = {0x00, 0x02, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x90, 0x00, 0x00, 0x00};
  ApplyClearRule(window);
  const std::uint8_t code = ProbeMediumType(1);
  if (code == kMediumNoDevice) return false;
  if (code == kMediumNoDisc) {
    ConsoleLog(Info(), "未放入光碟片\n");
    return false;
  }
  if (code == kMediumDoorOpen) {
    ConsoleLog(Info(), "門沒關\n");
    return false;
  }
  Family family = Family::kOther;
  if (code >= 0x20 && code <= 0x29) family = Family::kCdRw;
  if (IsDvdMedium(code)) family = Family::kDvd;
  if (code == kMediumUnknown && Query(kGetCurrentProfile, ReplyBuffer, 256, 255) == 0) {
    // A drive that reports no medium-type code is judged by its current profile.
    const std::uint8_t profile = ReplyBuffer[7];
    if (profile == 0x0A) family = Family::kCdRw;
    if (profile >= 0x10 && profile <= 0x2B) family = Family::kDvd;
  }
  switch (family) {
    case Family::kCdRw: {
      if (Query(kGetMrwFeature, ReplyBuffer, 256, 255) != 0) {
        ConsoleLog(Info(), "無法瞭解燒錄機是否支援MRW\n");
        return false;
      }
      if (ReplyBuffer[9] != 0x28 || (ReplyBuffer[12] & 0x01) == 0) {
        ConsoleLog(Info(), "燒錄機並不支援MRW\n");
        return false;
      }
      if (ExecuteOnCurrent(kFormatUnit, sizeof list, list, kDataOut, 0) != 0) {
        ConsoleLog(Info(), "Fomat Unit失敗\n");
        return false;
      }
      ConsoleLog(Info(), "已開始MRW格式化背景作業...\n");
      return true;
    }
    case Family::kDvd: {
      if (Query(kGetCurrentProfile, ReplyBuffer, 256, 255) != 0) {
        ConsoleLog(Info(), "無法辨識DVD光碟片種類\n");
        return false;
      }
      const std::uint8_t profile = ReplyBuffer[7];
      ConsoleLog(Info(), "現在所放入的是 %s\n", ProfileNameText(profile));
      if (profile == 0x12 || profile == 0x13 || profile == 0x14) {
        if (Query(kReadFormatCapacities, ReplyBuffer, 256, 255) != 0) {
          ConsoleLog(Info(), "無法獲知可以格式化的碟區數目\n");
          return false;
        }
        std::memcpy(list + 4, ReplyBuffer + 4, 4);
        const std::uint8_t full[4] = {0x00, 0x00, 0x08, 0x00};
        std::memcpy(list + 8, full, 4);
      } else if (profile == 0x1A || profile == 0x2A) {
        const std::uint8_t basic[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x98, 0x00, 0x00, 0x00};
        std::memcpy(list + 4, basic, 8);
      } else {
        ConsoleLog(Info(), "不支援格式化\n");
        return false;
      }
      if (ExecuteOnCurrent(kFormatUnit, sizeof list, list, kDataOut, 0) != 0) {
        ConsoleLog(Info(), "Fomat Unit失敗\n");
        return false;
      }
      ConsoleLog(Info(), "已開始格式化背景作業...\n");
      return true;
    }
    case Family::kOther:
      break;
  }
  ConsoleLog(Info(), "不支援格式化\n");
  return false;
}

bool WaitForFormat(const std::function<void(int percent)>& progress, const std::atomic<bool>* stop,
                   std::chrono::milliseconds pause, std::chrono::milliseconds limit) {
  const DriveAddress drive = CurrentDriveAddress();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::int32_t trace = TraceEnabled.exchange(0);
  bool ended = false;
  while (std::chrono::steady_clock::now() < deadline && (stop == nullptr || !stop->load())) {
    std::uint8_t sense[18] = {};
    if (SendTo(drive, kRequestSense, sizeof sense, sense, kDataIn, 0) != 0) break;
    const std::uint8_t key = sense[2] & 0x0F;
    const bool in_progress =
        key == 0x02 && sense[12] == 0x04 && (sense[13] == 0x04 || sense[13] == 0x07);
    if (in_progress) {
      // Sense-key specific bytes: SKSV and the progress indication in 65,536ths.
      const int percent = (sense[15] & 0x80) != 0 ? (sense[16] << 8 | sense[17]) * 100 / 65536 : -1;
      if (progress) progress(percent);
      std::this_thread::sleep_for(pause);
      continue;
    }
    // A background format keeps the drive ready: its status is in the disc information.
    std::uint8_t info[34] = {};
    const std::int32_t answer = SendTo(drive, kReadDiscInformation, sizeof info, info, kDataIn, 0);
    if (answer == 0 && (info[7] & 0x03) == 0x02) {
      if (progress) progress(-1);
      std::this_thread::sleep_for(pause);
      continue;
    }
    if (answer == -1) break;
    ended = true;
    break;
  }
  TraceEnabled.store(trace == 0 ? 1 : trace);
  if (ended && progress) progress(100);
  return ended;
}

void FollowFormat() {
  std::thread([] {
    int shown = -1;
    const bool ended = WaitForFormat([&shown](int percent) {
      if (percent < 0 || percent >= 100 || percent / 10 == shown) return;
      shown = percent / 10;
      ConsoleLog(Info(), "格式化進度 %d%%\n", shown * 10);
    });
    if (ended) ConsoleLog(Info(), "%s", kFormatDoneMessage);
  }).detach();
}

}  // namespace zorvane
