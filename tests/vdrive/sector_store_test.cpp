// The on-disk sector store: runs of blocks, written over in place until committed, never
// after; erased ranges split the runs they cut.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "vdrive/sector_store.h"

namespace zorvane::vdrive {
namespace {

std::vector<std::uint8_t> Blocks(std::uint32_t count, std::uint32_t size, std::uint8_t first) {
  std::vector<std::uint8_t> data(std::size_t{count} * size);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::fill_n(data.begin() + std::ptrdiff_t{i} * size, size,
                static_cast<std::uint8_t>(first + i));
  }
  return data;
}

std::uint8_t FirstByte(const SectorStore& store, std::int32_t lba) {
  std::uint8_t block[2352] = {};
  return store.Read(lba, block, sizeof block) == 0 ? 0 : block[0];
}

bool Written(const SectorStore& store, std::int32_t lba) {
  std::uint8_t block[2352] = {};
  return store.Read(lba, block, sizeof block) > 0;
}

class SectorStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/zorvane-store-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

TEST_F(SectorStoreTest, RunsWrittenInOrderAreOneExtent) {
  std::string error;
  auto store = SectorStore::Create(dir_ + "/data", &error);
  ASSERT_NE(store, nullptr) << error;
  for (std::int32_t lba = 0; lba < 310; lba += 31) {
    ASSERT_TRUE(
        store->Write(lba, 31, 2048, Blocks(31, 2048, static_cast<std::uint8_t>(lba)).data()));
  }
  ASSERT_EQ(store->Extents().size(), 1U);
  EXPECT_EQ(store->Extents().begin()->second.count, 310U);
  EXPECT_EQ(FirstByte(*store, 0), 0);
  EXPECT_EQ(FirstByte(*store, 45), static_cast<std::uint8_t>(31 + 14));
  EXPECT_FALSE(Written(*store, 310));  // never written
  EXPECT_FALSE(Written(*store, -1));
  EXPECT_EQ(store->LiveBytes(), 310U * 2048);
  // Blocks of another size do not join the run.
  ASSERT_TRUE(store->Write(310, 2, 2352, Blocks(2, 2352, 0xA0).data()));
  EXPECT_EQ(store->Extents().size(), 2U);
  std::uint8_t block[2352] = {};
  EXPECT_EQ(store->Read(311, block, sizeof block), 2352U);
  EXPECT_EQ(block[2351], 0xA1);
  EXPECT_EQ(store->Read(311, block, 2048), 2048U);  // cut to the room given
}

TEST_F(SectorStoreTest, CommittedBlocksAreNeverWrittenOver) {
  std::string error;
  auto store = SectorStore::Create(dir_ + "/data", &error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->Write(100, 16, 2048, Blocks(16, 2048, 1).data()));
  // Not committed yet: written over where they lie.
  ASSERT_TRUE(store->Write(104, 4, 2048, Blocks(4, 2048, 0x50).data()));
  EXPECT_EQ(store->FileBytes(), 16U * 2048);
  ASSERT_TRUE(store->Commit(&error)) << error;
  // Committed: the new blocks go to the end, the map moves on, the file keeps the old.
  ASSERT_TRUE(store->Write(106, 4, 2048, Blocks(4, 2048, 0x80).data()));
  EXPECT_EQ(store->FileBytes(), 20U * 2048);
  EXPECT_EQ(store->Extents().size(), 3U);  // 100-105, 106-109, 110-115
  EXPECT_EQ(FirstByte(*store, 105), 0x51);
  EXPECT_EQ(FirstByte(*store, 106), 0x80);
  EXPECT_EQ(FirstByte(*store, 109), 0x83);
  EXPECT_EQ(FirstByte(*store, 110), 1 + 10);
  // A state file that recorded the map at the commit still finds the old blocks.
  SectorStore::ExtentMap committed = {{100, {16, 2048, 0}}};
  auto reopened = SectorStore::Open(dir_ + "/data", committed, &error);
  ASSERT_NE(reopened, nullptr) << error;
  EXPECT_EQ(FirstByte(*reopened, 106), 0x52);
  // A map the file cannot hold is refused.
  EXPECT_EQ(SectorStore::Open(dir_ + "/data", {{0, {100, 2048, 0}}}, &error), nullptr);
  EXPECT_NE(error.find("does not hold"), std::string::npos) << error;
  EXPECT_EQ(SectorStore::Open(dir_ + "/data", {{0, {2, 2048, 0}}, {1, {2, 2048, 0}}}, &error),
            nullptr);  // overlapping runs
  EXPECT_EQ(SectorStore::Open(dir_ + "/none", {}, &error), nullptr);
  EXPECT_EQ(SectorStore::Create(dir_ + "/data", &error), nullptr);  // never over a file
}

TEST_F(SectorStoreTest, ErasingSplitsRunsAndPackingKeepsWhatIsLive) {
  std::string error;
  auto store = SectorStore::CreateTemporary(&error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_TRUE(store->Path().empty());
  ASSERT_TRUE(store->Write(0, 100, 2048, Blocks(100, 2048, 0).data()));
  store->Erase(10, 20);
  store->Erase(95, 200);
  EXPECT_EQ(FirstByte(*store, 9), 9);
  EXPECT_FALSE(Written(*store, 10));
  EXPECT_FALSE(Written(*store, 19));
  EXPECT_EQ(FirstByte(*store, 20), 20);
  EXPECT_EQ(FirstByte(*store, 94), 94);
  EXPECT_FALSE(Written(*store, 95));
  EXPECT_EQ(store->LiveBytes(), 85U * 2048);
  auto packed = store->CompactInto(dir_ + "/packed", &error);
  ASSERT_NE(packed, nullptr) << error;
  EXPECT_EQ(packed->FileBytes(), 85U * 2048);
  EXPECT_EQ(FirstByte(*packed, 20), 20);
  EXPECT_EQ(FirstByte(*packed, 94), 94);
  EXPECT_FALSE(Written(*packed, 15));
  store->Clear();
  EXPECT_FALSE(Written(*store, 0));
  EXPECT_TRUE(Written(*packed, 0));  // the copy is its own
  EXPECT_EQ(FirstByte(*packed, 1), 1);
}

// Appended blocks wait in a buffer before they reach the file: a block that lies across the
// buffer's edge, written over before a commit, reads back whole before and after it.
TEST_F(SectorStoreTest, BlocksAcrossTheAppendBufferReadBackWhole) {
  std::string error;
  auto store = SectorStore::Create(dir_ + "/data", &error);
  ASSERT_NE(store, nullptr) << error;
  auto block = [](std::int32_t lba, std::uint8_t salt) {
    std::vector<std::uint8_t> data(2352);
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(lba) + salt);
    return data;
  };
  // 300 blocks of 2352 bytes: 705,600 bytes, across two 256 KiB buffers, one at a time.
  for (std::int32_t lba = 0; lba < 300; ++lba)
    ASSERT_TRUE(store->Write(lba, 1, 2352, block(lba, 0).data()));
  // Block 111 lies across the first buffer's edge (262,144 / 2352 = 111.4); 222 across the
  // second's.
  for (std::int32_t lba : {111, 222, 299})
    ASSERT_TRUE(store->Write(lba, 1, 2352, block(lba, 9).data()));
  auto check = [&](const SectorStore& s, const char* when) {
    std::vector<std::uint8_t> out(2352);
    for (std::int32_t lba = 0; lba < 300; ++lba) {
      const std::uint8_t salt = (lba == 111 || lba == 222 || lba == 299) ? 9 : 0;
      ASSERT_EQ(s.Read(lba, out.data(), out.size()), 2352U) << when << " " << lba;
      ASSERT_EQ(out, block(lba, salt)) << when << " block " << lba;
    }
  };
  check(*store, "before the commit");
  ASSERT_TRUE(store->Commit(&error)) << error;
  check(*store, "after the commit");
  auto reopened = SectorStore::Open(dir_ + "/data", store->Extents(), &error);
  ASSERT_NE(reopened, nullptr) << error;
  check(*reopened, "reopened");
}

}  // namespace
}  // namespace zorvane::vdrive
