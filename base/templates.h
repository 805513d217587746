// Dialog layouts as data: each control's identifier, kind, caption, style and rectangle
// in dialog units. One builder in the Qt front end turns a template into widgets.
#pragma once

#include <cstdint>
#include <span>

namespace zorvane {

enum class ControlKind {
  kGroupBox,
  kStatic,
  kButton,
  kCheckBox,
  kRadioButton,    // option button: one of an exclusive group (see kStyleGroup)
  kEdit,           // single-line edit
  kMultiLineEdit,  // multi-line, read-only console pane
  kComboEdit,      // combo box with an edit field (drop-down)
  kComboList,      // combo box, drop-down list only
  kListBox,
  kProgressBar,
  kListView,
};

// Style bits beyond the kind.
enum ControlStyle : std::uint32_t {
  kStyleNone = 0,
  kStyleHidden = 1u << 0,
  kStyleDisabled = 1u << 1,
  kStyleReadOnly = 1u << 2,
  kStyleSorted = 1u << 3,
  kStyleVScroll = 1u << 4,
  kStyleKeepSelection = 1u << 5,
  kStyleDefault = 1u << 6,  // the default push button
  // The first control of a group: the option buttons from one control with this style up to
  // the next one form one exclusive group (checking one unchecks the others of that group).
  kStyleGroup = 1u << 7,
};

inline constexpr int kNoId = -1;

struct ControlTemplate {
  int id;  // kNoId for controls nothing refers to (frames)
  ControlKind kind;
  const char* caption;
  int x, y, width, height;  // dialog units
  std::uint32_t style;
};

struct DialogTemplate {
  int id;  // template number (113 ...) or 0 for the main window
  const char* caption;
  int width, height;  // client area, dialog units
  const char* font_family;
  int font_points;
  std::span<const ControlTemplate> controls;
};

const DialogTemplate& MainWindowTemplate();
const DialogTemplate& CommandSetTemplate();

// Control identifiers of the main window.
enum MainControl : int {
  kClearCommandArea = 15,
  kTableOfContentsButton = 16,
  kCapabilitiesButton = 18,
  kManufacturerButton = 26,
  kCapacityButton = 27,
  kExecuteButton = 51,
  kCommandListButton = 52,
  kOpenTrayButton = 53,
  kCloseTrayButton = 55,
  kExitButton = 58,
  kDeviceList = 106,
  kCommandPane = 1000,
  kInfoPane = 1003,
  kCommandFrame = 1005,
  kInfoFrame = 1006,
  kCdbInput = 1009,
  kDeviceLabel = 1010,
  kDataInput = 1011,
  kClearCommandPane = 1013,
  kClearInfoPane = 1014,
  kQualityScanCommand = 1020,  // the quality-scan button (start, and stop while it runs)
  kReadButton = 1021,
  kWriteButton = 1023,
  kAddressWriteButton = 1024,
  kEraseButton = 1025,
  kC2Button = 1027,
  kCloseSessionButton = 1150,
  kFormatButton = 1152,
  kIsoImageButton = 1325,
};

// Dialog templates the main window opens.
enum DialogTemplateId : int {
  kCommandSetDialog = 113,
  kC2ScanDialog = 114,
  kCdReadDialog = 115,
  kDvdReadDialog = 116,
  kCdWriteDialog = 117,
  kDvdWriteDialog = 118,
  kEraseDialog = 119,
  kMrwAddressWriteDialog = 120,
  kIsoImageDialog = 121,
  kDvdAddressWriteDialog = 122,
};

// Control identifiers of the command list dialog.
enum CommandSetControl : int {
  kCommandSetList = 1015,
  kCommandSetExit = 58,
};

}  // namespace zorvane
