// The image: its volume descriptor fields, and the whole image read back by tools that
// share no code with ours (xorriso, isoinfo).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "iso/iso_image.h"
#include "iso/source_scan.h"
#include "tests/iso/iso_test_support.h"
#include "tests/support/test_support.h"

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using test::ScratchTree;

std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Date17(const std::array<std::uint8_t, 17>& field) {
  return std::string(field.begin(), field.begin() + 16) + "|" +
         std::to_string(static_cast<int>(static_cast<std::int8_t>(field[16])));
}

TEST(DescriptorFieldsTest, DatesTakeTheDigitFormWithHundredthsZeroAndTheOffsetRule) {
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "32")), "2024050607080900|32");
  EXPECT_EQ(Date17(DescriptorDate("2074/05/06 07:08:09:12", "-20")), "2074050607080900|-20");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "-48")), "2024050607080900|-48");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "52")), "2024050607080900|52");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "53")), "2024050607080900|0");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "-49")), "2024050607080900|0");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "8x")), "2024050607080900|0");
  EXPECT_EQ(Date17(DescriptorDate("2024/05/06 07:08:09:12", "")), "2024050607080900|0");
  // Not a date: "not specified", all zero digits and no offset.
  EXPECT_EQ(Date17(DescriptorDate("yesterday", "32")), "0000000000000000|0");
  EXPECT_EQ(Date17(DescriptorDate("2024/13/06 07:08:09:12", "32")), "0000000000000000|0");
}

TEST(DescriptorFieldsTest, SetNumbersAreOneTo65535AndOneOtherwise) {
  EXPECT_EQ(SetNumber("1"), 1);
  EXPECT_EQ(SetNumber("7"), 7);
  EXPECT_EQ(SetNumber("65535"), 65535);
  EXPECT_EQ(SetNumber("65536"), 1);
  EXPECT_EQ(SetNumber("0"), 1);
  EXPECT_EQ(SetNumber("-3"), 1);
  EXPECT_EQ(SetNumber("+3"), 1);
  EXPECT_EQ(SetNumber("3a"), 1);
  EXPECT_EQ(SetNumber(""), 1);
}

TEST(DescriptorFieldsTest, IdentifiersAreCutAndPaddedAsTheirFieldsAsk) {
  std::array<std::uint8_t, 2048> sector{};
  sector[0] = 1;
  VolumeFields f;
  f.volume = std::string(40, 'V');
  f.system = "Linux";
  f.publisher = "出版 house";
  f.preparer = std::string(200, 'p');
  f.copyright_file = std::string(50, 'c');
  f.set_size = "3";
  f.sequence = "2";
  f.dates = {"2024/05/06 07:08:09:12", "", "", ""};
  f.offsets = {"32", "", "", ""};
  PatchVolumeDescriptor(f, sector.data());
  auto text = [&](std::size_t at, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(sector.data()) + at, size);
  };
  EXPECT_EQ(text(8, 32), std::string("Linux") + std::string(27, '\0'));
  EXPECT_EQ(text(40, 32), std::string(31, 'V') + std::string(1, '\0'));
  EXPECT_EQ(text(318, 128), "__ house" + std::string(120, ' '));
  EXPECT_EQ(text(446, 128), std::string(127, 'p') + " ");
  EXPECT_EQ(text(702, 37), std::string(36, 'c') + " ");
  EXPECT_EQ(text(120, 4), std::string("\x03\x00\x00\x03", 4));
  EXPECT_EQ(text(124, 4), std::string("\x02\x00\x00\x02", 4));
  EXPECT_EQ(text(813, 17), "2024050607080900\x20");
  EXPECT_EQ(text(830, 17), std::string(16, '0') + std::string(1, '\0'));
}

// An image of a tree with what real trees hold, read back by other tools.
class ImageReadBackTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::HaveTool("xorriso") || !test::HaveTool("isoinfo")) return;
    tree_ = new ScratchTree();
    const ScratchTree& t = *tree_;
    t.Text("src/readme.txt", "hello\n");
    t.File("src/" + std::string(200, 'L') + ".data", 70000, 'l');
    t.Text("src/中文資料夾/繁體中文的檔案名稱.txt", "中文內容\n");
    t.File("src/a/b/c/d/e/f/g/h/i/j/k/deep.bin", 4097, 'd');
    t.File("src/empty", 0);
    t.Sparse("src/sparse-5g", 5ull * 1024 * 1024 * 1024);
    t.Link("src/link", "readme.txt");
    t.Link("src/a/loop", "..");
    t.File("single.bin", 2049, 's');
    chmod(t.Path("src/readme.txt").c_str(), 0640);
    image_ = t.Path("out.iso");
    run_ = new test::CliRun(test::RunCliCaptured(
        {"mkiso", "--volume", "ZORVANE_TEST", "--system", "Linux", "--publisher", "出版 Publisher",
         "--preparer", "Preparer", "--application", "Zorvane test", image_, t.Path("src"),
         t.Path("single.bin")}));
  }
  static void TearDownTestSuite() {
    delete run_;
    delete tree_;
    run_ = nullptr;
    tree_ = nullptr;
  }
  void SetUp() override {
    if (tree_ == nullptr) GTEST_SKIP() << "xorriso or isoinfo (genisoimage) is not installed";
    ASSERT_EQ(run_->status, 0) << run_->out << run_->err;
  }

  // What each reader finds in the image.
  void CheckDescriptor();
  void CheckListing();
  void CheckJoliet();
  void CheckExtraction();

  static ScratchTree* tree_;
  static std::string image_;
  static test::CliRun* run_;
};

