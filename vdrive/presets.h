// The media the drive can be started with, built from a spec's preset and keys.
#pragma once

#include <string>

#include "vdrive/medium.h"
#include "vdrive/spec.h"

namespace zorvane::vdrive {

// Builds the medium of the device spec string's preset with its keys applied (image, ATIP times,
// maker, size). `tray_open` is set for the preset that starts with the tray open. Returns false and
// the reason when a key does not apply to the preset or the image cannot be read.
bool BuildMedium(const DriveSpec& spec, Medium* medium, bool* tray_open, std::string* error);

// Opens the image file of a pressed medium into `content`.
bool OpenImage(const std::string& path, Content* content, std::string* error);

// Sizes of the presets, in blocks.
inline constexpr std::int32_t kCdromBlocks = 333000;  // 650.39 MB of Mode 1 data
inline constexpr std::int32_t kDvdromBlocks = 2298496;
inline constexpr std::int32_t kDvdMinusRBlocks = 2298496;
inline constexpr std::int32_t kDvdMinusRDlBlocks = 4171712;
inline constexpr std::int32_t kDvdMinusRwBlocks = 2297888;
inline constexpr std::int32_t kDvdRamBlocks = 2236704;
inline constexpr std::int32_t kDvdPlusRBlocks = 2295104;
inline constexpr std::int32_t kDvdPlusRDlBlocks = 4173824;
inline constexpr std::int32_t kDvdPlusRwBlocks = 2295104;
inline constexpr std::int32_t kBdromBlocks = 12219392;    // 25 GB single layer
inline constexpr std::int32_t kHdDvdromBlocks = 7341440;  // 15 GB single layer

}  // namespace zorvane::vdrive
