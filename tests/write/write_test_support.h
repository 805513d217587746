// Writing images to virtual drives and reading them back through CDBs, as a fresh process
// finds the disc in the drive's state file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

// Text checks that show the whole text when they fail.
#define EXPECT_CONTAINS(text, part)                                                                \
  EXPECT_NE(std::string(text).find(part), std::string::npos) << "missing: " << (part) << "\nin:\n" \
                                                             << (text)
#define EXPECT_LACKS(text, part)                                                                   \
  EXPECT_EQ(std::string(text).find(part), std::string::npos) << "present: " << (part) << "\nin:\n" \
                                                             << (text)

namespace zorvane::test {

class WriteTest : public TransportTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }
  // A file of `size` bytes of a pattern that differs by `seed`; its bytes are returned.
  std::vector<std::uint8_t> MakeImage(const std::string& name, std::size_t size, int seed);
  // The state file of a preset's disc in this test.
  std::string StateOf(const std::string& preset) const { return PathOf(preset + ".state"); }
  // The drive spec of a preset whose disc lives in this test's state file.
  std::string Spec(const std::string& preset, const std::string& keys = "") const;
  // zorvane-cli write, in-process, on drive d:.
  CliRun Write(const std::string& spec, std::vector<std::string> args);
  CliRun Cli(const std::string& spec, std::vector<std::string> args);
  // Starts the drive of `spec` anew, as another process would, and makes it current.
  void Fresh(const std::string& spec);
  // 2048-byte sectors through READ(10); an empty result when a read is refused.
  std::vector<std::uint8_t> ReadData(std::uint32_t lba, std::uint32_t count);
  // Sectors through READ CD with the expected sector type and user data only.
  std::vector<std::uint8_t> ReadCd(std::uint32_t lba, std::uint32_t count, std::uint8_t type,
                                   std::uint32_t size);
  // READ TRACK INFORMATION of a track number: start address (bytes 8-11).
  std::uint32_t TrackStart(std::uint8_t track);

  std::string dir_;
};

// `data` padded with zeros to a whole number of `sector` bytes.
std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> data, std::size_t sector);

}  // namespace zorvane::test
