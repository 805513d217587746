#include "app/command_set.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "transport/console.h"

namespace zorvane {

namespace {

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    std::uint32_t code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      code = code << 6 | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    if ((extra == 1 && code < 0x80) || (extra == 2 && code < 0x800) ||
        (extra == 3 && code < 0x10000) || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string FromBig5(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP950");
  if (cd ==
      reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's error value
    return std::string(bytes);
  }
  std::string out;
  out.reserve(bytes.size() * 3 / 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char buffer[4096];
  while (in_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    const std::size_t result = iconv(cd, &in, &in_left, &dst, &dst_left);
    out.append(buffer, sizeof buffer - dst_left);
    if (result == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // An invalid or cut-off sequence: replace its first byte and go on.
      out.append("\xEF\xBF\xBD");
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

int CompareIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    };
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

}  // namespace

std::string DecodeCommandSetText(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return FromBig5(bytes);
}

std::vector<std::string> CommandSetLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) break;  // an unterminated last line is not listed
    if (end > start) {
      const std::string_view line = text.substr(start, end - start);
      lines.emplace_back(line.substr(0, Utf8PrefixLength(line, kCommandSetLineLimit)));
    }
    start = end + 2;
  }
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    const int folded = CompareIgnoringCase(a, b);
    return folded != 0 ? folded < 0 : a < b;
  });
  return lines;
}

std::string CommandTextOf(std::string_view line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return {};
  std::size_t begin = equals + 1;
  while (begin < line.size() && line[begin] == ' ') ++begin;
  const std::size_t semicolon = line.find(';', begin);
  return std::string(line.substr(
      begin, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - begin));
}

std::string CommandSetPath(const std::string& directory) {
  return directory + "/" + kCommandSetFileName;
}

namespace {

// Closes a descriptor when the read ends.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// UTF-16 text, with or without a byte order mark, holds zero bytes; so does any binary
// file. Neither is a list of commands in a byte-oriented code page.
bool LooksLikeUtf16OrBinary(std::string_view bytes) {
  if (bytes.size() >= 2 &&
      ((bytes[0] == '\xFF' && bytes[1] == '\xFE') || (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    return true;
  }
  return bytes.find('\0') != std::string_view::npos;
}

}  // namespace

bool ReadCommandSet(const std::string& path, std::vector<std::string>* lines, std::string* error) {
  lines->clear();
  const std::string head = "Can not open " + path;
  auto fail = [&](const std::string& why) {
    *error = why.empty() ? head : head + " (" + why + ")";
    return false;
  };
  // Not blocking: a FIFO without a writer would otherwise wait for one for good.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (file.fd < 0) return fail(errno == ENOENT ? "" : std::strerror(errno));
  struct stat info;
  if (::fstat(file.fd, &info) != 0) return fail(std::strerror(errno));
  if (S_ISDIR(info.st_mode)) return fail("a directory");
  if (!S_ISREG(info.st_mode)) return fail("not a regular file");
  if (static_cast<std::uint64_t>(info.st_size) > kCommandSetFileLimit) {
    return fail("larger than 1 MB");
  }
  // Read to the end, but never more than the limit (the file may grow meanwhile).
  std::string bytes;
  char chunk[16384];
  for (;;) {
    const ssize_t got = ::read(file.fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(std::strerror(errno));
    if (got == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
    if (bytes.size() > kCommandSetFileLimit) return fail("larger than 1 MB");
  }
  if (LooksLikeUtf16OrBinary(bytes)) {
    return fail("UTF-16 or binary text: save the list as UTF-8 or Big5 text");
  }
  *lines = CommandSetLines(DecodeCommandSetText(bytes));
  return true;
}

}  // namespace zorvane