ScratchTree* ImageReadBackTest::tree_ = nullptr;
std::string ImageReadBackTest::image_;
test::CliRun* ImageReadBackTest::run_ = nullptr;

void ImageReadBackTest::CheckDescriptor() {
  std::string out;
  ASSERT_EQ(test::RunCommand("isoinfo -d -i '" + image_ + "'", &out), 0);
  EXPECT_NE(out.find("System id: Linux\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Volume id: ZORVANE_TEST\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Publisher id: __ Publisher\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Data preparer id: Preparer\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Application id: Zorvane test\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Volume set size is: 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Volume set sequence number is: 1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Logical block size is: 2048\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Joliet"), std::string::npos) << out;
  EXPECT_NE(out.find("Rock Ridge"), std::string::npos) << out;
  // The volume set name defaults to the moment the dialog opened.
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(Volume set id: \d{8}_\d{8}\n)"))) << out;

  // The dates in their digit form, with the machine's offset.
  std::ifstream in(image_, std::ios::binary);
  std::vector<char> pvd(2048);
  in.seekg(16 * 2048);
  in.read(pvd.data(), 2048);
  ASSERT_TRUE(in);
  const std::string creation(pvd.data() + 813, 16);
  EXPECT_TRUE(std::regex_match(creation, std::regex(R"(\d{14}00)"))) << creation;
  const std::string expiration(pvd.data() + 847, 16);
  EXPECT_EQ(std::stoi(expiration.substr(0, 4)), std::stoi(creation.substr(0, 4)) + 50);
  EXPECT_EQ(static_cast<int>(static_cast<std::int8_t>(pvd[813 + 16])),
            LocalTimeOf(std::time(nullptr)).quarter_hours);
}

void ImageReadBackTest::CheckListing() {
  std::string out;
  ASSERT_EQ(
      test::RunCommand("xorriso -indev '" + image_ + "' -find / -exec lsdl 2>/dev/null", &out), 0);
  std::map<std::string, std::string> listed;  // path -> size or link target
  std::istringstream lines(out);
  std::string line;
  static const std::regex entry(
      R"(^(\S)\S+\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\w+\s+\d+\s+[\d:]+\s+'(.*?)'(?: -> '(.*)')?$)");
  std::smatch m;
  while (std::getline(lines, line)) {
    if (!std::regex_match(line, m, entry)) continue;
    if (m[1] == "-") listed[m[3]] = m[2];
    if (m[1] == "l") listed[m[3]] = "-> " + m[4].str();
  }
  std::map<std::string, std::string> expected;
  const std::string root = tree_->Path("src");
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string path = "/src/" + it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      expected[path] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      expected[path] = std::to_string(it->file_size());
    }
  }
  expected["/single.bin"] = "2049";
  EXPECT_EQ(listed, expected) << out;
  EXPECT_EQ(listed["/src/sparse-5g"], "5368709120");
}

void ImageReadBackTest::CheckJoliet() {
  std::string out;
  // Without Rock Ridge, a reader takes the Joliet tree (as Windows does).
  ASSERT_EQ(
      test::RunCommand("xorriso -read_fs norock -indev '" + image_ + "' -find / 2>/dev/null", &out),
      0);
  EXPECT_NE(out.find("'/src/中文資料夾/繁體中文的檔案名稱.txt'\n"), std::string::npos) << out;
  EXPECT_NE(out.find("'/src/a/b/c/d/e/f/g/h/i/j/k/deep.bin'\n"), std::string::npos) << out;
  // Joliet names stop at 103 characters (64 by the letter of the standard), keeping as
  // much of the suffix as fits.
  EXPECT_TRUE(std::regex_search(out, std::regex(R"('/src/L{95,100}\.dat'\n)"))) << out;
}

