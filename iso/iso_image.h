// An ISO 9660 image of the listed sources, with Joliet names (long and non-Latin names for
// Windows) and Rock Ridge (permissions, symbolic links, long names for Unix). The
// primary volume descriptor carries the volume dialog's fields.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transport/console.h"

namespace zorvane {

// The volume dialog's fields as typed.
struct VolumeFields {
  std::string volume;              // 1056
  std::string system;              // 1055
  std::string volume_set;          // 1058
  std::string set_size;            // 1060
  std::string sequence;            // 1063
  std::string copyright_file;      // 1066
  std::string abstract_file;       // 1068
  std::string bibliographic_file;  // 1070
  std::string publisher;           // 1073
  std::string preparer;            // 1076
  std::string application;         // 1079
  // Creation, modification, expiration and effective: "yyyy/mm/dd hh:mm:ss:hs" and the
  // offset in 15-minute units east of UTC.
  std::array<std::string, 4> dates;
  std::array<std::string, 4> offsets;
};

// A descriptor date in its 17-byte form: 16 digits (hundredths "00") and the offset byte
// (from the offset text when it is a number in -48..52, else 0). A date that does not read
// as one gives 16 '0' digits and offset 0 ("not specified").
std::array<std::uint8_t, 17> DescriptorDate(const std::string& date, const std::string& offset);

// The volume set size and sequence number: an unsigned decimal 1..65535, anything else 1.
std::uint16_t SetNumber(const std::string& text);

// Writes the dialog's fields into a primary or supplementary volume descriptor sector
// (identifiers into the primary one only; numbers and dates into both).
void PatchVolumeDescriptor(const VolumeFields& fields, std::uint8_t* sector);

// The first field longer than the primary descriptor holds, as "the volume name is 57
// characters long; it holds at most 31" (a character outside 7-bit text counts as one, as
// it takes one place there). Empty when every field fits.
std::string FieldTooLong(const VolumeFields& fields);

// The first field with characters the primary descriptor cannot hold (they become '_'
// there while the Joliet descriptor keeps them), as a sentence; empty when there is none.
std::string PrimaryDescriptorNote(const VolumeFields& fields);

struct ImageResult {
  bool ok = false;
  bool stopped = false;
  std::uint64_t bytes = 0;
  std::string error;  // why it failed
};

// Builds the image of `sources` (each a file or a folder, placed at the image's root under
// its own name) at `output`. Progress lines go to `log`; `run` is checked before every
// chunk. An output that is a source or lies inside one, or a field too long, is refused
// before anything is opened. The image is written beside `output` under a temporary name
// and renamed over it when whole: a failed or stopped build leaves an existing file as it
// was and nothing behind.
ImageResult BuildIsoImage(const VolumeFields& fields, const std::vector<std::string>& sources,
                          const std::string& output, Console* log, const std::atomic<bool>& run);

}  // namespace zorvane
