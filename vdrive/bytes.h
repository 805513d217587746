// Big-endian fields, CD time codes and the 24-bit sense codes the drive answers with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorvane::vdrive {

inline void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}
inline void Put24(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 16);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value);
}
inline void Put32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}
inline std::uint32_t Get16(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 8 | at[1];
}
inline std::uint32_t Get24(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 16 | static_cast<std::uint32_t>(at[1]) << 8 | at[2];
}
inline std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

// Appends big-endian fields to an answer under construction.
inline void Append8(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
}
inline void Append16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}
inline void Append32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Append16(out, value >> 16);
  Append16(out, value);
}

// A CD address as minute, second and frame (75 frames a second). LBA 0 is 00:02:00; times
// from 90:00:00 on stand for the lead-in, before 00:00:00.
struct Msf {
  int minute = 0;
  int second = 0;
  int frame = 0;
  friend bool operator==(const Msf&, const Msf&) = default;
};

inline constexpr std::int32_t kFramesPerSecond = 75;
inline constexpr std::int32_t kPregapFrames = 150;

inline Msf LbaToMsf(std::int32_t lba) {
  std::int32_t frames = lba + kPregapFrames;
  if (frames < 0) frames += 100 * 60 * kFramesPerSecond;  // lead-in times count from 99:59:74 down
  return Msf{frames / (60 * kFramesPerSecond), frames / kFramesPerSecond % 60,
             frames % kFramesPerSecond};
}

// The addresses a CD time can stand for: 00:00:00 to 89:59:74 (LBA -150 to 404,849) and the
// lead-in times 90:00:00 to 99:59:74 (LBA -45,150 to -151). Others have no MSF form.
inline constexpr std::int32_t kFirstMsfLba = -45150;
inline constexpr std::int32_t kLastMsfLba = 404849;
inline bool MsfExpresses(std::int64_t lba) {
  return lba >= kFirstMsfLba && lba <= kLastMsfLba;
}

inline std::int32_t MsfToLba(const Msf& msf) {
  const std::int32_t frames = (msf.minute * 60 + msf.second) * kFramesPerSecond + msf.frame;
  // Lead-in times (90 minutes and more) are negative addresses.
  if (msf.minute >= 90) return frames - 100 * 60 * kFramesPerSecond - kPregapFrames;
  return frames - kPregapFrames;
}

inline std::uint8_t ToBcd(int value) {
  return static_cast<std::uint8_t>((value / 10) << 4 | (value % 10));
}

// Sense codes: sense key << 16 | ASC << 8 | ASCQ.
using Sense = std::uint32_t;
inline constexpr Sense kGood = 0;
inline constexpr Sense kBecomingReady = 0x020401;
inline constexpr Sense kNoMediumTrayClosed = 0x023A01;
inline constexpr Sense kNoMediumTrayOpen = 0x023A02;
inline constexpr Sense kMediumChanged = 0x062800;
inline constexpr Sense kPowerOnOccurred = 0x062901;
inline constexpr Sense kDeviceResetOccurred = 0x062903;  // bus device reset function
inline constexpr Sense kNexusLossOccurred = 0x062907;
inline constexpr Sense kInvalidOpcode = 0x052000;
inline constexpr Sense kInvalidField = 0x052400;
inline constexpr Sense kInvalidFieldInParameters = 0x052600;
inline constexpr Sense kParameterLengthError = 0x051A00;
inline constexpr Sense kLbaOutOfRange = 0x052100;
inline constexpr Sense kIllegalModeForTrack = 0x056400;
inline constexpr Sense kSavingNotSupported = 0x053900;
inline constexpr Sense kRemovalPrevented = 0x055302;
inline constexpr Sense kCommandSequenceError = 0x052C00;
inline constexpr Sense kIncompatibleFormat = 0x053002;
inline constexpr Sense kIncompatibleMedium = 0x053000;
inline constexpr Sense kFormatInProgress = 0x020404;
inline constexpr Sense kOperationInProgress = 0x020407;
inline constexpr Sense kLongWriteInProgress = 0x020408;
inline constexpr Sense kWriteError = 0x030C00;
inline constexpr Sense kInvalidAddressForWrite = 0x052102;
inline constexpr Sense kCannotWriteUnknownFormat = 0x053004;
inline constexpr Sense kCannotWriteIncompatible = 0x053005;
inline constexpr Sense kCannotFormatIncompatible = 0x053006;
inline constexpr Sense kEmptyReservedTrack = 0x057204;
inline constexpr Sense kNoMoreReservations = 0x057205;
inline constexpr Sense kMiscompare = 0x0E1D00;

// Not a sense: the data phase does not fit the host's buffer (the drive would send more
// than the buffer holds, or needs more than the host sends). The host adapter fails such a
// request, so it ends as a failure of the transport, without status or sense.
inline constexpr Sense kHostOverrun = 0x1000000;

}  // namespace zorvane::vdrive
