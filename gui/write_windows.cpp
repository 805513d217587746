// The write, address-write and erase dialogs' windows.
#include <QPointer>
#include <memory>

#include "gui/file_dialogs.h"
#include "gui/job_window.h"
#include "gui/main_window.h"
#include "write/audio_cd_dialog.h"
#include "write/erase_dialog.h"
#include "write/write_dialog.h"

namespace zorvane {

namespace {

// A write dialog: the browse button runs the file chooser with the window as its owner,
// and the title names the current drive.
void OpenWriteDialog(int template_id, const DialogTemplate& form) {
  auto handler = std::make_shared<WriteDialog>(template_id);
  auto owner = std::make_shared<QPointer<QWidget>>();
  handler->SetFileChooser([owner](int filter_set, std::string* path) {
    PrepareFileDialog(owner->data(), filter_set);
    std::string title;
    return ChooseOpenFile(owner->data(), path, &title);
  });
  if (template_id == kCdWriteDialog) {
    // The audio-CD dialog hands its album back to this window while both are open.
    std::weak_ptr<WriteDialog> weak = handler;
    handler->SetAudioCdOpener([weak, owner] {
      auto audio = std::make_shared<AudioCdDialog>();
      auto audio_owner = std::make_shared<QPointer<QWidget>>();
      audio->SetFileChooser([audio_owner](std::string* path) {
        PrepareFileDialog(audio_owner->data(), kWaveFiles);
        std::string title;
        return ChooseOpenFile(audio_owner->data(), path, &title);
      });
      audio->SetOnAccept([weak, owner](std::shared_ptr<const SaoRequest> album) {
        auto* window = qobject_cast<JobWindow*>(owner->data());
        if (const auto cd = weak.lock(); cd && window != nullptr) {
          cd->AcceptAlbum(window->Controls(), std::move(album));
        }
      });
      QPointer<JobWindow> audio_window = JobWindow::Open(AudioCdTemplate(), audio);
      *audio_owner = audio_window.data();
    });
  }
  QPointer<JobWindow> window = JobWindow::Open(form, handler);
  *owner = window.data();
  if (window) window->setWindowTitle(QString::fromStdString(handler->Title()));
}

void OpenEraseDialog() {
  auto handler = std::make_shared<EraseDialog>();
  QPointer<JobWindow> window = JobWindow::Open(EraseTemplate(), handler);
  if (window) window->setWindowTitle(QString::fromStdString(handler->Title()));
}

}  // namespace

void RegisterWriteWindows(GuiJobDialogs& jobs) {
  jobs.Register(kCdWriteDialog, [] { OpenWriteDialog(kCdWriteDialog, CdWriteTemplate()); });
  jobs.Register(kDvdWriteDialog, [] { OpenWriteDialog(kDvdWriteDialog, DvdWriteTemplate()); });
  jobs.Register(kMrwAddressWriteDialog,
                [] { OpenWriteDialog(kMrwAddressWriteDialog, MrwAddressWriteTemplate()); });
  jobs.Register(kDvdAddressWriteDialog,
                [] { OpenWriteDialog(kDvdAddressWriteDialog, DvdAddressWriteTemplate()); });
  jobs.Register(kEraseDialog, OpenEraseDialog);
}

}  // namespace zorvane
