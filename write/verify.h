// After a write: reading back the sectors it recorded and comparing them with the image,
// sector by sector, one transfer at a time (never the whole disc in memory). Before a test
// write: whether the drive and the disc take one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "write/write_dialog.h"
#include "write/write_job.h"

namespace zorvane {

// How the written sectors are read back: 2048-byte user data by READ(10), CD audio as its
// 2352 bytes by READ CD, Mode 2 as the 2336 bytes after the header by READ CD.
enum class ReadBack { kData, kAudio, kMode2 };

// Bytes one sector of `kind` holds in the image.
std::uint32_t ReadBackSectorSize(ReadBack kind);

struct VerifyResult {
  std::uint32_t compared = 0;    // sectors read back and compared
  std::uint32_t different = 0;   // of them, the sectors that differ from the image
  std::uint32_t first_lba = 0;   // the first sector that differs (when `different` > 0)
  std::uint32_t first_byte = 0;  // its first byte that differs
  bool stopped = false;          // the run flag was cleared before the end
  std::string failure;           // a read of the drive or of the image that failed, in words
};

// Fills `buffer` with the image's next `sectors` sectors; false on a read error (errno in
// `*error`).
using ImageSectors = std::function<bool(std::uint8_t* buffer, std::uint32_t sectors, int* error)>;

// Reads `count` sectors from `first` and compares each with the image's next sector.
// Checks `run` before each read; `progress` gets the sectors compared so far.
VerifyResult CompareWritten(const DriveAddress& drive, ReadBack kind, std::uint32_t first,
                            std::uint32_t count, const ImageSectors& image,
                            const std::atomic<std::uint8_t>& run,
                            const std::function<void(std::uint32_t)>& progress);

// "verify: 0 of 300 sectors differ", or with the first difference.
std::string VerifyLine(const VerifyResult& result);

// The writer's step after a confirmed write: when the request asks for it, reads back the
// image's sectors from `first` (the image is read again from its start), prints the result
// on the information console and in the dialog's message line, and shows the progress in
// the write gauge. kFinished when nothing differs (or nothing was asked), kFailed with the
// job's failure set when a sector differs or a read fails, kCancelled when stopped.
WriteState VerifyIfAsked(WriteJob& job, PostedDialog& dialog, const WriteRequest& request,
                         const DriveAddress& drive, ImageSource& image, ReadBack kind,
                         std::uint32_t first);

// Before the first command that changes the disc of a test write: true when the drive's
// capabilities page (2Ah) offers test writing and the medium (its profile) takes it (CD-R,
// CD-RW, DVD-R, DVD-RW sequential). Otherwise false with the refusal in `*refusal`.
bool TestWriteOffered(const DriveAddress& drive, std::uint8_t profile, std::string* refusal);

// The dialog at the end of a write: the test-write line when it was one; for a write that
// ended well, the full gauge of `count` sectors, 結束(&X) and OK enabled; in any case the
// main window's write button back.
void ShowWriteEnd(PostedDialog& dialog, bool confirmed, bool test_write, std::uint32_t count);

// The line a test write ends with.
inline constexpr const char* kTestWriteLine =
    "Test write: the drive simulated the write and recorded nothing; the disc is as it was.";

}  // namespace zorvane
