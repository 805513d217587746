#include "info/outcome.h"

#include "info/media.h"
#include "transport/console.h"
#include "transport/vocabulary.h"

namespace zorvane {

Outcome CommandFailed(const std::uint8_t* cdb, std::int32_t result) {
  const char* name = CommandName(cdb[0]);
  if (result == -1) {
    return Failed(std::string(name) + " could not be sent to the drive (the request failed)");
  }
  std::string text = SenseText(result) != nullptr ? SenseText(result) : "";
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return Failed(FormatText(kConsoleTextLimit, "the drive refused %s (SK/ASC/ASCQ=%lXh%s%s)", name,
                           static_cast<unsigned long>(result), text.empty() ? "" : ", ",
                           text.c_str()));
}

Outcome ProbeFailed(std::uint8_t code) {
  switch (code) {
    case kMediumNoDisc:
      return Failed("no disc in the drive");
    case kMediumDoorOpen:
      return Failed("the tray is open");
    default:
      return Failed("the drive did not answer (it could not be opened or the request failed)");
  }
}

}  // namespace zorvane
