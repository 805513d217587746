// The fixed command blocks the window and the reports send (allocation length 255 where
// the command has one).
#pragma once

#include <cstdint>

namespace zorvane::cdb {

inline constexpr std::uint8_t kTestUnitReady[6] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
inline constexpr std::uint8_t kModeSenseCapabilities[10] = {0x5A, 0x00, 0x2A, 0x00, 0x00,
                                                            0x00, 0x00, 0x00, 0xFF, 0x00};
inline constexpr std::uint8_t kGetCurrentProfile[10] = {0x46, 0x02, 0x00, 0x00, 0x00,
                                                        0x00, 0x00, 0x00, 0xFF, 0x00};
inline constexpr std::uint8_t kGetMrwFeature[10] = {0x46, 0x02, 0x00, 0x28, 0x00,
                                                    0x00, 0x00, 0x00, 0xFF, 0x00};
inline constexpr std::uint8_t kReadCapacity[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
inline constexpr std::uint8_t kReadAtip[10] = {0x43, 0x02, 0x04, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0xFF, 0x00};
// The raw TOC and the PMA are asked for with MSF set: their times are decoded as
// minute/second/frame, and a drive that follows the MSF bit (QEMU's does) would otherwise
// put block addresses in those fields.
// The raw TOC and the PMA carry their format twice: in byte 2, where MMC reads it, and in
// bits 7-6 of byte 9, where ATAPI drives of the older SFF-8020i command set (and QEMU's
// ATAPI drive) read it; MMC drives take those bits as vendor bits and ignore them. With
// byte 9 zero such a drive answers the formatted TOC instead.
inline constexpr std::uint8_t kReadRawToc[10] = {0x43, 0x02, 0x02, 0x00, 0x00,
                                                 0x00, 0x00, 0x00, 0xFF, 0x80};
inline constexpr std::uint8_t kReadPma[10] = {0x43, 0x02, 0x03, 0x00, 0x00,
                                              0x00, 0x00, 0x00, 0xFF, 0xC0};
inline constexpr std::uint8_t kReadDiscInformation[10] = {0x51, 0x00, 0x00, 0x00, 0x00,
                                                          0x00, 0x00, 0x00, 0xFF, 0x00};
// Polled media events (the media class only), allocation length 8.
inline constexpr std::uint8_t kMediaEventStatus[10] = {0x4A, 0x01, 0x00, 0x00, 0x10,
                                                       0x00, 0x00, 0x00, 0x08, 0x00};
inline constexpr std::uint8_t kReadTrackInformation[10] = {0x52, 0x00, 0x00, 0x00, 0x00,
                                                           0x00, 0x00, 0x00, 0xFF, 0x00};

}  // namespace zorvane::cdb
