// A software MMC drive: a DVD writer that reads CD, DVD, BD and HD DVD media, answering
// CDBs the way real drives answer them.
//
// The entry point takes the raw CDB, the direction and buffer of the data phase, and
// returns GOOD, CHECK CONDITION with fixed-format sense, or a failure of the transport,
// with the number of bytes moved. The drive keeps its tray, the disc, pending unit
// attention, readiness, selected speeds and scan position between commands.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vdrive/cd_text.h"
#include "vdrive/medium.h"
#include "vdrive/quality.h"
#include "vdrive/spec.h"

namespace zorvane::vdrive {

enum class Direction : std::uint8_t { kNone, kIn, kOut };
enum class Status : std::uint8_t { kGood, kCheckCondition, kTransportFailure };

inline constexpr std::size_t kFixedSenseLength = 18;

struct Reply {
  Status status = Status::kGood;
  std::uint8_t sense[kFixedSenseLength] = {};  // fixed format (70h) on CHECK CONDITION
  std::size_t transferred = 0;                 // bytes moved in the data phase
  int system_error = 0;                        // errno-style code of a transport failure

  // Sense key, ASC and ASCQ as one 24-bit value (0 when GOOD).
  Sense Code() const {
    return static_cast<Sense>(sense[2] & 0x0F) << 16 | static_cast<Sense>(sense[12]) << 8 |
           sense[13];
  }
};

// Checks a spec as the drive would start from it, without changing anything on disk:
// false with the reason for a malformed spec, an image that cannot be read or a state
// file that cannot be loaded.
bool ValidateSpec(std::string_view spec, std::string* error);

// What happens to an initiator's I_T nexus on a served drive: it logs in, it is lost (a
// logout or a dropped session), or it resets the logical unit or the target.
enum class NexusEvent : std::uint8_t { kLogin, kLoss, kLunReset, kTargetReset };

class Drive {
 public:
  // Starts a drive with the medium of the device spec string loaded (or the state file's disc).
  // Null and the reason when the string is not valid.
  static std::unique_ptr<Drive> Create(std::string_view spec, std::string* error);

  // Carries out one CDB (6, 10 or 12 bytes). `data` holds `length` bytes: what the drive
  // fills on a data-in command, what the host sends on a data-out command. A command that
  // takes longer than `timeout` (zero: no limit) in time=real holds the caller for the
  // time-out only and fails as a transport time-out (ETIMEDOUT); the drive carries on with
  // it and answers "not ready, operation in progress" until it is done.
  //
  // `nexus` names the initiator's I_T nexus (an iSCSI initiator port: its name and ISID);
  // the empty name is the one host of an in-process drive. Each nexus has its own pending
  // unit attention and its own prevention of medium removal.
  // `file`, when given, lets a read of a pressed disc's image answer with the range of the
  // file that holds its blocks (GOOD, `transferred` bytes, `data` untouched) for the host to
  // send on from the file; `file->fd` stays empty when the data is in `data`.
  Reply Execute(const std::uint8_t* cdb, std::size_t cdb_length, Direction direction,
                std::uint8_t* data, std::size_t length,
                std::chrono::milliseconds timeout = std::chrono::milliseconds::zero(),
                std::string_view nexus = {}, ImageRange* file = nullptr);

  // An event of a served drive's I_T nexus. From the first login on, the drive is served:
  // a medium change is a unit attention (06/28/00) for every nexus, whatever the
  // `attention` key says. A login establishes 06/29/01 (power on) for a nexus the drive has
  // not seen, 06/29/07 (I_T nexus loss) for one it lost; a loss ends the nexus's
  // prevention of medium removal; a LUN or target reset ends every prevention and
  // establishes 06/29/03 for every nexus logged in.
  void Nexus(std::string_view nexus, NexusEvent event);

  // How the drive waits in time=real (the default sleeps); tests observe the durations.
  void SetSleeper(std::function<void(std::chrono::microseconds)> sleeper);

  // The clock time=real measures buffer draining and background operations by (the
  // default is the steady clock); tests give a clock their sleeper advances.
  using Clock = std::chrono::steady_clock;
  void SetClock(std::function<Clock::time_point()> clock);

