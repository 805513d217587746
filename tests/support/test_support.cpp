#include "tests/support/test_support.h"

#include <sys/wait.h>

#include <chrono>
#include <cstdio>

#include "cli/cli.h"
#include "transport/discovery.h"
#include "transport/exclusive_use.h"
#include "transport/polling.h"
#include "transport/transport.h"
#include "transport/virtual_backend.h"

namespace zorvane::test {

void TransportTest::SetUp() {
  CloseAllDevices();
  DetachScriptedDrives();
  RegisterVirtualBackend();
  ResetVirtualDrives();
  for (std::string& path : DevicePaths) path.clear();
  DeviceCount = 0;
  CurrentDevice.slot = 0;
  CurrentDevice.target = 0;
  CurrentDevice.lun = 0;
  TraceEnabled = 1;
  SetReadyPolling(PollPolicy{std::chrono::milliseconds(0), std::chrono::milliseconds(2000)});
  CommandConsole = &command_console_;
  InfoConsole = &info_console_;
  MessageBoxSink = &messages_;
  // The machine's own drives never show in a test.
  SystemAccess access;
  access.sysfs_root = "/nonexistent-sysfs";
  SetSystemAccess(access);
}

void TransportTest::TearDown() {
  CloseAllDevices();
  DetachScriptedDrives();
  ResetVirtualDrives();
  CommandConsole = nullptr;
  InfoConsole = nullptr;
  MessageBoxSink = nullptr;
  SetDefaultDeviceMap();
  SetReadyPolling(PollPolicy{});
  TraceEnabled = 1;
}

std::shared_ptr<ScriptedDrive> TransportTest::Attach(int slot, const std::string& name) {
  auto drive = std::make_shared<ScriptedDrive>();
  const std::string key = name.empty() ? "slot" + std::to_string(slot) : name;
  AttachScriptedDrive(key, drive);
  DevicePaths[slot] = "script:" + key;
  return drive;
}

namespace {

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  return text;
}

}  // namespace

CliRun RunCliCaptured(const std::vector<std::string>& args) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  CliRun run{RunCli(args, out, err), ReadAll(out), ReadAll(err)};
  std::fclose(out);
  std::fclose(err);
  return run;
}

int RunCommand(const std::string& command, std::string* out) {
  out->clear();
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[256];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> InquiryData(const std::string& vendor, const std::string& product,
                                      const std::string& revision) {
  std::vector<std::uint8_t> data(96, 0);
  data[0] = 0x05;
  data[1] = 0x80;
  data[2] = 0x05;
  data[3] = 0x32;
  data[4] = 91;
  auto put = [&](std::size_t at, const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) {
      data[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
  };
  put(8, vendor, 8);
  put(16, product, 16);
  put(32, revision, 4);
  return data;
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, unsigned v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v >> 16);
  Put16(b, at + 2, v & 0xFFFF);
}
std::vector<std::uint8_t> ProfileList(std::uint16_t current, std::vector<std::uint16_t> profiles) {
  std::vector<std::uint8_t> b(12 + 4 * profiles.size(), 0);
  Put32(b, 0, static_cast<std::uint32_t>(b.size() - 4));
  Put16(b, 6, current);
  b[10] = 0x03;
  b[11] = static_cast<std::uint8_t>(4 * profiles.size());
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    Put16(b, 12 + 4 * i, profiles[i]);
    if (profiles[i] == current) b[14 + 4 * i] = 0x01;
  }
  return b;
}

std::vector<std::uint8_t> Feature(std::uint16_t current, std::uint16_t code, std::uint8_t flags,
                                  std::vector<std::uint8_t> feature_data) {
  std::vector<std::uint8_t> b(12 + feature_data.size(), 0);
  Put32(b, 0, static_cast<std::uint32_t>(b.size() - 4));
  Put16(b, 6, current);
  Put16(b, 8, code);
  b[10] = flags;
  b[11] = static_cast<std::uint8_t>(feature_data.size());
  std::copy(feature_data.begin(), feature_data.end(), b.begin() + 12);
  return b;
}

std::vector<std::uint8_t> ModeSenseData(std::uint8_t medium_type) {
  std::vector<std::uint8_t> data(8 + 32, 0);
  data[1] = 6 + 32;
  data[2] = medium_type;
  data[8] = 0x2A;
  data[9] = 30;
  return data;
}

}  // namespace zorvane::test
