// The audio-CD dialog: a list of WAVE files that become the tracks of an audio CD written
// session at once, with a title for each track, the album's title and performer (CD-TEXT),
// the gap between tracks, and the total time against the disc's capacity. OK hands the
// album to the CD write dialog that opened it, which writes it with its own speed, options
// and progress.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/dialog.h"
#include "base/templates.h"
#include "write/sao_writer.h"

namespace zorvane {

inline constexpr int kAudioCdDialog = 130;

enum AudioCdControl : int {
  kAudioWavePath = 1400,
  kAudioAdd = 1401,
  kAudioTrackTitle = 1402,
  kAudioRename = 1403,
  kAudioTrackList = 1404,
  kAudioRemove = 1405,
  kAudioAlbumTitle = 1406,
  kAudioPerformer = 1407,
  kAudioGap = 1408,
  kAudioTotalTime = 1409,
  kAudioCapacity = 1410,
  kAudioMessage = 1411,
};

const DialogTemplate& AudioCdTemplate();

class AudioCdDialog : public DialogHandler {
 public:
  using Chooser = std::function<bool(std::string* path)>;
  using Accept = std::function<void(std::shared_ptr<const SaoRequest> album)>;
  void SetFileChooser(Chooser chooser) { chooser_ = std::move(chooser); }
  void SetOnAccept(Accept accept) { accept_ = std::move(accept); }

  void OnInit(Dialog& dialog) override;
  void OnCommand(Dialog& dialog, int id) override;

  // Blocks of the album as it stands: the first pre-gap, the tracks and the gaps.
  std::uint64_t TotalBlocks(std::uint32_t gap) const;

 private:
  struct Track {
    std::string path;
    std::string title;
    std::uint32_t blocks = 0;
  };
  void Add(Dialog& dialog);
  void Refresh(Dialog& dialog);
  bool Gap(Dialog& dialog, std::uint32_t* blocks) const;
  void Finish(Dialog& dialog);

  std::vector<Track> tracks_;
  std::uint32_t capacity_ = 0;  // free blocks of the disc; 0: not known
  Chooser chooser_;
  Accept accept_;
};

// "mm:ss:ff" of a block count.
std::string BlocksAsTime(std::uint64_t blocks);

}  // namespace zorvane