  Drive(const Drive&) = delete;
  Drive& operator=(const Drive&) = delete;
  ~Drive();

 private:
  struct Command {
    const std::uint8_t* cdb = nullptr;
    const std::uint8_t* data_out = nullptr;
    std::size_t data_out_length = 0;
    std::size_t data_out_taken = 0;    // bytes of the data-out phase the drive took
    std::vector<std::uint8_t> answer;  // data-in bytes in full
    std::size_t in_length = 0;         // room in the host's buffer for data in
    // The host's buffer itself: a command that fills it directly sets `in_place` to the
    // bytes it put there and leaves `answer` empty (a pressed disc's blocks read straight
    // from its image, without a copy between buffers).
    std::uint8_t* in_data = nullptr;
    std::size_t in_place = 0;
    ImageRange* in_file = nullptr;  // where a read may answer with a range of the image
    std::size_t allocation = 0;     // what the CDB allows of them
    std::uint32_t information = 0;  // sense information field, when valid
    bool information_valid = false;
    std::uint64_t transfer_bytes = 0;       // medium bytes the command moves, for time=real
    std::optional<std::uint16_t> progress;  // sense-key specific progress indication
  };
  // A long operation the drive carries out after answering: a BLANK, FORMAT UNIT or CLOSE
  // TRACK/SESSION with Immed set (the drive is not ready until it ends), or the background
  // format of a DVD+RW or MRW disc (the drive stays ready).
  struct Operation {
    bool active = false;
    Sense sense = kGood;  // what commands needing the medium answer meanwhile
    Clock::time_point start;
    std::chrono::microseconds duration{0};
    int polls = 0;  // time=instant: commands seen while it ran
  };
  // How sectors of the current write parameters are sent and kept.
  struct WriteMode {
    SectorType type = SectorType::kMode1;
    std::size_t block_size = 2048;  // bytes a block in the data-out phase
    std::size_t header = 0;         // sub-header bytes a block starts with, not kept
    bool append_edc = false;        // the drive adds the EDC after the host's bytes
    std::uint8_t control = 4;
  };
  // Session at once: the layout of the session a cue sheet announced, as ranges of one
  // track and index each, and where the host writes next.
  struct CueRange {
    int track = 1;
    int index = 1;
    std::int32_t start = 0;  // its first block
    std::int32_t end = 0;    // the block after its last
    std::uint8_t control = 0;
    WriteMode mode;          // how the host sends its blocks
    bool generated = false;  // the drive records the range itself: the host sends nothing
  };
  struct CueSheet {
    bool active = false;  // a cue sheet was taken and its session is not recorded yet
    bool started = false;
    std::vector<CueRange> ranges;
    std::int32_t leadout = 0;
    std::int32_t next = 0;  // the block the host sends next
    std::string catalogue;  // the media catalogue number of the sheet, if any
    std::vector<std::pair<int, std::string>> isrc;  // track number, its ISRC
    // The lead-in's R-W sub-channel comes from the host (DATA FORM 41h: CD-TEXT), in
    // 96-byte blocks from `leadin_start` to the program area.
    bool leadin_text = false;
    std::int32_t leadin_start = 0;
    std::shared_ptr<CdTextCollector> text;  // the packs of those blocks
  };
  using Handler = Sense (Drive::*)(Command&);
  struct Entry {
    std::uint8_t opcode;
    std::uint8_t length;  // CDB length
    Handler handler;
    bool needs_medium;     // answers "not ready" without a loaded disc
    bool skips_attention;  // answered at once while becoming ready, without unit attention
  };

  static constexpr std::uint32_t kBufferBytes = 2 * 1024 * 1024;  // the write buffer
  static constexpr std::uint32_t kCueSheetBytes = 4096;           // the longest cue sheet taken
  static constexpr int kInstantPolls = 4;  // time=instant: commands a long operation lasts

