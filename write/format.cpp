#include "write/format.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "info/checks.h"
#include "info/media.h"
#include "info/reply.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/transport.h"
#include "transport/vocabulary.h"
#include "write/write_job.h"

namespace zorvane {

namespace {

constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0, 0, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kGetMrwFeature[10] = {0x46, 0x02, 0x00, 0x28, 0, 0, 0, 0, 0xFF, 0};
constexpr std::uint8_t kReadFormatCapacities[10] = {0x23, 0, 0, 0, 0, 0, 0, 0x00, 0xFF, 0};
constexpr std::uint8_t kFormatUnit[6] = {0x04, 0x11, 0, 0, 0, 0};
constexpr std::uint8_t kRequestSense[6] = {0x03, 0, 0, 0, 18, 0};
constexpr std::uint8_t kReadDiscInformation[10] = {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0};
// The list header and the current/maximum capacity descriptor alone.
constexpr std::uint8_t kReadFormatCapacitiesList[10] = {0x23, 0, 0, 0, 0, 0, 0, 0, 12, 0};

enum class Family { kCdRw, kDvd, kOther };

}  // namespace

bool FormatMedium(Dialog& window, std::string* failure) {
  auto fail = [failure](const std::string& why) {
    if (failure != nullptr) *failure = why;
    return false;
  };
  auto refused = [&fail](const char* command, std::int32_t result) {
    return fail(std::string(command) + " failed: " + ResultInWords(result));
  };
  std::uint8_t list[12] = {0x00, 0x02, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x90, 0x00, 0x00, 0x00};
  // The drive is this job's alone while it starts the format (exclusive open, tray locked).
  std::string refusal;
  const auto claim = ExclusiveUse::Claim(CurrentDevice.slot.load(), &refusal);
  if (!claim) {
    ShowMessage("Error", "%s\n", refusal.c_str());
    return fail(refusal);
  }
  ApplyClearRule(window);
  const std::uint8_t code = ProbeMediumType(1);
  if (code == kMediumNoDevice) return fail("the drive does not answer MODE SENSE");
  if (code == kMediumNoDisc) {
    ConsoleLog(Info(), "未放入光碟片\n");
    return fail("no disc in the drive");
  }
  if (code == kMediumDoorOpen) {
    ConsoleLog(Info(), "門沒關\n");
    return fail("the tray is open");
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
      if (const std::int32_t result = Query(kGetMrwFeature, ReplyBuffer, 256, 255); result != 0) {
        ConsoleLog(Info(), "無法瞭解燒錄機是否支援MRW\n");
        return refused("GET CONFIGURATION (MRW feature)", result);
      }
      if (ReplyBuffer[9] != 0x28 || (ReplyBuffer[12] & 0x01) == 0) {
        ConsoleLog(Info(), "燒錄機並不支援MRW\n");
        return fail("the drive does not write MRW");
      }
      if (const std::int32_t result = ExecuteOnCurrent(kFormatUnit, sizeof list, list, kDataOut, 0);
          result != 0) {
        ConsoleLog(Info(), "Fomat Unit失敗\n");
        return refused("FORMAT UNIT", result);
      }
      ConsoleLog(Info(), "已開始MRW格式化背景作業...\n");
      return true;
    }
    case Family::kDvd: {
      if (const std::int32_t result = Query(kGetCurrentProfile, ReplyBuffer, 256, 255);
          result != 0) {
        ConsoleLog(Info(), "無法辨識DVD光碟片種類\n");
        return refused("GET CONFIGURATION", result);
      }
      const std::uint8_t profile = ReplyBuffer[7];
      ConsoleLog(Info(), "現在所放入的是 %s\n", ProfileNameText(profile));
      if (profile == 0x12 || profile == 0x13 || profile == 0x14) {
        if (const std::int32_t result = Query(kReadFormatCapacities, ReplyBuffer, 256, 255);
            result != 0) {
          ConsoleLog(Info(), "無法獲知可以格式化的碟區數目\n");
          return refused("READ FORMAT CAPACITIES", result);
        }
        std::memcpy(list + 4, ReplyBuffer + 4, 4);
        const std::uint8_t full[4] = {0x00, 0x00, 0x08, 0x00};
        std::memcpy(list + 8, full, 4);
      } else if (profile == 0x1A || profile == 0x2A) {
        const std::uint8_t basic[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x98, 0x00, 0x00, 0x00};
        std::memcpy(list + 4, basic, 8);
      } else {
        ConsoleLog(Info(), "不支援格式化\n");
        return fail(std::string("a ") + ProfileNameText(profile) + " is not formatted here");
      }
      if (const std::int32_t result = ExecuteOnCurrent(kFormatUnit, sizeof list, list, kDataOut, 0);
          result != 0) {
        ConsoleLog(Info(), "Fomat Unit失敗\n");
        return refused("FORMAT UNIT", result);
      }
      ConsoleLog(Info(), "已開始格式化背景作業...\n");
      return true;
    }
    case Family::kOther:
      break;
  }
  ConsoleLog(Info(), "不支援格式化\n");
  return fail("the loaded disc is not a rewritable disc that is formatted here");
}

