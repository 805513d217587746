#include "iso/iso_image.h"

#include <fcntl.h>
// The image stream is read here directly, without the burning library.
#define LIBISOFS_WITHOUT_LIBBURN 1
#include <libisofs/libisofs.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/output_file.h"
#include "iso/source_scan.h"

namespace zorvane {

namespace {

// Offsets in a volume descriptor.
constexpr std::size_t kSystemId = 8;
constexpr std::size_t kVolumeId = 40;
constexpr std::size_t kSetSize = 120;
constexpr std::size_t kSequence = 124;
constexpr std::size_t kVolumeSetId = 190;
constexpr std::size_t kPublisherId = 318;
constexpr std::size_t kPreparerId = 446;
constexpr std::size_t kApplicationId = 574;
constexpr std::size_t kCopyrightFile = 702;
constexpr std::size_t kAbstractFile = 739;
constexpr std::size_t kBibliographicFile = 776;
constexpr std::size_t kDates = 813;

// The descriptor's character fields take 7-bit text: each other character (a UTF-8
// sequence) becomes one '_'; at most `limit` characters are kept.
std::string DescriptorText(const std::string& text, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && out.size() < limit;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out += byte < 0x20 ? '_' : static_cast<char>(byte);
      ++i;
      continue;
    }
    out += '_';
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return out;
}

// The characters of `text` as the descriptor counts them: a UTF-8 sequence is one.
std::size_t DescriptorLength(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// The fields the primary descriptor holds as text, with their room in characters.
struct TextField {
  const char* name;
  std::string VolumeFields::*member;
  std::size_t limit;
};
constexpr TextField kTextFields[] = {
    {"volume name", &VolumeFields::volume, 31},
    {"system name", &VolumeFields::system, 31},
    {"volume set name", &VolumeFields::volume_set, 127},
    {"publisher", &VolumeFields::publisher, 127},
    {"data preparer", &VolumeFields::preparer, 127},
    {"application", &VolumeFields::application, 127},
    {"copyright file name", &VolumeFields::copyright_file, 36},
    {"abstract file name", &VolumeFields::abstract_file, 36},
    {"bibliographic file name", &VolumeFields::bibliographic_file, 36},
};

void PutText(std::uint8_t* sector, std::size_t at, std::size_t size, const std::string& text,
             std::size_t limit, char fill) {
  const std::string value = DescriptorText(text, limit);
  std::memset(sector + at, fill, size);
  std::copy(value.begin(), value.end(), sector + at);  // a field, not a C string
}

void PutBoth16(std::uint8_t* sector, std::size_t at, std::uint16_t value) {
  sector[at] = static_cast<std::uint8_t>(value & 0xFF);
  sector[at + 1] = static_cast<std::uint8_t>(value >> 8);
  sector[at + 2] = static_cast<std::uint8_t>(value >> 8);
  sector[at + 3] = static_cast<std::uint8_t>(value & 0xFF);
}

bool ReadWhole(const std::string& text, long min, long max, long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (number < min || number > max) return false;
  *value = number;
  return true;
}

// One image at a time in the process: the library's message queue is shared.
std::mutex& BuildMutex() {
  static std::mutex mutex;
  return mutex;
}

void StartLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    iso_init();
    // File names on Linux are UTF-8 bytes whatever the locale says.
    char charset[] = "UTF-8";
    iso_set_local_charset(charset, 0);
    char queue[] = "SORRY", print[] = "NEVER", prefix[] = "libisofs: ";
    iso_set_msgs_severities(queue, print, prefix);
    char abort_at[] = "SORRY";
    iso_set_abort_severity(abort_at);
  });
}

// The library's queued complaints, as one text; empty when there are none.
std::string TakeMessages() {
  std::string text;
  char minimum[] = "SORRY";
  int code = 0, image = 0;
  char message[ISO_MSGS_MESSAGE_LEN];
  char severity[80];
  while (iso_obtain_msgs(minimum, &code, &image, message, severity) == 1) {
    if (!text.empty()) text += "; ";
    text += message;
  }
  return text;
}

std::string LibraryError(int code) {
  std::string text = iso_error_to_msg(code);
  const std::string queued = TakeMessages();
  if (!queued.empty()) text += " (" + queued + ")";
  return text;
}

struct ImageDeleter {
  void operator()(IsoImage* image) const { iso_image_unref(image); }
};
struct OptionsDeleter {
  void operator()(IsoWriteOpts* options) const { iso_write_opts_free(options); }
};
struct SourceDeleter {
  void operator()(burn_source* source) const {
    source->free_data(source);
    std::free(source);
  }
};

