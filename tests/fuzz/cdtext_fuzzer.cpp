// CD-TEXT packs with any bytes, as READ TOC format 5 or a lead-in may give them: decoding
// never fails without saying why, and what it decodes, once encoded again, decodes to the
// same texts; the encoded packs travel through lead-in sub-channel blocks into the virtual
// drive and come back whole.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/cdtext.h"
#include "vdrive/cd_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zorvane;
  CdText text;
  int bad = -1;
  std::string problem;
  const bool decoded = DecodeCdText(data, size, &text, &bad, &problem);
  if (bad < 0 || static_cast<std::size_t>(bad) > size / kCdTextPackSize) std::abort();
  if (!decoded) {
    if (problem.empty()) std::abort();
    return 0;
  }
  // Every per-track list covers the same tracks, within 1..99.
  const int tracks = text.TrackCount();
  for (const auto* kind : {&text.title, &text.performer, &text.songwriter, &text.composer,
                           &text.arranger, &text.message, &text.code}) {
    if (!kind->empty() && static_cast<int>(kind->size()) != tracks + 1) std::abort();
  }
  if (text.first_track < 1 || text.first_track + std::max(tracks, 1) - 1 > 99) std::abort();

  std::vector<std::uint8_t> packs;
  problem.clear();
  if (!EncodeCdText(text, &packs, &problem)) {
    if (problem.empty()) std::abort();
    return 0;
  }
  if (packs.empty() || packs.size() % kCdTextPackSize != 0 ||
      packs.size() > kCdTextMaxPacks * kCdTextPackSize) {
    std::abort();
  }
  CdText again;
  if (!DecodeCdText(packs.data(), packs.size(), &again, &bad, &problem) || bad != 0 ||
      !(again == text)) {
    std::abort();
  }
  const std::size_t count = packs.size() / kCdTextPackSize;
  const std::vector<std::uint8_t> blocks = CdTextLeadInBlocks(packs, 0, (count + 3) / 4 + 1);
  vdrive::CdTextCollector collector;
  for (std::size_t at = 0; at < blocks.size(); at += kCdTextLeadInBlockSize) {
    collector.AddLeadinBlock(blocks.data() + at);
  }
  if (collector.bad() != 0 || collector.Packs() != packs) std::abort();
  return 0;
}
