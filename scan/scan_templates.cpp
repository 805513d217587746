// The C2 scan dialog's layout: two lines of figures between their words, and 結束(&X).
// The figures end in a line end; their statics draw from the top, one line high, so each
// figure stands level with its words and clears the row below.
#include <array>

#include "scan/c2_dialog.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr std::array<ControlTemplate, 12> kC2Controls{{
    {kNoId, K::kGroupBox, "", 4, 2, 206, 42, kStyleNone},
    {kNoId, K::kStatic, "檢測第", 10, 12, 26, 10, kStyleNone},
    {kC2SectorReached, K::kStatic, "     0", 38, 12, 34, 10, kStyleNone},
    {kNoId, K::kStatic, "/", 74, 12, 6, 10, kStyleNone},
    {kC2LastSector, K::kStatic, "     0", 82, 12, 34, 10, kStyleNone},
    {kNoId, K::kStatic, "個碟區", 118, 12, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "目前共", 10, 30, 26, 10, kStyleNone},
    {kC2ErrorSectors, K::kStatic, "     0", 38, 30, 34, 10, kStyleNone},
    {kNoId, K::kStatic, "個碟區存在C2失敗共", 74, 30, 78, 10, kStyleNone},
    {kC2ErrorFlags, K::kStatic, "      0", 154, 30, 38, 10, kStyleNone},
    {kNoId, K::kStatic, "個", 194, 30, 10, 10, kStyleNone},
    {kC2ExitButton, K::kButton, "結束(&X)", 82, 52, 50, 14, kStyleDefault},
}};

}  // namespace

const DialogTemplate& C2ScanTemplate() {
  static const DialogTemplate c2_scan{kC2ScanDialog, "C2檢測", 214, 74, "細明體", 9, kC2Controls};
  return c2_scan;
}

}  // namespace zorvane