void CopyAttributes(IsoNode* node, const struct stat& st) {
  iso_node_set_permissions(node, st.st_mode & 07777);
  iso_node_set_uid(node, st.st_uid);
  iso_node_set_gid(node, st.st_gid);
  iso_node_set_mtime(node, st.st_mtime);
  iso_node_set_atime(node, st.st_atime);
  iso_node_set_ctime(node, st.st_ctime);
}

// Adds one source at the root. Returns an error text, empty on success.
std::string AddSource(IsoImage* image, const std::string& source) {
  char resolved[PATH_MAX];
  if (realpath(source.c_str(), resolved) == nullptr) {
    return FormatText(kConsoleTextLimit, "%s: %s", source.c_str(), std::strerror(errno));
  }
  struct stat st {};
  if (stat(resolved, &st) != 0) {
    return FormatText(kConsoleTextLimit, "%s: %s", source.c_str(), std::strerror(errno));
  }
  std::string name = DestinationName(source);
  if (!name.empty() && name.front() == '/') name.erase(0, 1);
  if (name.empty()) name = "root";
  IsoDir* root = iso_image_get_root(image);
  int status = 0;
  if (S_ISDIR(st.st_mode)) {
    IsoDir* folder = nullptr;
    status = iso_tree_add_new_dir(root, name.c_str(), &folder);
    if (status >= 0) {
      CopyAttributes(reinterpret_cast<IsoNode*>(folder), st);
      status = iso_tree_add_dir_rec(image, folder, resolved);
    }
  } else {
    IsoNode* node = nullptr;
    status = iso_tree_add_new_node(image, root, name.c_str(), resolved, &node);
  }
  if (status < 0) {
    if (status == static_cast<int>(ISO_NODE_NAME_NOT_UNIQUE)) {
      return FormatText(kConsoleTextLimit, "Two sources are named %s", name.c_str());
    }
    return FormatText(kConsoleTextLimit, "%s: %s", source.c_str(), LibraryError(status).c_str());
  }
  return {};
}

// The image is pulled from the library's ring buffer in large pieces. Its writer thread
// puts the image in 2 KiB at a time and signals each block: a reader that waits inside the
// library is woken for every one of them, a million times for a 2 GB image. So the reader
// waits outside, polling the buffer's fill every millisecond, and takes what has gathered
// once there is a piece worth writing; the buffer is large enough that the writer thread
// never waits for it meanwhile.
constexpr std::size_t kFifoBlocks = 4096;                   // 8 MiB
constexpr std::size_t kChunk = 1024 * kSectorBytes;         // 2 MiB, the most taken at once
constexpr std::size_t kEnoughToWrite = 256 * kSectorBytes;  // 512 KiB

