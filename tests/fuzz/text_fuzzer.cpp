// Text and reply parsers that take untrusted input: the hex parser of the command area,
// CommandSet.txt (decoding, lines, command texts), --drive options and sense data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/command_set.h"
#include "app/manual_command.h"
#include "transport/backend.h"
#include "transport/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zorvane;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::uint8_t cdb[kCdbBufferSize];
  ParseHexBytes(text, cdb, sizeof cdb);

  const std::string decoded = DecodeCommandSetText(text);
  for (const std::string& line : CommandSetLines(decoded)) {
    const std::string command = CommandTextOf(line);
    ParseHexBytes(command, cdb, sizeof cdb);
  }

  DriveMapping mapping;
  std::string error;
  ParseDriveOption(text, &mapping, &error);

  std::uint8_t fixed[kSenseLength];
  ToFixedSense(data, size, fixed);
  return 0;
}