  Drive(DriveSpec spec, Medium medium, bool tray_open);
  static const std::vector<Entry>& Table();
  const Entry* Find(std::uint8_t opcode) const;
  Sense Gate(const Entry& entry, Command& command);
  Sense InjectedFault(const Command& command);
  static Reply TimedOut();
  void Load();
  bool Loaded() const { return !tray_open_ && medium_.present; }
  Sense NotReadySense() const;
  // Unit attention and medium removal, per I_T nexus.
  struct Initiator {
    Sense attention = kGood;  // the one pending unit attention
    bool prevents = false;    // PREVENT ALLOW MEDIUM REMOVAL with Prevent set
    int sessions = 0;         // logged in, not yet lost
  };
  Initiator& InitiatorOf(std::string_view nexus);
  static void Establish(Initiator& initiator, Sense sense);
  bool Prevented() const;
  void Persist();
  // Saves the disc after the drive confirms what was written: kGood, or a write error when
  // the state file cannot be replaced.
  Sense Confirm();

  // Time: the clock, waiting in time=real, and the long operations.
  Clock::time_point Now() const;
  // Waits `duration` in time=real, within what is left of the command's time-out; returns
  // the part it could not wait (the command has then timed out).
  std::chrono::microseconds Spend(std::chrono::microseconds duration);
  std::chrono::microseconds WriteDuration(std::uint64_t bytes) const;
  void Begin(Operation& operation, Sense sense, std::chrono::microseconds duration);
  bool Advance(Operation& operation);  // true once the operation has ended
  std::uint16_t Progress(const Operation& operation) const;
  Sense Busy(bool needs_medium, Command& command);
  void FinishBackgroundFormat();
  // The write buffer: what waits in it drains at the selected write speed.
  void DrainBuffer();
  Sense FillBuffer(std::uint64_t bytes);

  // Speeds, in kB/s.
  std::vector<std::uint32_t> ReadSpeeds() const;
  std::vector<std::uint32_t> WriteSpeeds() const;
  std::uint32_t CurrentReadSpeed() const;
  std::uint32_t CurrentWriteSpeed() const;

  // Commands, by family.
  // commands_basic.cpp
  Sense TestUnitReady(Command& c);
  Sense RequestSense(Command& c);
  Sense Inquiry(Command& c);
  Sense StartStopUnit(Command& c);
  Sense PreventAllow(Command& c);
  Sense MechanismStatus(Command& c);
  Sense EventStatus(Command& c);
  Sense ReadBufferCapacity(Command& c);
  // commands_write.cpp
  Sense Write10(Command& c);
  Sense Write12(Command& c);
  Sense WriteBlocks(Command& c, std::uint32_t lba, std::uint32_t count);
  Sense WriteRandom(Command& c, std::uint32_t lba, std::uint32_t count);
  Sense WriteSequential(Command& c, std::uint32_t lba, std::uint32_t count);
  bool CurrentWriteMode(WriteMode* mode) const;
  Sense StoreSectors(const std::uint8_t* data, std::int32_t lba, std::uint32_t count,
                     const WriteMode& mode);
  // Where written sectors go: a data file beside the state file, or a temporary one.
  std::shared_ptr<SectorStore> NewSectorStore(std::string* error) const;
  Track& OpenTrack(const WritableTrack& where, const WriteMode& mode);
  Session& OpenSession(int number);
  void CloseTrack(Track& track);
  Sense CloseSession(bool finalize);
  Sense SynchronizeCache(Command& c);
  Sense CloseTrackSession(Command& c);
  Sense ReserveTrack(Command& c);
  // commands_cue.cpp
  Sense SendCueSheet(Command& c);
  Sense WriteSessionAtOnce(Command& c, std::int32_t lba, std::uint32_t count, bool test_write);
  // Records the session of the cue sheet once the host has sent all of it.
  std::chrono::microseconds FinishSessionAtOnce(bool test_write);
  // commands_format.cpp
  Sense Blank(Command& c);
  Sense FormatUnit(Command& c);
  Sense FinishLongCommand(bool immed, Sense sense, std::chrono::microseconds duration);
  // commands_mode.cpp
  Sense ModeSense6(Command& c);
  Sense ModeSense10(Command& c);
  Sense ModeSelect10(Command& c);
  std::vector<std::uint8_t> DefaultWriteParameters() const;  // as at power on
  Sense ModePages(std::uint8_t control, std::uint8_t page, std::uint8_t subpage,
                  std::vector<std::uint8_t>* out);
  void CapabilitiesPage(std::uint8_t control, std::vector<std::uint8_t>* out);
  // commands_config.cpp
  Sense GetConfiguration(Command& c);
  Sense GetPerformance(Command& c);
  Sense SetCdSpeed(Command& c);
  Sense SetStreaming(Command& c);
  // commands_toc.cpp
  Sense ReadToc(Command& c);
  Sense ReadDiscInformation(Command& c);
  Sense ReadTrackInformation(Command& c);
  Sense Verify10(Command& c);
  Sense CompareBlocks(Command& c, std::uint32_t lba, std::uint32_t count);
  Sense UnformattedPlusRwTrack(Command& c, std::uint8_t type, std::uint32_t value);
  Sense ReadCapacity(Command& c);
  Sense ReadFormatCapacities(Command& c);
  // commands_read.cpp
  Sense Read10(Command& c);
  Sense Read12(Command& c);
  Sense ReadBlocks(Command& c, std::uint32_t lba, std::uint32_t count);
  Sense ReadCd(Command& c);
  Sense ReadCdMsf(Command& c);
  Sense ReadCdBlocks(Command& c, std::uint32_t lba, std::uint32_t count);
  // The user data of a block as it is read: altered when the `alter=` key names the block.
  Sense ReadSector(std::int32_t block, std::uint8_t* out, SectorType* type) const;
  Sense Seek10(Command& c);
  // commands_audio.cpp
  Sense PlayAudio10(Command& c);
  Sense PlayAudio12(Command& c);
  Sense PlayAudioMsf(Command& c);
  Sense PauseResume(Command& c);
  Sense StopPlay(Command& c);
  Sense ReadSubChannel(Command& c);
  Sense StartPlay(std::int64_t first, std::int64_t end);
  std::int32_t PlayPosition();  // the block being played (ends the play when it is over)
  // commands_dvd.cpp
  Sense ReadDiscStructure(Command& c);
  // commands_vendor.cpp
  Sense VendorDvdScan(Command& c);
  Sense VendorCdScan(Command& c);