// How many bytes to take next (at most `left`): what the buffer holds, in whole sectors,
// once it holds enough to write or the image has all been put in; `left` (up to a piece)
// when the fill cannot be known or the run flag went down meanwhile.
std::size_t ReadyBytes(burn_source* stream, std::uint64_t left, const std::atomic<bool>& run) {
  const auto whole = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, left));
  for (;;) {
    std::size_t size = 0, free_bytes = 0;
    const int state = iso_ring_buffer_get_status(stream, &size, &free_bytes);
    if (state != 1 || free_bytes > size) return whole;  // ended, failed or unknown
    const std::size_t held = (size - free_bytes) / kSectorBytes * kSectorBytes;
    if (held >= whole) return whole;
    if (held >= std::min(kEnoughToWrite, size / 2)) return held;
    if (!run.load()) return whole;
    const timespec pause{0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

// Writes all of `size` bytes; false with errno set when the file refuses them.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

std::array<std::uint8_t, 17> DescriptorDate(const std::string& date, const std::string& offset) {
  std::array<std::uint8_t, 17> field{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
  const bool read = std::sscanf(date.c_str(), "%d/%d/%d %d:%d:%d%n", &year, &month, &day, &hour,
                                &minute, &second, &used) == 6;
  const bool valid = read && year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
                     day <= 31 && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
                     second >= 0 && second <= 59;
  const std::string digits =
      valid ? FormatText(32, "%04d%02d%02d%02d%02d%02d00", year, month, day, hour, minute, second)
            : std::string(16, '0');
  std::memcpy(field.data(), digits.data(), 16);
  long quarters = 0;
  if (valid && ReadWhole(offset, -48, 52, &quarters)) {
    field[16] = static_cast<std::uint8_t>(static_cast<std::int8_t>(quarters));
  }
  return field;
}

std::uint16_t SetNumber(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return 1;
  long value = 0;
  return ReadWhole(text, 1, 65535, &value) ? static_cast<std::uint16_t>(value) : 1;
}

void PatchVolumeDescriptor(const VolumeFields& fields, std::uint8_t* sector) {
  const bool primary = sector[0] == 1;
  if (primary) {
    PutText(sector, kSystemId, 32, fields.system, 31, '\0');
    PutText(sector, kVolumeId, 32, fields.volume, 31, '\0');
    PutText(sector, kVolumeSetId, 128, fields.volume_set, 127, ' ');
    PutText(sector, kPublisherId, 128, fields.publisher, 127, ' ');
    PutText(sector, kPreparerId, 128, fields.preparer, 127, ' ');
    PutText(sector, kApplicationId, 128, fields.application, 127, ' ');
    PutText(sector, kCopyrightFile, 37, fields.copyright_file, 36, ' ');
    PutText(sector, kAbstractFile, 37, fields.abstract_file, 36, ' ');
    PutText(sector, kBibliographicFile, 37, fields.bibliographic_file, 36, ' ');
  }
  PutBoth16(sector, kSetSize, SetNumber(fields.set_size));
  PutBoth16(sector, kSequence, SetNumber(fields.sequence));
  for (std::size_t i = 0; i < 4; ++i) {
    const auto date = DescriptorDate(fields.dates[i], fields.offsets[i]);
    std::memcpy(sector + kDates + 17 * i, date.data(), date.size());
  }
}

std::string FieldTooLong(const VolumeFields& fields) {
  for (const TextField& field : kTextFields) {
    const std::size_t length = DescriptorLength(fields.*field.member);
    if (length > field.limit) {
      return FormatText(kConsoleTextLimit, "the %s is %zu characters long; it holds at most %zu",
                        field.name, length, field.limit);
    }
  }
  return {};
}

std::string PrimaryDescriptorNote(const VolumeFields& fields) {
  for (const TextField& field : kTextFields) {
    const std::string& text = fields.*field.member;
    const std::string shown = DescriptorText(text, field.limit);
    if (std::any_of(text.begin(), text.end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80;
        })) {
      return FormatText(kConsoleTextLimit,
                        "The primary descriptor holds the %s \"%s\" as \"%s\" (ISO 9660 has no "
                        "other characters); the Joliet descriptor keeps it as typed",
                        field.name, text.c_str(), shown.c_str());
    }
  }
  return {};
}

ImageResult BuildIsoImage(const VolumeFields& fields, const std::vector<std::string>& sources,
                          const std::string& output, Console* log, const std::atomic<bool>& run) {
  ImageResult result;
  // Refused before anything is opened for writing: an image written over one of its own
  // sources (or into one) would destroy what it is made of.
  result.error = OutputConflict(output, sources);
  if (result.error.empty()) result.error = FieldTooLong(fields);
  if (!result.error.empty()) return result;
  std::unique_lock busy(BuildMutex(), std::try_to_lock);
  if (!busy.owns_lock()) {
    result.error = "another image is being written";
    return result;
  }
  StartLibrary();
  TakeMessages();  // nothing left over from an earlier build

  IsoImage* raw_image = nullptr;
  const std::string volume = DescriptorText(fields.volume, 31);
  int status = iso_image_new(volume.c_str(), &raw_image);
  if (status < 0) {
    result.error = LibraryError(status);
    return result;
  }
  std::unique_ptr<IsoImage, ImageDeleter> image(raw_image);
  // The Joliet descriptor takes these in UCS-2; the primary one is written below.
  iso_image_set_volume_id(image.get(), fields.volume.c_str());
  iso_image_set_system_id(image.get(), fields.system.c_str());
  iso_image_set_volset_id(image.get(), fields.volume_set.c_str());
  iso_image_set_publisher_id(image.get(), fields.publisher.c_str());
  iso_image_set_data_preparer_id(image.get(), fields.preparer.c_str());
  iso_image_set_application_id(image.get(), fields.application.c_str());
  iso_image_set_copyright_file_id(image.get(), fields.copyright_file.c_str());
  iso_image_set_abstract_file_id(image.get(), fields.abstract_file.c_str());
  iso_image_set_biblio_file_id(image.get(), fields.bibliographic_file.c_str());
  iso_tree_set_follow_symlinks(image.get(), 0);
  iso_tree_set_ignore_hidden(image.get(), 0);

  for (const std::string& source : sources) {
    if (!run.load()) {
      result.stopped = true;
      result.error = "stopped";
      return result;
    }
    result.error = AddSource(image.get(), source);
    if (!result.error.empty()) return result;
  }

  IsoWriteOpts* raw_options = nullptr;
  status = iso_write_opts_new(&raw_options, 0);
  if (status < 0) {
    result.error = LibraryError(status);
    return result;
  }
  std::unique_ptr<IsoWriteOpts, OptionsDeleter> options(raw_options);
  iso_write_opts_set_iso_level(options.get(), 3);  // files of 4 GiB and more
  iso_write_opts_set_rockridge(options.get(), 1);
  iso_write_opts_set_joliet(options.get(), 1);
  iso_write_opts_set_joliet_long_names(options.get(), 1);
  iso_write_opts_set_joliet_longer_paths(options.get(), 1);
  iso_write_opts_set_joliet_utf16(options.get(), 1);
  iso_write_opts_set_allow_deep_paths(options.get(), 1);
  iso_write_opts_set_fifo_size(options.get(), kFifoBlocks);

  burn_source* raw_source = nullptr;
  status = iso_image_create_burn_source(image.get(), options.get(), &raw_source);
  if (status < 0) {
    result.error = LibraryError(status);
    return result;
  }
  std::unique_ptr<burn_source, SourceDeleter> stream(raw_source);
  const auto total = static_cast<std::uint64_t>(stream->get_size(stream.get()));

  // The image goes to a temporary file beside the target and replaces it only when whole:
  // a failed or stopped build leaves an existing file as it was, and nothing else behind.
  OutputFile file;
  int file_error = 0;
  auto file_failure = [&output](int error) {
    return FormatText(kConsoleTextLimit, "%s: %s", output.c_str(), std::strerror(error));
  };
  if (!file.Create(output, &file_error)) {
    result.error = file_failure(file_error);
    stream->cancel(stream.get());
    return result;
  }
  const int fd = file.Descriptor();
  auto fail = [&](std::string why) {
    file.Abandon();
    result.error = std::move(why);
    result.ok = false;
  };

  std::vector<std::uint8_t> buffer(kChunk);
  std::uint64_t done = 0;
  int reported = 0;
  bool descriptors_done = false;
  while (done < total) {
    if (!run.load()) {
      stream->cancel(stream.get());
      result.stopped = true;
      fail("stopped");
      return result;
    }
    const std::size_t want = ReadyBytes(stream.get(), total - done, run);
    std::size_t have = 0;
    while (have < want) {
      const int got =
          stream->read_xt(stream.get(), buffer.data() + have, static_cast<int>(want - have));
      if (got <= 0) break;
      have += static_cast<std::size_t>(got);
    }
    if (have < want) {
      const std::string why = TakeMessages();
      fail(why.empty() ? "the image ended early" : why);
      return result;
    }
    // The volume descriptors start at sector 16 and end with the terminator (type 255).
    for (std::uint64_t at = 0; !descriptors_done && at < have; at += kSectorBytes) {
      const std::uint64_t sector = (done + at) / kSectorBytes;
      if (sector < 16) continue;
      std::uint8_t* data = buffer.data() + at;
      if (std::memcmp(data + 1, "CD001", 5) != 0 || data[0] == 255) {
        descriptors_done = true;
      } else if (data[0] == 1 || data[0] == 2) {
        PatchVolumeDescriptor(fields, data);
      }
    }
    // Runs of zeros (a sparse file's holes, padding) stay holes in the file.
    const bool zeros =
        buffer[0] == 0 && std::memcmp(buffer.data(), buffer.data() + 1, have - 1) == 0;
    if (zeros) {
      if (lseek(fd, static_cast<off_t>(have), SEEK_CUR) < 0) {
        const int error = errno;
        stream->cancel(stream.get());
        fail(file_failure(error));
        return result;
      }
    } else if (!WriteAll(fd, buffer.data(), have)) {
      const int error = errno;
      stream->cancel(stream.get());
      fail(file_failure(error));
      return result;
    }
    done += have;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent / 10 > reported / 10 && percent < 100) {
      reported = percent;
      ConsoleLog(log, "Image: %3d%%\n", percent);
    }
  }
  const std::string complaints = TakeMessages();
  if (!complaints.empty()) {
    fail(complaints);
    return result;
  }
  // A file that ends in a hole gets its full length.
  if (ftruncate(fd, static_cast<off_t>(done)) != 0) {
    fail(file_failure(errno));
    return result;
  }
  if (!file.Commit(&file_error)) {
    result.error = file_failure(file_error);
    return result;
  }
  result.ok = true;
  result.bytes = done;
  return result;
}

}  // namespace zorvane
