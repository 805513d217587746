#include "iso/volume_dialog.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/output_file.h"

namespace zorvane {

namespace {

// The log pane through the dialog, for front ends that give no console of their own.
class DialogLog : public Console {
 public:
  explicit DialogLog(Dialog* dialog) : dialog_(dialog) {}
  void Append(std::string_view text) override {
    std::lock_guard lock(mutex_);
    dialog_->SetText(kVolumeLog, dialog_->Text(kVolumeLog) + std::string(text));
  }
  void Clear() override {
    std::lock_guard lock(mutex_);
    dialog_->SetText(kVolumeLog, "");
  }

 private:
  std::mutex mutex_;
  Dialog* dialog_;
};

std::string TextOrEmpty(const char* text) {
  return text == nullptr ? std::string() : std::string(text);
}

}  // namespace

VolumeClock VolumeClockNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now - std::chrono::system_clock::from_time_t(seconds))
                          .count();
  struct tm local {};
  localtime_r(&seconds, &local);
  return VolumeClock{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(millis < 0 ? 0 : millis),
                     static_cast<int>(local.tm_gmtoff / 60)};
}

SystemNames CurrentSystemNames() {
  SystemNames names;
  struct utsname system {};
  if (uname(&system) == 0) names.system = system.sysname;

  // The domain part of the host name; else the NIS domain; else, as a machine outside any
  // domain reports it, the host name itself.
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) {
    const std::string name = host;
    const std::size_t dot = name.find('.');
    if (dot != std::string::npos && dot + 1 < name.size()) {
      names.domain = name.substr(dot + 1);
    } else {
      char domain[256] = {};
      if (getdomainname(domain, sizeof domain - 1) == 0 && domain[0] != '\0' &&
          std::string(domain) != "(none)") {
        names.domain = domain;
      } else {
        names.domain = name;
      }
    }
  }

  // The login name of the session; else the account of the real user; else $USER.
  char login[256] = {};
  if (getlogin_r(login, sizeof login) == 0 && login[0] != '\0') {
    names.user = login;
  } else if (const passwd* account = getpwuid(getuid())) {
    names.user = TextOrEmpty(account->pw_name);
  } else {
    names.user = TextOrEmpty(std::getenv("USER"));
  }
  return names;
}

VolumeFields VolumeDefaults(const VolumeClock& c, const SystemNames& names) {
  VolumeFields fields;
  const int hundredths = c.millisecond / 10;
  fields.volume = FormatText(64, "%4i%02i%02i_%02i%02i%02i%02i", c.year, c.month, c.day, c.hour,
                             c.minute, c.second, hundredths);
  fields.volume_set = fields.volume;
  fields.set_size = "1";
  fields.sequence = "1";
  fields.system = names.system;
  fields.publisher = names.domain;
  fields.preparer = names.user;
  // The program's name; its web address follows (", " and the address) once the project
  // has one.
  fields.application = "Zorvane";
  const std::string now = FormatText(64, "%4i/%02i/%02i %02i:%02i:%02i:%02i", c.year, c.month,
                                     c.day, c.hour, c.minute, c.second, hundredths);
  fields.dates = {now, now,
                  FormatText(64, "%4i/%02i/%02i %02i:%02i:%02i:%02i", c.year + 50, c.month, c.day,
                             c.hour, c.minute, c.second, hundredths),
                  now};
  // The bias is minutes west of UTC; the fields hold it in 15-minute units east.
  const int bias = -c.offset_minutes;
  const std::string offset = FormatText(16, "%d", bias / -15);
  fields.offsets = {offset, offset, offset, offset};
  return fields;
}

