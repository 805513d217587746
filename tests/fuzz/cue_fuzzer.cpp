// Cue sheets of any text through libcue and the session-at-once layout, with the files they
// name looked up in a fake table (their sizes follow from their names), as the writer does
// before it asks the drive anything. Whatever the sheet says, a layout that is accepted must
// be one a drive takes: whole 8-byte entries within 4,096 bytes, ranges that follow each
// other from LBA -150 to the lead-out, and file ranges inside their files; a refusal must
// say why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "write/cue_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zorvane;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const CueFileLookup lookup = [](const std::string& path, bool wave, CueFileInfo* info,
                                  std::string* problem) {
    if (path.size() % 7 == 0) {
      *problem = path + ": No such file or directory";
      return false;
    }
    // Sizes of a few hundred blocks that differ by name, some not whole blocks.
    std::uint64_t hash = 1469598103934665603ULL;
    for (const char c : path) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    info->wave = wave;
    info->offset = wave ? 44 : 0;
    info->bytes = 2352 * (hash % 2000) + (hash >> 40) % 3 * 1024;
    return true;
  };
  CueImage image;
  std::string problem;
  if (!ParseCueImage(text, "/d", lookup, &image, &problem)) {
    if (problem.empty()) std::abort();
    return 0;
  }
  for (const bool cdtext : {false, true}) {
    SaoSession session;
    if (!BuildSaoSession(image.tracks, image.catalogue, cdtext, &session, &problem)) {
      if (problem.empty()) std::abort();
      continue;
    }
    if (session.sheet.empty() || session.sheet.size() % 8 != 0 ||
        session.sheet.size() > kSaoSheetLimit) {
      std::abort();
    }
    std::int64_t lba = kSaoFirstBlock;
    for (const SaoSource& source : session.sources) {
      if (source.start != lba || source.blocks == 0 ||
          source.bytes > std::uint64_t{source.blocks} * source.block_size) {
        std::abort();
      }
      if (source.file >= 0) {
        const CueFileInfo& info = image.infos.at(static_cast<std::size_t>(source.file));
        if (source.offset < info.offset ||
            source.offset + source.bytes > info.offset + info.bytes) {
          std::abort();
        }
      }
      lba += source.blocks;
    }
    if (lba != session.leadout) std::abort();
  }
  if (!image.text.Empty()) {
    std::vector<std::uint8_t> packs;
    if (!EncodeAlbumText(image.text, &packs, &problem) && problem.empty()) std::abort();
  }
  return 0;
}
