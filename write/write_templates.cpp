// The layouts of the write dialogs.
#include "write/write_dialog.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr const char* kDialogFont = "細明體";

// Controls both templates share, then each template's own.
constexpr ControlTemplate kCdControls[] = {
    {kFileNameLabel, K::kStatic, "檔案名稱", 7, 9, 36, 10, kStyleNone},
    {kImagePath, K::kEdit, "", 45, 7, 160, 13, kStyleNone},
    {kBrowseImage, K::kButton, "瀏覽(&B)", 210, 6, 44, 15, kStyleNone},
    {kImageSize, K::kStatic, "0 MB", 45, 24, 60, 10, kStyleNone},
    {kCdProfileName, K::kStatic, "", 110, 24, 144, 10, kStyleNone},
    {kFileMessage, K::kStatic, "", 7, 36, 247, 10, kStyleNone},
    {kSpeedLabel, K::kStatic, "寫入速率", 7, 52, 36, 10, kStyleNone},
    {kSpeedCombo, K::kComboList, "", 45, 50, 110, 90, kStyleVScroll},
    {kAudioCdButton, K::kButton, "音樂光碟", 200, 49, 54, 15, kStyleNone},
    {kNoId, K::kGroupBox, "寫入方式", 7, 66, 247, 42, kStyleNone},
    {kTrackAtOnce, K::kRadioButton, "一次一碟軌", 15, 78, 60, 10, kStyleGroup},
    {kSessionAtOnce, K::kRadioButton, "一次一節區", 85, 78, 60, 10, kStyleDisabled},
    {kKeepSessionOpen, K::kRadioButton, "不關節區", 15, 92, 60, 10, kStyleGroup},
    {kCloseSessionOption, K::kRadioButton, "關閉節區", 85, 92, 60, 10, kStyleNone},
    {kMultiSession, K::kCheckBox, "多節區", 160, 92, 60, 10, kStyleGroup},
    {kTestWrite, K::kCheckBox, "模擬寫入", 160, 78, 60, 10, kStyleNone},
    {kVerifyAfterWrite, K::kCheckBox, "寫入後驗證", 160, 116, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "已寫入", 7, 116, 36, 10, kStyleNone},
    {kSectorCount, K::kStatic, "0", 45, 116, 110, 10, kStyleNone},
    {kWriteGauge, K::kProgressBar, "", 7, 128, 247, 10, kStyleNone},
    {kNoId, K::kStatic, "暫存", 7, 143, 20, 10, kStyleNone},
    {kBufferGauge, K::kProgressBar, "", 30, 143, 224, 8, kStyleNone},
    {kNoId, K::kStatic, "現寫速為", 7, 158, 34, 10, kStyleNone},
    {kCurrentSpeed, K::kStatic, "0", 42, 158, 36, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，計時", 80, 158, 40, 10, kStyleNone},
    {kElapsedTime, K::kStatic, "00:00", 122, 158, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "最高曾為", 7, 172, 34, 10, kStyleNone},
    {kHighestSpeed, K::kStatic, "0", 42, 172, 36, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，平均為", 80, 172, 48, 10, kStyleNone},
    {kAverageSpeed, K::kStatic, "0", 130, 172, 36, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速", 168, 172, 20, 10, kStyleNone},
    {kOkButton, K::kButton, "確定(&O)", 150, 190, 50, 15, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 204, 190, 50, 15, kStyleNone},
};

constexpr ControlTemplate kDvdControls[] = {
    {kFileNameLabel, K::kStatic, "檔案名稱", 7, 9, 36, 10, kStyleNone},
    {kImagePath, K::kEdit, "", 45, 7, 160, 13, kStyleNone},
    {kBrowseImage, K::kButton, "瀏覽(&B)", 210, 6, 44, 15, kStyleNone},
    {kImageSize, K::kStatic, "0 MB", 45, 24, 60, 10, kStyleNone},
    {kDvdProfileName, K::kStatic, "", 110, 24, 144, 10, kStyleNone},
    {kFileMessage, K::kStatic, "", 7, 36, 247, 10, kStyleNone},
    {kSpeedLabel, K::kStatic, "寫入速率", 7, 52, 36, 10, kStyleNone},
    {kSpeedCombo, K::kComboList, "", 45, 50, 110, 90, kStyleVScroll},
    {kNoId, K::kGroupBox, "結束方式", 7, 66, 247, 28, kStyleNone},
    {kCloseTrackOption, K::kRadioButton, "關閉碟軌", 15, 78, 60, 10, kStyleDisabled | kStyleGroup},
    {kCloseSessionDvdOption, K::kRadioButton, "關閉節區", 85, 78, 60, 10, kStyleNone},
    {kCloseDiscOption, K::kRadioButton, "關閉碟片", 155, 78, 60, 10, kStyleNone},
    {kTestWrite, K::kCheckBox, "模擬寫入", 153, 102, 45, 10, kStyleNone},
    {kVerifyAfterWrite, K::kCheckBox, "寫入後驗證", 200, 102, 54, 10, kStyleNone},
    {kNoId, K::kStatic, "已寫入", 7, 102, 36, 10, kStyleNone},
    {kSectorCount, K::kStatic, "0", 45, 102, 105, 10, kStyleNone},
    {kWriteGauge, K::kProgressBar, "", 7, 114, 247, 10, kStyleNone},
    {kNoId, K::kStatic, "暫存", 7, 129, 20, 10, kStyleNone},
    {kBufferGauge, K::kProgressBar, "", 30, 129, 224, 8, kStyleNone},
    {kNoId, K::kStatic, "現寫速為", 7, 144, 34, 10, kStyleNone},
    {kCurrentSpeed, K::kStatic, "0", 42, 144, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，計時", 104, 144, 40, 10, kStyleNone},
    {kElapsedTime, K::kStatic, "00:00", 146, 144, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "最高曾為", 7, 158, 34, 10, kStyleNone},
    {kHighestSpeed, K::kStatic, "0", 42, 158, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，平均為", 104, 158, 48, 10, kStyleNone},
    {kAverageSpeed, K::kStatic, "0", 154, 158, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速", 216, 158, 20, 10, kStyleNone},
    {kOkButton, K::kButton, "確定(&O)", 150, 176, 50, 15, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 204, 176, 50, 15, kStyleNone},
};

// The address-write dialogs: the start sector instead of the track options.
constexpr ControlTemplate kAddressControls[] = {
    {kFileNameLabel, K::kStatic, "檔案名稱", 7, 9, 36, 10, kStyleNone},
    {kImagePath, K::kEdit, "", 45, 7, 160, 13, kStyleNone},
    {kBrowseImage, K::kButton, "瀏覽(&B)", 210, 6, 44, 15, kStyleNone},
    {kImageSize, K::kStatic, "0 KB", 45, 24, 60, 10, kStyleNone},
    {kDvdProfileName, K::kStatic, "", 110, 24, 144, 10, kStyleNone},
    {kFileMessage, K::kStatic, "", 7, 36, 247, 10, kStyleNone},
    {kSpeedLabel, K::kStatic, "寫入速率", 7, 52, 36, 10, kStyleNone},
    {kSpeedCombo, K::kComboList, "", 45, 50, 110, 90, kStyleVScroll},
    {kNoId, K::kStatic, "從第", 7, 72, 20, 10, kStyleNone},
    {kStartSector, K::kEdit, "", 28, 70, 60, 13, kStyleNone},
    {kNoId, K::kStatic, "個碟區開始寫入", 92, 72, 70, 10, kStyleNone},
    {kVerifyAfterWrite, K::kCheckBox, "寫入後驗證", 170, 72, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "已寫入", 7, 92, 36, 10, kStyleNone},
    {kSectorCount, K::kStatic, "0", 45, 92, 110, 10, kStyleNone},
    {kWriteGauge, K::kProgressBar, "", 7, 104, 247, 10, kStyleNone},
    {kNoId, K::kStatic, "暫存", 7, 119, 20, 10, kStyleNone},
    {kBufferGauge, K::kProgressBar, "", 30, 119, 224, 8, kStyleNone},
    {kNoId, K::kStatic, "現寫速為", 7, 134, 34, 10, kStyleNone},
    {kCurrentSpeed, K::kStatic, "0", 42, 134, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，計時", 104, 134, 40, 10, kStyleNone},
    {kElapsedTime, K::kStatic, "00:00", 146, 134, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "最高曾為", 7, 148, 34, 10, kStyleNone},
    {kHighestSpeed, K::kStatic, "0", 42, 148, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速，平均為", 104, 148, 48, 10, kStyleNone},
    {kAverageSpeed, K::kStatic, "0", 154, 148, 60, 10, kStyleNone},
    {kNoId, K::kStatic, "倍速", 216, 148, 20, 10, kStyleNone},
    {kOkButton, K::kButton, "確定(&O)", 150, 166, 50, 15, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 204, 166, 50, 15, kStyleNone},
};

}  // namespace

const DialogTemplate& CdWriteTemplate() {
  static const DialogTemplate form{kCdWriteDialog, "寫入", 262, 212, kDialogFont, 9, kCdControls};
  return form;
}

const DialogTemplate& DvdWriteTemplate() {
  static const DialogTemplate form{kDvdWriteDialog, "寫入", 262, 198, kDialogFont, 9, kDvdControls};
  return form;
}

const DialogTemplate& MrwAddressWriteTemplate() {
  static const DialogTemplate form{kMrwAddressWriteDialog, "指定寫入", 262, 188, kDialogFont, 9,
                                   kAddressControls};
  return form;
}

const DialogTemplate& DvdAddressWriteTemplate() {
  static const DialogTemplate form{kDvdAddressWriteDialog, "指定寫入", 262, 188, kDialogFont, 9,
                                   kAddressControls};
  return form;
}

const DialogTemplate& WriteTemplate(int template_id) {
  switch (template_id) {
    case kCdWriteDialog:
      return CdWriteTemplate();
    case kMrwAddressWriteDialog:
      return MrwAddressWriteTemplate();
    case kDvdAddressWriteDialog:
      return DvdAddressWriteTemplate();
    default:
      return DvdWriteTemplate();
  }
}

void LoadTemplate(Dialog& dialog, const DialogTemplate& form) {
  for (const ControlTemplate& control : form.controls) {
    if (control.id == kNoId) continue;
    if (control.kind != ControlKind::kComboList && control.kind != ControlKind::kComboEdit) {
      dialog.SetText(control.id, control.caption);
    }
    dialog.Enable(control.id, (control.style & kStyleDisabled) == 0);
    dialog.Show(control.id, (control.style & kStyleHidden) == 0);
  }
}

}  // namespace zorvane
