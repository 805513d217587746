#include "tests/write/write_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "base/utilities.h"
#include "transport/discovery.h"
#include "transport/virtual_backend.h"
#include "write/write_job.h"

namespace zorvane::test {

void WriteTest::SetUp() {
  TransportTest::SetUp();
  char pattern[] = "/tmp/zorvane-write-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  dir_ = pattern;
  SetWritePacing(WritePacing{std::chrono::milliseconds(1), std::chrono::milliseconds(3000),
                             std::chrono::milliseconds(0)});
}

void WriteTest::TearDown() {
  SetWritePacing(WritePacing{});
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
  TransportTest::TearDown();
}

std::vector<std::uint8_t> WriteTest::MakeImage(const std::string& name, std::size_t size,
                                               int seed) {
  std::vector<std::uint8_t> data(size);
  std::uint32_t state = 2463534242U + static_cast<std::uint32_t>(seed) * 7919U;
  for (std::uint8_t& byte : data) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state);
  }
  std::FILE* file = std::fopen(PathOf(name).c_str(), "wb");
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return data;
  EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), file), data.size());
  EXPECT_EQ(std::fclose(file), 0);
  return data;
}

std::string WriteTest::Spec(const std::string& preset, const std::string& keys) const {
  std::string spec = "virtual:" + preset + ",state=" + StateOf(preset);
  if (!keys.empty()) spec += "," + keys;
  return spec;
}

CliRun WriteTest::Write(const std::string& spec, std::vector<std::string> args) {
  args.insert(args.begin(), "write");
  return Cli(spec, std::move(args));
}

CliRun WriteTest::Cli(const std::string& spec, std::vector<std::string> args) {
  CloseAllDevices();
  ResetVirtualDrives();
  args.insert(args.begin(), {"--drive", "d=" + spec});
  CliRun run = RunCliCaptured(args);
  CommandConsole = &command_console_;
  InfoConsole = &info_console_;
  MessageBoxSink = &messages_;
  return run;
}

void WriteTest::Fresh(const std::string& spec) {
  CloseAllDevices();
  ResetVirtualDrives();
  for (std::string& path : DevicePaths) path.clear();
  DevicePaths[0] = spec;
  DiscoverDevices();
  CurrentDevice.slot = 0;
  CurrentDevice.target = 0;
  CurrentDevice.lun = 0;
}

std::vector<std::uint8_t> WriteTest::ReadData(std::uint32_t lba, std::uint32_t count) {
  std::vector<std::uint8_t> data(std::size_t{count} * 2048);
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t n = std::min<std::uint32_t>(16, count - done);
    std::uint8_t cdb[10] = {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    WriteBe32(lba + done, cdb + 2);
    cdb[8] = static_cast<std::uint8_t>(n);
    if (ExecuteOnCurrent(cdb, n * 2048, data.data() + std::size_t{done} * 2048, kDataIn, 0) != 0) {
      return {};
    }
    done += n;
  }
  return data;
}

std::vector<std::uint8_t> WriteTest::ReadCd(std::uint32_t lba, std::uint32_t count,
                                            std::uint8_t type, std::uint32_t size) {
  std::vector<std::uint8_t> data(std::size_t{count} * size);
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t n = std::min<std::uint32_t>(16, count - done);
    std::uint8_t cdb[12] = {
        0xBE, static_cast<std::uint8_t>(type << 2), 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0};
    WriteBe32(lba + done, cdb + 2);
    cdb[8] = static_cast<std::uint8_t>(n);
    if (ExecuteOnCurrent(cdb, n * size, data.data() + std::size_t{done} * size, kDataIn, 0) != 0) {
      return {};
    }
    done += n;
  }
  return data;
}

std::uint32_t WriteTest::TrackStart(std::uint8_t track) {
  std::uint8_t cdb[10] = {0x52, 0x01, 0, 0, 0, track, 0, 0, 0xFF, 0};
  std::uint8_t reply[255] = {};
  EXPECT_EQ(ExecuteOnCurrent(cdb, sizeof reply, reply, kDataIn, 0), 0) << "track " << int{track};
  return ReadBe32(reply + 8);
}

std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> data, std::size_t sector) {
  data.resize((data.size() + sector - 1) / sector * sector, 0);
  return data;
}

}  // namespace zorvane::test