std::string ResultInWords(std::int32_t result) {
  if (result == -1) return "the request to the drive failed";
  std::string text = FormatText(kConsoleTextLimit, "%02X/%02X/%02X", (result >> 16) & 0x0F,
                                (result >> 8) & 0xFF, result & 0xFF);
  if (const char* words = SenseText(result)) {
    std::string line = words;
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    text += " " + line;
  }
  return text;
}

namespace {

std::mutex pacing_mutex;
FollowPacing pacing;

std::int32_t Poll(const DriveAddress& drive, const std::uint8_t* cdb, std::uint32_t length,
                  void* buffer) {
  return ExecuteCdbUntraced(cdb, drive.slot, drive.target, drive.lun, length, buffer, kDataIn, 0);
}

// Waits one polling pause in short steps, so that a stop is seen at once.
bool PauseUnlessStopped(std::chrono::milliseconds pause, const std::function<bool()>& stop) {
  const auto until = std::chrono::steady_clock::now() + pause;
  for (;;) {
    if (stop && stop()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
}

}  // namespace

FollowPacing CurrentFollowPacing() {
  std::lock_guard lock(pacing_mutex);
  return pacing;
}

void SetFollowPacing(FollowPacing new_pacing) {
  std::lock_guard lock(pacing_mutex);
  pacing = new_pacing;
}

FollowResult FollowDrive(const DriveAddress& drive, FollowedOperation operation,
                         const std::function<void(int percent)>& progress,
                         const std::function<bool()>& stop,
                         const std::function<void(const std::string&)>& poll_failed) {
  const FollowPacing current = CurrentFollowPacing();
  FollowResult result;
  int failed = 0;  // polls in a row that found no answer
  std::string last_failure;
  auto failed_poll = [&](const char* command, std::int32_t answer) {
    last_failure = std::string(command) + ": " + ResultInWords(answer);
    if (poll_failed) poll_failed(last_failure);
    return ++failed >= std::max(current.failed_polls, 1);
  };
  for (;;) {
    if (stop && stop()) {
      result.end = FollowEnd::kStopped;
      return result;
    }
    std::uint8_t sense[18] = {};
    const std::int32_t asked = Poll(drive, kRequestSense, sizeof sense, sense);
    bool running = false;
    if (asked != 0) {
      if (failed_poll("REQUEST SENSE", asked)) break;
      PauseUnlessStopped(current.pause, stop);
      continue;
    }
    const std::int32_t code = SenseCodeOf(sense);
    const std::uint8_t key = sense[2] & 0x0F;
    // Sense-key specific bytes: SKSV and the progress indication in 65,536ths.
    const bool indication = (sense[15] & 0x80) != 0;
    // Not ready while becoming ready, or with a format, an operation or a long write in
    // progress; a unit attention says nothing of the operation, so the drive is asked again.
    const bool busy =
        key == 0x02 && sense[12] == 0x04 &&
        (sense[13] == 0x01 || sense[13] == 0x04 || sense[13] == 0x07 || sense[13] == 0x08);
    if (busy || key == 0x06) {
      running = true;
    } else if (key == 0x00) {
      running = indication;  // a background operation may report its progress with no sense
    } else {
      // The drive reports the operation failed or the disc gone.
      result.cause = "the drive reports " + ResultInWords(code);
      return result;
    }
    if (running) {
      failed = 0;
      if (indication && key != 0x06) {
        result.percent = (sense[16] << 8 | sense[17]) * 100 / 65536;
      }
      if (progress) progress(indication ? result.percent : -1);
      PauseUnlessStopped(current.pause, stop);
      continue;
    }
    // The drive reports nothing running: the disc itself tells how the operation ended.
    std::uint8_t info[34] = {};
    const std::int32_t answer = Poll(drive, kReadDiscInformation, sizeof info, info);
    if (answer != 0) {
      if (failed_poll("READ DISC INFORMATION", answer)) break;
      PauseUnlessStopped(current.pause, stop);
      continue;
    }
    if (operation == FollowedOperation::kBlankWhole) {
      if ((info[2] & 0x03) != 0x00) {
        result.cause = "the drive ended the blank, but the disc is not blank";
        return result;
      }
      result.end = FollowEnd::kDone;
      break;
    }
    if (operation == FollowedOperation::kBlankPart) {
      result.end = FollowEnd::kDone;
      break;
    }
    const std::uint8_t background = info[7] & 0x03;
    if (background == 0x02) {  // a background format runs; the drive stays ready
      failed = 0;
      if (progress) progress(-1);
      PauseUnlessStopped(current.pause, stop);
      continue;
    }
    if (background == 0x03) {
      result.end = FollowEnd::kDone;
      break;
    }
    if (background == 0x01) {
      result.cause = "the background format was stopped before it completed";
      return result;
    }
    // Not a background format: the capacity descriptor says whether the disc is formatted.
    std::uint8_t capacities[12] = {};
    const std::int32_t listed =
        Poll(drive, kReadFormatCapacitiesList, sizeof capacities, capacities);
    if (listed != 0) {
      if (failed_poll("READ FORMAT CAPACITIES", listed)) break;
      PauseUnlessStopped(current.pause, stop);
      continue;
    }
    if ((capacities[8] & 0x03) != 0x02) {
      result.cause = "the format ended, but the disc reports no formatted capacity";
      return result;
    }
    result.end = FollowEnd::kDone;
    break;
  }
  if (result.end == FollowEnd::kDone) {
    result.percent = 100;
    if (progress) progress(100);
    return result;
  }
  result.cause = "cannot follow the drive: " + last_failure;
  return result;
}

namespace {
std::atomic<unsigned> follower_generation{0};
}  // namespace

void StopFollowingFormat() {
  follower_generation.fetch_add(1);
}

void FollowFormat() {
  const DriveAddress drive = CurrentDriveAddress();
  const unsigned generation = follower_generation.fetch_add(1) + 1;
  std::thread([drive, generation] {
    int shown = -1;
    const FollowResult result = FollowDrive(
        drive, FollowedOperation::kFormat,
        [&shown](int percent) {
          if (percent < 0 || percent >= 100 || percent == shown) return;
          shown = percent;
          ConsoleLog(Info(), "格式化進度 %d%%\n", percent);
        },
        [generation] { return follower_generation.load() != generation; },
        [](const std::string& failure) {
          ConsoleLog(Info(), "Format: the drive did not answer a poll (%s)\n", failure.c_str());
        });
    if (result.end == FollowEnd::kDone) {
      ConsoleLog(Info(), "%s", kFormatDoneMessage);
    } else if (result.end == FollowEnd::kFailed) {
      ConsoleLog(Info(), "Format not completed: %s\n", result.cause.c_str());
    }
  }).detach();
}

}  // namespace zorvane
