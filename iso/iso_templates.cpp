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
    {kNoId, K::kGroupBox, "日期時間(yyyy/mm/dd hh:mm:ss:hs)(Bias)", 190, 51, 263, 44, kStyleNone},
    {kNoId, K::kStatic, "建立", 195, 64, 18, 10, kStyleNone},
    {kCreationDate, K::kEdit, "", 214, 62, 90, 12, kStyleNone},
    {kCreationOffset, K::kEdit, "", 306, 62, 18, 12, kStyleNone},
    {kNoId, K::kStatic, "修改", 328, 64, 18, 10, kStyleNone},
    {kModificationDate, K::kEdit, "", 346, 62, 84, 12, kStyleNone},
    {kModificationOffset, K::kEdit, "", 432, 62, 18, 12, kStyleNone},
    {kNoId, K::kStatic, "期限", 195, 79, 18, 10, kStyleNone},
    {kExpirationDate, K::kEdit, "", 214, 77, 90, 12, kStyleNone},
    {kExpirationOffset, K::kEdit, "", 306, 77, 18, 12, kStyleNone},
    {kNoId, K::kStatic, "生效", 328, 79, 18, 10, kStyleNone},
    {kEffectiveDate, K::kEdit, "", 346, 77, 84, 12, kStyleNone},
    {kEffectiveOffset, K::kEdit, "", 432, 77, 18, 12, kStyleNone},
    {kNoId, K::kStatic, "儲存至", 192, 100, 30, 10, kStyleNone},
    {kOutputPath, K::kEdit, "", 224, 98, 184, 12, kStyleNone},
    {kBrowseButton, K::kButton, "瀏覽(&B)", 412, 97, 41, 14, kStyleNone},
    {kNoId, K::kStatic, "檔案來源", 7, 114, 60, 10, kStyleNone},
    {kSourceList, K::kListView, "檔案來源", 7, 125, 446, 108, kStyleNone},
    {kNoId, K::kStatic, "共", 7, 239, 10, 10, kStyleNone},
    {kTotalSize, K::kStatic, "", 18, 239, 110, 10, kStyleNone},
    {kTotalFolders, K::kStatic, "", 130, 239, 30, 10, kStyleNone},
    {kNoId, K::kStatic, "個資料夾", 161, 239, 36, 10, kStyleNone},
    {kTotalFiles, K::kStatic, "", 199, 239, 36, 10, kStyleNone},
    {kNoId, K::kStatic, "個檔案", 236, 239, 30, 10, kStyleNone},
    {kDropProgress, K::kProgressBar, "", 270, 239, 130, 9, kStyleNone},
    {kClearAllButton, K::kButton, "全清除(&A)", 405, 236, 48, 14, kStyleNone},
    {kVolumeLog, K::kMultiLineEdit, "", 7, 255, 446, 82, kStyleReadOnly | kStyleVScroll},
    {kOkButton, K::kButton, "確定(&O)", 345, 343, 50, 14, kStyleDefault},
    {kCancelButton, K::kButton, "取消(&C)", 403, 343, 50, 14, kStyleNone},
};

}  // namespace

const DialogTemplate& VolumeInfoTemplate() {
  static const DialogTemplate dialog{
      kIsoImageDialog, "券冊資訊(Volume Info)", 460, 362, "細明體", 9, kVolumeControls};
  return dialog;
}

}  // namespace zorvane
