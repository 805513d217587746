#include "base/templates.h"

#include <array>

namespace zorvane {

namespace {

using K = ControlKind;

constexpr const char* kDialogFont = "細明體";

constexpr std::array<ControlTemplate, 32> kMainControls{{
    {kCommandFrame, K::kGroupBox, "指令訊息", 8, 9, 327, 94, kStyleNone},
    {kCommandPane, K::kMultiLineEdit, "", 15, 21, 313, 64, kStyleReadOnly | kStyleVScroll},
    {kClearCommandPane, K::kCheckBox, "執行前清除", 259, 87, 61, 14, kStyleNone},
    {kInfoFrame, K::kGroupBox, "設備資訊", 7, 106, 328, 188, kStyleNone},
    {kInfoPane, K::kMultiLineEdit, "", 15, 118, 314, 157,
     kStyleReadOnly | kStyleVScroll | kStyleKeepSelection},
    {kClearInfoPane, K::kCheckBox, "執行前清除", 257, 277, 62, 15, kStyleNone},
    {kNoId, K::kGroupBox, "指令", 7, 300, 327, 81, kStyleNone},
    {kNoId, K::kGroupBox, "指令區", 15, 310, 260, 31, kStyleNone},
    {kCdbInput, K::kComboEdit, "", 23, 323, 244, 61, kStyleVScroll},
    {kNoId, K::kGroupBox, "資料區", 15, 342, 260, 31, kStyleNone},
    {kDataInput, K::kEdit, "", 23, 354, 242, 13, kStyleNone},
    {kExecuteButton, K::kButton, "執行(&G)", 282, 312, 41, 14, kStyleNone},
    {kCommandListButton, K::kButton, "指令表(&I)", 282, 334, 41, 14, kStyleNone},
    {kClearCommandArea, K::kButton, "清除(&E)", 282, 356, 41, 14, kStyleNone},
    {kDeviceLabel, K::kStatic, "選擇光碟設備", 345, 16, 96, 10, kStyleNone},
    {kDeviceList, K::kComboList, "", 345, 28, 117, 70, kStyleVScroll},
    {kCapabilitiesButton, K::kButton, "設備能力(&F)", 346, 60, 54, 15, kStyleNone},
    {kCloseTrayButton, K::kButton, "關門(&C)", 346, 84, 54, 15, kStyleNone},
    {kOpenTrayButton, K::kButton, "開門(&O)", 409, 84, 54, 15, kStyleNone},
    {kManufacturerButton, K::kButton, "製造資訊(&M)", 346, 118, 54, 15, kStyleNone},
    {kCapacityButton, K::kButton, "光碟容量(&P)", 409, 118, 54, 15, kStyleNone},
    {kTableOfContentsButton, K::kButton, "碟軌目錄(&D)", 346, 142, 54, 15, kStyleNone},
    {kC2Button, K::kButton, "C2檢測(&2)", 409, 142, 54, 15, kStyleHidden | kStyleDisabled},
    {kReadButton, K::kButton, "讀取光碟(&R)", 346, 166, 54, 15, kStyleNone},
    {kCloseSessionButton, K::kButton, "關閉節區(&S)", 409, 166, 54, 15, kStyleNone},
    {kWriteButton, K::kButton, "寫入光碟(&W)", 346, 190, 54, 15, kStyleNone},
    {kEraseButton, K::kButton, "抹除光碟(&E)", 409, 190, 54, 15, kStyleNone},
    {kAddressWriteButton, K::kButton, "指定寫入(&B)", 346, 214, 54, 15, kStyleNone},
    {kFormatButton, K::kButton, "格式化(&F)", 409, 214, 54, 15, kStyleNone},
    // The PIE/PIF and BLER scan, below the job buttons; it stops a running scan.
    {kQualityScanCommand, K::kButton, "品質檢測(&Q)", 346, 238, 54, 15, kStyleNone},
    {kIsoImageButton, K::kButton, "ISO影像檔(&I)", 371, 321, 54, 15, kStyleNone},
    {kExitButton, K::kButton, "結束(&X)", 409, 360, 54, 15, kStyleNone},
}};

constexpr std::array<ControlTemplate, 2> kCommandSetControls{{
    {kCommandSetList, K::kListBox, "", 7, 7, 418, 217, kStyleSorted | kStyleVScroll},
    {kCommandSetExit, K::kButton, "結束(&X)", 373, 231, 50, 14, kStyleNone},
}};

}  // namespace

const DialogTemplate& MainWindowTemplate() {
  static const DialogTemplate main_window{0, "Zorvane  -   ", 474, 390, kDialogFont,
                                          9, kMainControls};
  return main_window;
}

const DialogTemplate& CommandSetTemplate() {
  static const DialogTemplate command_set{
      kCommandSetDialog, "Command Set", 434, 252, kDialogFont, 9, kCommandSetControls};
  return command_set;
}

}  // namespace zorvane
