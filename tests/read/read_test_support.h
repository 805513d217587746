// A read dialog run as the window runs it: the read button's checks, the dialog in memory,
// OK, and the refresh timer ticked until the end is shown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/dialog.h"
#include "read/read_dialog.h"
#include "tests/support/test_support.h"

namespace zorvane::test {

class ReadTest : public TransportTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads a virtual drive from its spec (without "virtual:") into d: and makes it current.
  void Insert(const std::string& spec);

  // Presses the read button; opens the chosen dialog in memory. False when none opened.
  bool OpenDialog();
  // Opens a dialog of the given kind without the read button (TrackList as it is).
  void OpenDialogOf(ReadDialog::Kind kind);

  // Fills the sectors and path (empty texts are left as the dialog has them).
  void Fill(const std::string& first, const std::string& last, const std::string& path);
  // Presses OK and refreshes until the end is shown; the outcome.
  ReadOutcome RunToEnd();
  ReadOutcome WaitForEnd();
  // Waits (without refreshing the dialog) until the worker has published its end.
  ReadOutcome WaitForWorker();

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string InfoText() const { return info_console_.Text(); }
  std::string CommandText() const { return command_console_.Text(); }

  MemoryDialog window_;  // the main window
  MemoryDialog dialog_;
  std::unique_ptr<ReadDialog> handler_;
  int opened_ = 0;
  std::string dir_;
};

std::vector<std::uint8_t> FileBytes(const std::string& path);
bool FileExists(const std::string& path);

// The virtual drive's data block: bytes 0..3 the LBA, byte k the low byte of k + 3 LBA.
std::vector<std::uint8_t> PatternBlock(std::uint32_t lba);
// True when `data` holds the pattern blocks from `lba` on; `why` says where it differs.
bool HoldsPatternBlocks(const std::vector<std::uint8_t>& data, std::size_t offset,
                        std::uint32_t lba, std::size_t blocks, std::string* why);
// The virtual drive's audio block: 588 stereo samples.
std::vector<std::uint8_t> AudioBlock(std::uint32_t lba);

std::uint32_t Le32(const std::vector<std::uint8_t>& data, std::size_t at);

}  // namespace zorvane::test
