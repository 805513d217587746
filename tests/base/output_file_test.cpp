#include "base/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("zorvane-output-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "src" / "sub");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // The folder holds only these names.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

TEST_F(OutputFileTest, TargetChangesOnlyOnCommit) {
  const std::string target = Path("p.iso");
  Put(target, "old image");
  int error = 0;
  {
    // Abandoned (a failed or stopped job): the old file stays whole, nothing else is left.
    OutputFile file;
    ASSERT_TRUE(file.Create(target, &error));
    ASSERT_TRUE(file.Write("new", 3, &error));
    EXPECT_EQ(Contents(target), "old image");
  }
  EXPECT_EQ(Contents(target), "old image");
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.iso", "src"}));

  OutputFile file;
  ASSERT_TRUE(file.Create(target, &error));
  ASSERT_TRUE(file.Write("new image", 9, &error));
  ASSERT_TRUE(file.WriteAt(0, "N", 1, &error));
  ASSERT_TRUE(file.Commit(&error));
  EXPECT_EQ(Contents(target), "New image");
  EXPECT_EQ(Names(), (std::vector<std::string>{"p.iso", "src"}));

  // Through a link the named file is replaced and the link stays a link.
  fs::create_symlink(target, Path("link.iso"));
  ASSERT_TRUE(file.Create(Path("link.iso"), &error));
  ASSERT_TRUE(file.Write("linked", 6, &error));
  ASSERT_TRUE(file.Commit(&error));
  EXPECT_TRUE(fs::is_symlink(Path("link.iso")));
  EXPECT_EQ(Contents(target), "linked");
}

TEST_F(OutputFileTest, PartialKeepsWhatWasReadAndNeverAnEmptyFile) {
  const std::string target = Path("disc.iso");
  Put(target, "whole");
  Put(target + ".part", "older part");
  int error = 0;
  OutputFile file;
  ASSERT_TRUE(file.Create(target, &error));
  ASSERT_TRUE(file.Write("abc", 3, &error));
  EXPECT_EQ(file.KeepPartial(&error), target + ".part");
  EXPECT_EQ(Contents(target + ".part"), "abc");
  EXPECT_EQ(Contents(target), "whole");

  // Nothing read: no .part at all.
  fs::remove(target + ".part");
  ASSERT_TRUE(file.Create(target, &error));
  EXPECT_EQ(file.KeepPartial(&error), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"disc.iso", "src"}));
}

TEST_F(OutputFileTest, RefusesTargetsThatAreNotFiles) {
  int error = 0;
  OutputFile file;
  EXPECT_FALSE(file.Create(Path("src"), &error));
  EXPECT_EQ(error, EISDIR);
  EXPECT_FALSE(file.Create("/dev/null", &error));
  EXPECT_EQ(error, ENODEV);
  EXPECT_FALSE(file.Create(Path("missing/out.iso"), &error));
  EXPECT_EQ(error, ENOENT);
}

TEST_F(OutputFileTest, OutputMayNotBeOrLieInsideASource) {
  Put(Path("src/a.txt"), "a");
  const std::vector<std::string> sources = {Path("src"), Path("other.iso")};
  EXPECT_NE(OutputConflict(Path("src/a.txt"), sources), "");
  EXPECT_NE(OutputConflict(Path("src/sub/new.iso"), sources), "");
  EXPECT_NE(OutputConflict(Path("src/../src/sub/../a.txt"), sources), "");
  EXPECT_NE(OutputConflict(Path("src"), sources), "");
  EXPECT_NE(OutputConflict(Path("other.iso"), sources), "");
  // A sibling whose name starts like the source's is not inside it.
  EXPECT_EQ(OutputConflict(Path("src2.iso"), sources), "");
  EXPECT_EQ(OutputConflict(Path("out.iso"), sources), "");
  // The same file under another name (a hard link) is still the source.
  Put(Path("single.txt"), "x");
  fs::create_hard_link(Path("single.txt"), Path("alias.txt"));
  EXPECT_NE(OutputConflict(Path("alias.txt"), {Path("single.txt")}), "");
}

TEST_F(OutputFileTest, InputsAreNonEmptyRegularFilesOpenedWithoutBlocking) {
  std::int64_t size = 0;
  std::string reason;
  Put(Path("image.iso"), std::string(2048, 'x'));
  const int fd = OpenInputFile(Path("image.iso"), &size, &reason);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(size, 2048);
  EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  ::close(fd);

  Put(Path("empty.iso"), "");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const char* name : {"empty.iso", "src", "fifo", "missing.iso"}) {
    reason.clear();
    EXPECT_EQ(OpenInputFile(Path(name), &size, &reason), -1) << name;
    EXPECT_NE(reason.find(Path(name)), std::string::npos) << reason;
  }
  EXPECT_EQ(OpenInputFile("/dev/zero", &size, &reason), -1);
}

}  // namespace
}  // namespace zorvane