void ImageReadBackTest::CheckExtraction() {
  const std::string target = tree_->Path("extracted");
  std::string out;
  ASSERT_EQ(test::RunCommand("xorriso -osirrox on:sparse=1m -indev '" + image_ + "' -extract / '" +
                                 target + "' 2>&1",
                             &out),
            0)
      << out;
  ASSERT_EQ(
      test::RunCommand(
          "diff -r --no-dereference '" + tree_->Path("src") + "' '" + target + "/src' 2>&1", &out),
      0)
      << out;
  ASSERT_EQ(test::RunCommand(
                "cmp '" + tree_->Path("single.bin") + "' '" + target + "/single.bin' 2>&1", &out),
            0)
      << out;
  struct stat st {};
  ASSERT_EQ(stat((target + "/src/readme.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(fs::read_symlink(target + "/src/a/loop"), "..");
}

// One test, so that the image (with its 5 GiB file) is built once however the tests are run.
TEST_F(ImageReadBackTest, OtherToolsReadTheImageAsItsSourceTree) {
  {
    SCOPED_TRACE("isoinfo -d shows the descriptor fields the dialog held");
    CheckDescriptor();
  }
  {
    SCOPED_TRACE("xorriso lists the same files and sizes");
    CheckListing();
  }
  {
    SCOPED_TRACE("Joliet carries the long and Chinese names");
    CheckJoliet();
  }
  {
    SCOPED_TRACE("extracting gives byte-identical files, links and modes");
    CheckExtraction();
  }
}

// Each failed or stopped build leaves the folder as it was: no new file, and an existing
// image untouched.
TEST(ImageFailureTest, AFailedOrStoppedBuildLeavesNothingAndKeepsAnExistingImage) {
  ScratchTree tree;
  tree.File("one/same", 10);
  tree.File("two/same", 10);
  StringConsole log;
  std::atomic<bool> run{true};
  std::atomic<bool> stopped{false};
  auto entries = [&] {
    std::string names;
    for (const auto& entry : fs::directory_iterator(tree.root())) {
      names += entry.path().filename().string() + " ";
    }
    return names;
  };
  for (const bool existing : {false, true}) {
    const std::string out = tree.Path("out.iso");
    if (existing) tree.Text("out.iso", "the image before");
    const std::string before = entries();
    ImageResult result = BuildIsoImage(
        VolumeFields{}, {tree.Path("one/same"), tree.Path("two/same")}, out, &log, run);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "Two sources are named same");
    result = BuildIsoImage(VolumeFields{}, {tree.Path("one")}, out, &log, stopped);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.stopped);
    result = BuildIsoImage(VolumeFields{}, {tree.Path("missing")}, out, &log, run);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(entries(), before) << existing;
    if (existing) {
      EXPECT_EQ(Contents(out), "the image before");
    }
  }
}

// An output that is a source or lies inside one, or a field the descriptor cannot hold, is
// refused before anything is written; the sources stay as they were.
TEST(ImageFailureTest, OutputsAmongTheSourcesAndFieldsTooLongAreRefused) {
  ScratchTree tree;
  tree.Text("src/a.txt", "source text");
  tree.Text("file.txt", "a file source");
  tree.Link("link-to-a", "src/a.txt");
  StringConsole log;
  std::atomic<bool> run{true};
  const std::string src = tree.Path("src"), file = tree.Path("file.txt");
  const std::pair<std::string, std::string> refused[] = {
      {tree.Path("src/a.txt"), " lies inside the source " + src},
      {tree.Path("src/new.iso"), " lies inside the source " + src},
      {src, " is the source " + src},
      {src + "/", " is the source " + src},
      {file, " is the source " + file},
      {tree.Path("link-to-a"), " lies inside the source " + src},
  };
  for (const auto& [out, reason] : refused) {
    const ImageResult result = BuildIsoImage(VolumeFields{}, {file, src}, out, &log, run);
    EXPECT_FALSE(result.ok) << out;
    EXPECT_EQ(result.error, out + reason);
  }
  EXPECT_EQ(Contents(tree.Path("src/a.txt")), "source text");
  EXPECT_EQ(Contents(file), "a file source");
  EXPECT_EQ(std::distance(fs::directory_iterator(src), fs::directory_iterator()), 1);

  VolumeFields fields;
  fields.volume = std::string(30, 'v') + "冊";  // 31 characters: fits
  fields.copyright_file = std::string(36, 'c');
  EXPECT_EQ(FieldTooLong(fields), "");
  EXPECT_NE(PrimaryDescriptorNote(fields).find("\"" + std::string(30, 'v') + "_\""),
            std::string::npos);
  fields.volume += "x";
  EXPECT_EQ(FieldTooLong(fields), "the volume name is 32 characters long; it holds at most 31");
  fields.volume = "v";
  fields.application = std::string(128, 'a');
  EXPECT_EQ(FieldTooLong(fields), "the application is 128 characters long; it holds at most 127");
  const ImageResult result = BuildIsoImage(fields, {src}, tree.Path("out.iso"), &log, run);
  EXPECT_EQ(result.error, FieldTooLong(fields));
  EXPECT_FALSE(fs::exists(tree.Path("out.iso")));
}

TEST(ImageFailureTest, AFileThatCannotBeReadFailsTheImage) {
  ScratchTree tree;
  tree.File("src/ok", 10);
  tree.File("src/secret", 5000);
  chmod(tree.Path("src/secret").c_str(), 0);
  chmod(tree.root().c_str(), 0777);
  const std::string src = tree.Path("src"), out = tree.Path("out.iso");
  const std::string report = test::RunUnprivileged([src, out] {
    StringConsole log;
    std::atomic<bool> run{true};
    const ImageResult result = BuildIsoImage(VolumeFields{}, {src}, out, &log, run);
    return std::string(result.ok ? "ok" : "failed") + (fs::exists(out) ? " file" : " nofile") +
           "|" + result.error;
  });
  EXPECT_EQ(report.substr(0, report.find('|')), "failed nofile") << report;
}

}  // namespace
}  // namespace zorvane
