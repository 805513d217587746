#include "info/checks.h"

#include "base/templates.h"
#include "info/commands.h"
#include "transport/console.h"
#include "transport/discovery.h"
#include "transport/polling.h"

namespace zorvane {

namespace {

constexpr std::int32_t kBecomingReady = 0x020401;
constexpr std::int32_t kMediumMayHaveChanged = 0x062800;

Console* Info() {
  return InfoConsole.load();
}

std::int32_t SendNoData(const std::uint8_t* cdb, std::uint8_t close_after) {
  return ExecuteOnCurrent(cdb, 0, nullptr, kDataNone, close_after);
}

}  // namespace

void ApplyClearRule(Dialog& window) {
  if (window.IsChecked(kClearCommandPane)) {
    if (Console* console = CommandConsole.load()) console->Clear();
  }
  if (window.IsChecked(kClearInfoPane)) {
    if (Console* console = InfoConsole.load()) console->Clear();
  }
}

bool ClearAndProbe(Dialog& window, std::uint8_t* code) {
  ApplyClearRule(window);
  *code = ProbeMediumType(0);
  if (*code == kMediumNoDevice) return false;
  if (*code == kMediumNoDisc) {
    ConsoleLog(Info(), "%s", kNoDiscMessage);
    return false;
  }
  if (*code == kMediumDoorOpen) {
    ConsoleLog(Info(), "%s", kDoorOpenMessage);
    return false;
  }
  return true;
}

void WaitUntilReady(bool announce, std::uint8_t* reply) {
  if (announce) ConsoleLog(Info(), "請稍候...");
  TraceEnabled.store(0);
  RepeatWhile([] { return SendNoData(cdb::kTestUnitReady, 0); }, {kBecomingReady});
  RepeatWhile(
      [reply] { return ExecuteOnCurrent(cdb::kModeSenseCapabilities, 0xFFFF, reply, kDataIn, 0); },
      {kMediumMayHaveChanged, kBecomingReady});
  SendNoData(cdb::kTestUnitReady, 1);
  TraceEnabled.store(1);
  if (announce) ConsoleLog(Info(), "OK!\n");
}

}  // namespace zorvane
