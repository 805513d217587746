// The two read dialogs (CD and DVD): a track of the table of contents, its first and last
// sector, the output file, and while the worker reads, the sector reached, the speeds, the
// elapsed time and the progress bar.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/dialog.h"
#include "base/templates.h"
#include "read/disc_read.h"
#include "read/read_worker.h"

namespace zorvane {

const DialogTemplate& CdReadTemplate();
const DialogTemplate& DvdReadTemplate();

// Gives each numbered control of `form` its caption, as a window built from the template
// starts (for dialogs kept in memory).
void SetTemplateCaptions(Dialog& dialog, const DialogTemplate& form);

// The file types the save dialog offers for the selected track.
enum class ReadFileFilter : int {
  kWave,     // "WAVE Files (*.wav)", "All Files (*.*)"
  kIso,      // "ISO Files (*.ISO)", "All Files (*.*)"
  kCdImage,  // "ISO Files (*.ISO)", "Mode2 Files (*.MD2)", "All Files (*.*)"
  kCue,      // the whole CD: "Cue Sheets (*.cue)", "All Files (*.*)"
};

// The CD dialog's last choice after the tracks: the whole disc to a BIN/CUE pair.
inline constexpr const char* kWholeDiscChoice = "整片光碟 (BIN/CUE)";

class ReadDialog : public DialogHandler {
 public:
  enum class Kind { kCd, kDvd };

  // Runs the save-file dialog with `filter`, starting from `path`; true when the user
  // chose a file (then in `path`).
  using FileChooser = std::function<bool(ReadFileFilter filter, std::string* path)>;

  explicit ReadDialog(Kind kind) : kind_(kind) {}

  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;
  void OnTimer(Dialog& dialog, int timer_id) override;
  void OnClose(Dialog& dialog) override;

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  // The window's title as initialisation made it.
  const std::string& Title() const { return title_; }
  ReadFileFilter Filter() const { return filter_; }

  // The last run (null before the first OK), and whether its end is shown.
  std::shared_ptr<const ReadJob> Job() const { return job_; }
  bool Ended() const { return job_ != nullptr && end_shown_; }

 private:
  void SelectTrack(Dialog& dialog);
  void Start(Dialog& dialog);
  void Cancel(Dialog& dialog);
  void Refresh(Dialog& dialog);
  void Tick(Dialog& dialog);
  std::string SpeedText(float sectors_per_second) const;

  const Kind kind_;
  std::string title_ = "讀取";
  std::string path_;  // the save dialog's name
  ReadFileFilter filter_ = ReadFileFilter::kIso;
  FileChooser chooser_;
  bool closed_ = false;

  std::shared_ptr<ReadJob> job_;
  int tracks_ = 0;           // the tracks the choice lists
  bool whole_disc_ = false;  // the whole-disc choice is selected
  int ticks_ = 0;
  float highest_ = 0;
  bool range_shown_ = false;
  bool end_shown_ = false;
  std::int64_t shown_sector_ = -1;
  int shown_width_ = 0;
  std::int64_t shown_done_ = -1;
};

}  // namespace zorvane
