// The write dialogs: the CD write dialog (template 117), the DVD write dialog (118) and the
// address-write dialogs for MRW CD-RW (120) and for DVD-RAM, DVD-RW restricted overwrite
// and DVD+RW (122).
// Start-up queries, the write-speed list and SET STREAMING, the image chooser and size, the
// one-second progress timer, and the hand-over to the writer on its own thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/dialog.h"
#include "base/templates.h"
#include "write/write_job.h"

namespace zorvane {

enum WriteControl : int {
  kBrowseImage = 54,
  kWriteGauge = 1034,
  kBufferGauge = 1036,
  kElapsedTime = 1037,
  kTrackAtOnce = 1043,      // 117; on 118: close the track
  kSessionAtOnce = 1046,    // 117; on 118: close the session
  kCloseDiscOption = 1049,  // 118
  kStartSector = 1053,      // 120, 122
  kKeepSessionOpen = 1054,  // 117
  kSpeedCombo = 1059,
  kCloseSessionOption = 1064,  // 117
  kFileNameLabel = 1067,
  kSpeedLabel = 1071,
  kImagePath = 1100,
  kImageSize = 1101,
  kSectorCount = 1102,
  kFileMessage = 1103,
  kCdProfileName = 1104,
  kCurrentSpeed = 1105,
  kHighestSpeed = 1106,
  kAverageSpeed = 1107,
  kDvdProfileName = 1108,
  kMultiSession = 1151,
  kAudioCdButton = 1160,      // 117: opens the audio-CD dialog
  kVerifyAfterWrite = 1170,  // 117, 118, 120, 122
  kTestWrite = 1171,         // 117, 118
};

// On template 118 the three option buttons close the track, the session or the disc.
inline constexpr int kCloseTrackOption = kTrackAtOnce;
inline constexpr int kCloseSessionDvdOption = kSessionAtOnce;

// The timer that applies the worker's updates to the controls (timer 1 is the one-second
// progress timer).
inline constexpr int kProgressTimer = 1;
inline constexpr int kUpdateTimer = 2;
inline constexpr int kUpdatePeriodMs = 50;

const DialogTemplate& CdWriteTemplate();
const DialogTemplate& DvdWriteTemplate();
const DialogTemplate& MrwAddressWriteTemplate();
const DialogTemplate& DvdAddressWriteTemplate();
// The template of a write dialog by its number.
const DialogTemplate& WriteTemplate(int template_id);

// Puts a template's captions and its disabled, hidden and checked-at-start states into a
// dialog whose controls live in memory (the command-line front end's dialogs).
void LoadTemplate(Dialog& dialog, const DialogTemplate& form);

// The end steps after the last WRITE (SYNCHRONIZE CACHE, CLOSE TRACK/SESSION): a step the
// drive refused is shown in the dialog's message line and on the information console and
// becomes the job's failure, so the dialog never looks finished after it.
void ReportEndStepFailure(WriteJob& job, PostedDialog& dialog, const char* step,
                          std::int32_t sense);
// The 28-byte SET STREAMING performance descriptor.
using StreamingDescriptor = std::array<std::uint8_t, 28>;

// What the worker needs from the dialog, taken when OK is pressed.
struct WriteRequest {
  int template_id = 0;
  std::string path;
  bool track_at_once = true;      // 1043 (117) / close track (118)
  bool session_at_once = false;   // 1046 (117) / close session (118)
  bool close_disc = false;        // 1049 (118)
  bool keep_session_open = true;  // 1054 (117)
  bool multi_session = true;      // 1151 (117)
  std::string start_sector;       // 1053 (120, 122)
  bool verify = false;            // 1170: read back and compare after the write
  bool test_write = false;        // 1171: the drive simulates the write
};

// Chooses an image file for the browse button: filter set (1: ISO, 3: the CD writer's
// types), the current name in, the chosen one out; false when nothing was chosen.
using FileChooser = std::function<bool(int filter_set, std::string* path)>;

struct SaoRequest;

class WriteDialog : public DialogHandler {
 public:
  explicit WriteDialog(int template_id);

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // The window title of the current drive: "寫入  %s" with the drive's description.
  std::string Title() const;

  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;
  void OnTimer(Dialog& dialog, int timer_id) override;
  void OnClose(Dialog& dialog) override;

  int TemplateId() const { return template_id_; }
  const std::shared_ptr<WriteJob>& Job() const { return job_; }
  // The write speeds the drive listed (the raw four bytes of each descriptor).
  const std::vector<std::array<std::uint8_t, 4>>& WriteSpeedTable() const { return speeds_; }
  const StreamingDescriptor& Descriptor() const { return descriptor_; }
  // Why the last image chosen cannot be written, naming the path; "" when it can be opened.
  const std::string& FileProblem() const { return file_problem_; }
  // The CD dialog writes session at once what this names (an audio CD from WAVE files, or a
  // cue sheet with its options) rather than the image path; a .cue image path alone is
  // written session at once too.
  void SetSessionAtOnce(std::shared_ptr<const SaoRequest> request) { sao_ = std::move(request); }
  // What the audio-CD button does (the front end opens the audio-CD dialog).
  void SetAudioCdOpener(std::function<void()> opener) { audio_cd_opener_ = std::move(opener); }
  // The album the audio-CD dialog accepted: written session at once by OK, in place of the
  // image path, until another image is chosen.
  void AcceptAlbum(Dialog& dialog, std::shared_ptr<const SaoRequest> album);

 private:
  void Start(Dialog& dialog);
  void Cancel(Dialog& dialog);
  void ChooseImage(Dialog& dialog);
  bool FillSpeeds(Dialog& dialog);
  bool SelectSpeed(Dialog& dialog);
  void Tick(Dialog& dialog);
  void OptionClicked(Dialog& dialog, int id);
  bool IsCd() const { return template_id_ == kCdWriteDialog; }
  bool IsAddressWrite() const {
    return template_id_ == kMrwAddressWriteDialog || template_id_ == kDvdAddressWriteDialog;
  }
  // Speeds shown as CD factors alone (117, 120) or as DVD and CD factors (118, 122).
  bool ShowsCdFactor() const {
    return template_id_ == kCdWriteDialog || template_id_ == kMrwAddressWriteDialog;
  }
  int OpenerButton() const;
  void EnableOpener(bool enabled) const;

  int template_id_;
  std::shared_ptr<WriteJob> job_ = std::make_shared<WriteJob>();
  FileChooser chooser_;
  std::shared_ptr<const SaoRequest> sao_;
  std::function<void()> audio_cd_opener_;
  std::string file_problem_;
  std::vector<std::array<std::uint8_t, 4>> speeds_;
  StreamingDescriptor descriptor_{};
  // Timer state.
  int elapsed_ = 0;
  std::uint32_t current_ = 0;
  std::uint32_t highest_ = 0;
  std::uint32_t previous_ = 0;
  // Drive buffer (117) and image sectors (118).
  std::uint32_t buffer_length_ = 0;
  std::uint32_t buffer_free_ = 0;
  std::uint32_t image_sectors_ = 0;
};

}  // namespace zorvane
