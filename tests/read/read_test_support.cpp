#include "tests/read/read_test_support.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "app/main_commands.h"
#include "info/toc.h"
#include "transport/discovery.h"

namespace zorvane::test {

void ReadTest::SetUp() {
  TransportTest::SetUp();
  TrackList.Clear();
  char pattern[] = "/tmp/zorvane-read-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  dir_ = pattern;
  window_.SetChecked(kClearCommandPane, false);
  window_.SetChecked(kClearInfoPane, false);
  MainWindow.store(&window_);
}

void ReadTest::TearDown() {
  MainWindow.store(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  TransportTest::TearDown();
}

void ReadTest::Insert(const std::string& spec) {
  CloseAllDevices();
  DevicePaths[0] = "virtual:" + spec;
  DiscoverDevices();
  ASSERT_EQ(DeviceCount, 1) << spec;
  SelectDevice(DeviceTable[0]);
}

bool ReadTest::OpenDialog() {
  RecordingJobs jobs;
  PressRead(window_, jobs);
  if (jobs.opened.empty()) return false;
  opened_ = jobs.LastOpened();
  OpenDialogOf(opened_ == kDvdReadDialog ? ReadDialog::Kind::kDvd : ReadDialog::Kind::kCd);
  return true;
}

void ReadTest::OpenDialogOf(ReadDialog::Kind kind) {
  SetTemplateCaptions(dialog_,
                      kind == ReadDialog::Kind::kDvd ? DvdReadTemplate() : CdReadTemplate());
  handler_ = std::make_unique<ReadDialog>(kind);
  handler_->OnInit(dialog_);
}

void ReadTest::Fill(const std::string& first, const std::string& last, const std::string& path) {
  if (!first.empty()) dialog_.SetText(kReadFirstSector, first);
  if (!last.empty()) dialog_.SetText(kReadLastSector, last);
  dialog_.SetText(kReadPath, path);
}

ReadOutcome ReadTest::RunToEnd() {
  handler_->OnCommand(dialog_, kOkButton);
  return WaitForEnd();
}

ReadOutcome ReadTest::WaitForEnd() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!handler_->Ended()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the read did not end";
      return ReadOutcome::kRunning;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (dialog_.TimerRunning(kRefreshTimer)) handler_->OnTimer(dialog_, kRefreshTimer);
  }
  return handler_->Job()->outcome.load();
}

ReadOutcome ReadTest::WaitForWorker() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (handler_->Job()->outcome.load() == ReadOutcome::kRunning) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the worker did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return handler_->Job()->outcome.load();
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::uint8_t> PatternBlock(std::uint32_t lba) {
  std::vector<std::uint8_t> block(2048);
  block[0] = static_cast<std::uint8_t>(lba >> 24);
  block[1] = static_cast<std::uint8_t>(lba >> 16);
  block[2] = static_cast<std::uint8_t>(lba >> 8);
  block[3] = static_cast<std::uint8_t>(lba);
  for (std::size_t k = 4; k < block.size(); ++k) {
    block[k] = static_cast<std::uint8_t>(k + 3 * static_cast<std::size_t>(lba));
  }
  return block;
}

bool HoldsPatternBlocks(const std::vector<std::uint8_t>& data, std::size_t offset,
                        std::uint32_t lba, std::size_t blocks, std::string* why) {
  if (data.size() < offset + blocks * 2048) {
    *why = "file too short: " + std::to_string(data.size());
    return false;
  }
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::vector<std::uint8_t> expected = PatternBlock(lba + static_cast<std::uint32_t>(i));
    if (!std::equal(expected.begin(), expected.end(),
                    data.begin() + static_cast<long>(offset + i * 2048))) {
      *why = "block " + std::to_string(i) + " (LBA " + std::to_string(lba + i) + ") differs";
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> AudioBlock(std::uint32_t lba) {
  std::vector<std::uint8_t> block(2352);
  for (std::uint32_t n = 0; n < 588; ++n) {
    const auto left = static_cast<std::uint16_t>((static_cast<std::uint64_t>(lba) * 588 + n) * 97);
    const auto right = static_cast<std::uint16_t>(~left);
    block[n * 4] = static_cast<std::uint8_t>(left);
    block[n * 4 + 1] = static_cast<std::uint8_t>(left >> 8);
    block[n * 4 + 2] = static_cast<std::uint8_t>(right);
    block[n * 4 + 3] = static_cast<std::uint8_t>(right >> 8);
  }
  return block;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& data, std::size_t at) {
  if (data.size() < at + 4) return 0xDEADBEEF;
  return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
         static_cast<std::uint32_t>(data[at + 2]) << 16 |
         static_cast<std::uint32_t>(data[at + 3]) << 24;
}

}  // namespace zorvane::test