namespace {

constexpr int kDateControls[4] = {kCreationDate, kModificationDate, kExpirationDate,
                                  kEffectiveDate};
constexpr int kOffsetControls[4] = {kCreationOffset, kModificationOffset, kExpirationOffset,
                                    kEffectiveOffset};

void WriteFields(Dialog& dialog, const VolumeFields& f) {
  dialog.SetText(kVolumeName, f.volume);
  dialog.SetText(kVolumeSetName, f.volume_set);
  dialog.SetText(kVolumeSetSize, f.set_size);
  dialog.SetText(kSequenceNumber, f.sequence);
  dialog.SetText(kSystemName, f.system);
  dialog.SetText(kPublisher, f.publisher);
  dialog.SetText(kDataPreparer, f.preparer);
  dialog.SetText(kApplication, f.application);
  dialog.SetText(kCopyrightFile, f.copyright_file);
  dialog.SetText(kAbstractFile, f.abstract_file);
  dialog.SetText(kBibliographicFile, f.bibliographic_file);
  for (int i = 0; i < 4; ++i) {
    dialog.SetText(kDateControls[i], f.dates[static_cast<std::size_t>(i)]);
    dialog.SetText(kOffsetControls[i], f.offsets[static_cast<std::size_t>(i)]);
  }
}

}  // namespace

VolumeFields ReadVolumeFields(const Dialog& dialog) {
  VolumeFields f;
  f.volume = dialog.Text(kVolumeName);
  f.volume_set = dialog.Text(kVolumeSetName);
  f.set_size = dialog.Text(kVolumeSetSize);
  f.sequence = dialog.Text(kSequenceNumber);
  f.system = dialog.Text(kSystemName);
  f.publisher = dialog.Text(kPublisher);
  f.preparer = dialog.Text(kDataPreparer);
  f.application = dialog.Text(kApplication);
  f.copyright_file = dialog.Text(kCopyrightFile);
  f.abstract_file = dialog.Text(kAbstractFile);
  f.bibliographic_file = dialog.Text(kBibliographicFile);
  for (int i = 0; i < 4; ++i) {
    f.dates[static_cast<std::size_t>(i)] = dialog.Text(kDateControls[i]);
    f.offsets[static_cast<std::size_t>(i)] = dialog.Text(kOffsetControls[i]);
  }
  return f;
}

bool RunVolumeJob(const VolumeFields& fields, const std::string& output, SourceList& sources,
                  Console* log, const std::atomic<bool>& run) {
  if (!output.empty()) {
    // What would refuse the image refuses it before the listing.
    std::string refusal = OutputConflict(output, sources.Sources());
    if (refusal.empty()) refusal = FieldTooLong(fields);
    if (!refusal.empty()) {
      ConsoleLog(log, "Image not written: %s\n", refusal.c_str());
      return false;
    }
  }
  const bool listed =
      ListSources([&sources](std::size_t row) { return sources.SourceAt(row); }, log, run);
  if (output.empty()) return listed && run.load();
  if (!run.load()) return false;
  ConsoleLog(log, "Writing image %s\n", output.c_str());
  if (const std::string note = PrimaryDescriptorNote(fields); !note.empty()) {
    ConsoleLog(log, "%s\n", note.c_str());
  }
  const ImageResult image = BuildIsoImage(fields, sources.Sources(), output, log, run);
  if (!image.ok) {
    ConsoleLog(log, "Image not written: %s\n", image.error.c_str());
    return false;
  }
  ConsoleLog(log, "Image %s: %llu bytes, %llu sectors\n", output.c_str(),
             static_cast<unsigned long long>(image.bytes),
             static_cast<unsigned long long>(image.bytes / kSectorBytes));
  return true;
}

struct VolumeDialog::State {
  std::atomic<bool> run{false};
  std::shared_ptr<Console> inner_log;
  std::shared_ptr<GatedConsole> log;
  std::mutex mutex;
  std::condition_variable done;
  int workers = 0;
  bool last_ok = false;
};

VolumeDialog::VolumeDialog() : state_(std::make_shared<State>()), sources_(SourceList::Create()) {}

VolumeDialog::~VolumeDialog() {
  sources_->Close();
  if (state_->log) state_->log->Close();
}

