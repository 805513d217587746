// Shared fixture: every test starts from a program that has just started, with recording
// consoles and fast readiness polling.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/main_commands.h"
#include "transport/console.h"
#include "transport/scripted_backend.h"

namespace zorvane::test {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Attaches a fresh scripted drive to `slot` (maps only the slots attached so far).
  std::shared_ptr<ScriptedDrive> Attach(int slot, const std::string& name = "");

  StringConsole command_console_;
  StringConsole info_console_;
  StringMessageSink messages_;
};

// Job dialogs that only remember what was opened.
class RecordingJobs : public JobDialogs {
 public:
  bool CanOpen(int) const override { return true; }
  void Open(int template_id) override { opened.push_back(template_id); }
  bool CanStartQualityScan() const override { return true; }
  void StartQualityScan() override { ++scans; }
  int LastOpened() const { return opened.empty() ? 0 : opened.back(); }
  std::vector<int> opened;
  int scans = 0;
};

// One in-process run of the command-line front end, with what it printed.
struct CliRun {
  int status;
  std::string out;
  std::string err;
};
CliRun RunCliCaptured(const std::vector<std::string>& args);

// Runs a shell command and returns its exit status (-1 when it did not exit), with its
// standard output in `out`.
int RunCommand(const std::string& command, std::string* out);

// A standard INQUIRY reply: peripheral type 05h, vendor, product and revision padded.
std::vector<std::uint8_t> InquiryData(const std::string& vendor, const std::string& product,
                                      const std::string& revision);

// Big-endian fields into a reply under construction.
void Put16(std::vector<std::uint8_t>& reply, std::size_t at, unsigned value);
void Put32(std::vector<std::uint8_t>& reply, std::size_t at, std::uint32_t value);

// GET CONFIGURATION answers with RT = 2: the header with the current profile, then the
// Profile List feature, or one feature descriptor with its data.
std::vector<std::uint8_t> ProfileList(std::uint16_t current, std::vector<std::uint16_t> profiles);
std::vector<std::uint8_t> Feature(std::uint16_t current, std::uint16_t code, std::uint8_t flags,
                                  std::vector<std::uint8_t> feature_data);

// A MODE SENSE(10) reply whose header carries `medium_type`.
std::vector<std::uint8_t> ModeSenseData(std::uint8_t medium_type);

}  // namespace zorvane::test
