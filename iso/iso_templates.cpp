// The volume-information dialog's layout.
#include "iso/volume_dialog.h"

namespace zorvane {

namespace {

using K = ControlKind;

constexpr ControlTemplate kVolumeControls[] = {
    {kNoId, K::kStatic, "券冊名稱", 7, 9, 48, 10, kStyleNone},
    {kVolumeName, K::kEdit, "", 58, 7, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "系統名稱", 7, 24, 48, 10, kStyleNone},
    {kSystemName, K::kEdit, "", 58, 22, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "券冊集名稱", 7, 39, 48, 10, kStyleNone},
    {kVolumeSetName, K::kEdit, "", 58, 37, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "券冊光碟數", 7, 54, 48, 10, kStyleNone},
    {kVolumeSetSize, K::kEdit, "", 58, 52, 30, 12, kStyleNone},
    {kNoId, K::kStatic, "光碟次序碼", 100, 54, 48, 10, kStyleNone},
    {kSequenceNumber, K::kEdit, "", 152, 52, 30, 12, kStyleNone},
    {kNoId, K::kStatic, "版權檔名稱", 7, 69, 48, 10, kStyleNone},
    {kCopyrightFile, K::kEdit, "", 58, 67, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "摘要檔名稱", 7, 84, 48, 10, kStyleNone},
    {kAbstractFile, K::kEdit, "", 58, 82, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "ISBN檔名稱", 7, 99, 48, 10, kStyleNone},
    {kBibliographicFile, K::kEdit, "", 58, 97, 124, 12, kStyleNone},
    {kNoId, K::kStatic, "發行人", 192, 9, 44, 10, kStyleNone},
    {kPublisher, K::kEdit, "", 240, 7, 213, 12, kStyleNone},
    {kNoId, K::kStatic, "資料處理者", 192, 24, 44, 10, kStyleNone},
    {kDataPreparer, K::kEdit, "", 240, 22, 213, 12, kStyleNone},
    {kNoId, K::kStatic, "處理程式", 192, 39, 44, 10, kStyleNone},
    {kApplication, K::kEdit, "", 240, 37, 213, 12, kStyleNone},
    {kNoId, K::kGroupBox, "日期時間(yyyy/mm/dd hh:mm:ss:hs)(Bias)", 190, 51, 263, 74, kStyleNone},
    {kNoId, K::kStatic, "建立", 198, 64, 20, 10, kStyleNone},
    {kCreationDate, K::kEdit, "", 222, 62, 120, 12, kStyleNone},
    {kCreationOffset, K::kEdit, "", 346, 62, 24, 12, kStyleNone},
    {kNoId, K::kStatic, "修改", 198, 79, 20, 10, kStyleNone},
    {kModificationDate, K::kEdit, "", 222, 77, 120, 12, kStyleNone},
    {kModificationOffset, K::kEdit, "", 346, 77, 24, 12, kStyleNone},
    {kNoId, K::kStatic, "期限", 198, 94, 20, 10, kStyleNone},
    {kExpirationDate, K::kEdit, "", 222, 92, 120, 12, kStyleNone},
    {kExpirationOffset, K::kEdit, "", 346, 92, 24, 12, kStyleNone},
    {kNoId, K::kStatic, "生效", 198, 109, 20, 10, kStyleNone},
    {kEffectiveDate, K::kEdit, "", 222, 107, 120, 12, kStyleNone},
    {kEffectiveOffset, K::kEdit, "", 346, 107, 24, 12, kStyleNone},
    {kNoId, K::kStatic, "儲存至", 7, 133, 30, 10, kStyleNone},
    {kOutputPath, K::kEdit, "", 40, 131, 368, 12, kStyleNone},
    {kBrowseButton, K::kButton, "瀏覽(&B)", 412, 130, 41, 14, kStyleNone},
    {kNoId, K::kStatic, "檔案來源", 7, 149, 60, 10, kStyleNone},
    {kSourceList, K::kListView, "檔案來源", 7, 160, 446, 100, kStyleNone},
    {kNoId, K::kStatic, "共", 7, 269, 10, 10, kStyleNone},
    {kTotalSize, K::kStatic, "", 18, 269, 110, 10, kStyleNone},
    {kTotalFolders, K::kStatic, "", 130, 269, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "個資料夾", 161, 269, 36, 10, kStyleNone},
    {kTotalFiles, K::kStatic, "", 199, 269, 36, 10, kStyleNone},
    {kNoId, K::kStatic, "個檔案", 236, 269, 30, 10, kStyleNone},
    {kDropProgress, K::kProgressBar, "", 270, 269, 130, 9, kStyleNone},
    {kClearAllButton, K::kButton, "全清除(&A)", 405, 266, 48, 14, kStyleNone},
    {kVolumeLog, K::kMultiLineEdit, "", 7, 285, 446, 82, kStyleReadOnly | kStyleVScroll},
    {kOkButton, K::kButton, "確定(&O)", 345, 373, 50, 14, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 403, 373, 50, 14, kStyleNone},
};

}  // namespace

const DialogTemplate& VolumeInfoTemplate() {
  static const DialogTemplate dialog{
      kIsoImageDialog, "券冊資訊(Volume Info)", 460, 392, "細明體", 9, kVolumeControls};
  return dialog;
}

}  // namespace zorvane