void VolumeDialog::SetLog(std::shared_ptr<Console> log) {
  state_->inner_log = std::move(log);
}

void VolumeDialog::SetSaveFileChooser(std::function<bool(std::string*)> choose) {
  choose_ = std::move(choose);
}

void VolumeDialog::SetRowsChanged(std::function<void()> changed) {
  rows_changed_ = std::move(changed);
}

void VolumeDialog::OnInit(Dialog& dialog) {
  dialog_ = &dialog;
  if (!state_->inner_log) state_->inner_log = std::make_shared<DialogLog>(&dialog);
  state_->log = std::make_shared<GatedConsole>(state_->inner_log);
  sources_->SetLog(state_->log);
  if (rows_changed_) {
    sources_->SetChanged(rows_changed_);
  } else {
    sources_->SetChanged([this] { ShowTotals(*dialog_); });
  }
  WriteFields(dialog, VolumeDefaults(clock_(), names_()));
  dialog.SetText(kOutputPath, "");
  dialog.SetText(kTotalSize, "");
  dialog.SetText(kTotalFolders, "");
  dialog.SetText(kTotalFiles, "");
  dialog.SetProgressRange(kDropProgress, 0, 1);
  dialog.SetProgressPosition(kDropProgress, 0);
}

void VolumeDialog::ShowTotals(Dialog& dialog) {
  const SourceListView view = sources_->View();
  dialog.SetText(kTotalSize, view.total_size);
  dialog.SetText(kTotalFolders, view.total_folders);
  dialog.SetText(kTotalFiles, view.total_files);
  dialog.SetProgressRange(kDropProgress, 0, view.progress_high > 0 ? view.progress_high : 1);
  dialog.SetProgressPosition(kDropProgress, view.progress_position);
}

void VolumeDialog::StartWorker(Dialog& dialog) {
  const VolumeFields fields = ReadVolumeFields(dialog);
  const std::string output = dialog.Text(kOutputPath);
  state_->run.store(true);
  dialog.Enable(kOkButton, false);
  {
    std::lock_guard lock(state_->mutex);
    ++state_->workers;
  }
  // VolumeInfoWorker: holds what it uses, so a dialog closed meanwhile leaves it nothing
  // dangling; its log is gated off when the dialog goes.
  std::thread([state = state_, sources = sources_, fields, output] {
    const bool ok = RunVolumeJob(fields, output, *sources, state->log.get(), state->run);
    std::lock_guard lock(state->mutex);
    state->last_ok = ok;
    --state->workers;
    state->done.notify_all();
  }).detach();
  dialog.Enable(kOkButton, true);
}

void VolumeDialog::OnCommand(Dialog& dialog, int id) {
  switch (id) {
    case kOkButton:
      StartWorker(dialog);
      break;
    case kCancelButton:
      state_->run.store(false);
      if (Dialog* main = MainWindow.load()) main->Enable(kIsoImageButton, true);
      dialog.EndDialog(kCancelButton);
      break;
    case kBrowseButton: {
      std::string path = dialog.Text(kOutputPath);
      if (choose_ && choose_(&path)) dialog.SetText(kOutputPath, path);
      break;
    }
    case kClearAllButton:
      sources_->ClearAll();
      break;
    default:
      break;
  }
}

void VolumeDialog::OnClose(Dialog&) {
  state_->run.store(false);
  sources_->Close();
  if (state_->log) state_->log->Close();
}

void VolumeDialog::WaitForWorkers() {
  std::unique_lock lock(state_->mutex);
  state_->done.wait(lock, [this] { return state_->workers == 0; });
}

bool VolumeDialog::WaitForWorkers(std::chrono::milliseconds limit) {
  std::unique_lock lock(state_->mutex);
  return state_->done.wait_for(lock, limit, [this] { return state_->workers == 0; });
}

bool VolumeDialog::LastJobSucceeded() const {
  std::lock_guard lock(state_->mutex);
  return state_->last_ok;
}

}  // namespace zorvane
