// The layouts of the two read dialogs. Both hold the same controls; the DVD dialog leaves
// more room for its speeds, which it shows in DVD and CD multiples.
#include <array>

#include "read/read_dialog.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr const char* kDialogFont = "細明體";

// `speed` is the width of a speed figure: 30 dialog units on the CD dialog, 52 on the DVD.
constexpr std::array<ControlTemplate, 27> ReadControls(int speed) {
  const int right = 210 + 2 * speed;  // right edge of the controls
  return {{
      {kTrackChoice, K::kComboList, "", 8, 8, right - 8, 80, kStyleVScroll},
      {kNoId, K::kStatic, "讀取從第", 8, 28, 34, 10, kStyleNone},
      {kReadFirstSector, K::kEdit, "", 44, 26, 40, 13, kStyleNone},
      {kNoId, K::kStatic, "個碟區，至第", 88, 28, 50, 10, kStyleNone},
      {kReadLastSector, K::kEdit, "", 140, 26, 40, 13, kStyleNone},
      {kNoId, K::kStatic, "個碟區", 184, 28, 26, 10, kStyleNone},
      {kNoId, K::kStatic, "Mode :", 214, 28, 24, 10, kStyleNone},
      {kReadMode, K::kStatic, "", 240, 28, 24, 10, kStyleNone},
      {kNoId, K::kStatic, "儲存至", 8, 47, 26, 10, kStyleNone},
      {kReadPath, K::kEdit, "", 36, 45, right - 36 - 48, 13, kStyleNone},
      {kReadBrowse, K::kButton, "瀏覽(&B)", right - 44, 44, 44, 15, kStyleNone},
      {kReadMedium, K::kStatic, "", 8, 66, right - 8, 10, kStyleNone},
      {kNoId, K::kStatic, "已讀至第", 8, 84, 34, 10, kStyleNone},
      {kSectorReached, K::kStatic, "0", 44, 84, 40, 10, kStyleNone},
      {kNoId, K::kStatic, "個碟區", 86, 84, 26, 10, kStyleNone},
      {kNoId, K::kStatic, "現讀速為", 8, 98, 34, 10, kStyleNone},
      {kCurrentSpeed, K::kStatic, "0", 44, 98, speed, 10, kStyleNone},
      {kNoId, K::kStatic, "倍速，計時", 46 + speed, 98, 42, 10, kStyleNone},
      {kElapsedTime, K::kStatic, "00:00", 90 + speed, 98, 30, 10, kStyleNone},
      {kNoId, K::kStatic, "最高曾為", 8, 112, 34, 10, kStyleNone},
      {kHighestSpeed, K::kStatic, "0", 44, 112, speed, 10, kStyleNone},
      {kNoId, K::kStatic, "倍速，平均為", 46 + speed, 112, 50, 10, kStyleNone},
      {kAverageSpeed, K::kStatic, "0", 98 + speed, 112, speed, 10, kStyleNone},
      {kNoId, K::kStatic, "倍速", 100 + 2 * speed, 112, 20, 10, kStyleNone},
      {kReadProgress, K::kProgressBar, "", 8, 128, right - 8, 10, kStyleNone},
      {kOkButton, K::kButton, "確定(&O)", right - 104, 146, 50, 15, kStyleDefault},
      {kCancelButton, K::kButton, "取消(&C)", right - 50, 146, 50, 15, kStyleNone},
  }};
}

constexpr std::array<ControlTemplate, 27> kCdReadControls = ReadControls(30);
constexpr std::array<ControlTemplate, 27> kDvdReadControls = ReadControls(52);

constexpr int WidthOf(int speed) {
  return 218 + 2 * speed;
}

}  // namespace

void SetTemplateCaptions(Dialog& dialog, const DialogTemplate& form) {
  for (const ControlTemplate& control : form.controls) {
    if (control.id != kNoId && control.kind != K::kComboList) {
      dialog.SetText(control.id, control.caption);
    }
  }
}

const DialogTemplate& CdReadTemplate() {
  static const DialogTemplate form{kCdReadDialog, "讀取", WidthOf(30),    168,
                                   kDialogFont,   9,      kCdReadControls};
  return form;
}

const DialogTemplate& DvdReadTemplate() {
  static const DialogTemplate form{kDvdReadDialog, "讀取", WidthOf(52),     168,
                                   kDialogFont,    9,      kDvdReadControls};
  return form;
}

}  // namespace zorvane