  std::mutex mutex_;
  DriveSpec spec_;
  Medium medium_;
  QualityModel quality_;
  std::function<void(std::chrono::microseconds)> sleeper_;

  bool tray_open_ = false;
  std::map<std::string, Initiator, std::less<>> initiators_;  // by I_T nexus
  Initiator* current_ = nullptr;  // the nexus of the command being carried out
  bool served_ = false;           // a nexus has logged in
  int becoming_ready_ = 0;        // commands still answered 02/04/01
  std::uint8_t media_event_ = 0;  // pending media event code (GET EVENT STATUS NOTIFICATION)
  std::int32_t head_ = 0;         // the block last accessed
  std::vector<FaultRule> faults_;
  std::vector<FailRule> fails_;

  std::vector<std::uint8_t> write_parameters_;  // mode page 05h, page code byte on
  CueSheet cue_;                                // the session at once being written
  std::function<Clock::time_point()> clock_;
  Operation operation_;                     // not ready until it ends
  Operation background_;                    // background format, the drive stays ready
  std::uint64_t buffer_fill_ = 0;           // bytes waiting in the write buffer
  Clock::time_point buffer_time_;           // when the buffer was last drained
  std::int64_t simulated_blocks_ = 0;       // blocks a test write has pretended to record
  std::chrono::microseconds time_left_{0};  // of the current command's time-out
  bool timed_out_ = false;                  // the current command ran past its time-out
  std::uint32_t requested_read_speed_ = 0xFFFF;
  std::uint32_t requested_write_speed_ = 0xFFFF;

  // Audio play: status (sub-channel audio status code), where it is, where it ends.
  struct AudioPlay {
    std::uint8_t status = 0x15;  // no current audio status
    std::int32_t position = 0;   // the block reached (when paused or stopped)
    std::int32_t end = 0;        // the block after the last to play
    Clock::time_point since;     // when play went on from `position`
  };
  AudioPlay play_;

  // Quality scans.
  bool dvd_scan_started_ = false;
  std::int32_t dvd_scan_next_ = 0;
  bool cd_scan_started_ = false;
  std::int32_t cd_scan_position_ = 0;
};

}  // namespace zorvane::vdrive
