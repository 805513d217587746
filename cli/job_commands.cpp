// The jobs' commands, one group per job folder, in the order `--help` lists them.
#include "cli/cli_support.h"

namespace zorvane {

const std::vector<std::function<std::vector<Command>()>>& JobCommandGroups() {
  static const std::vector<std::function<std::vector<Command>()>> groups = {
      ReadCommands,
      ScanCommands,
      WriteCommands,
      IsoCommands,
  };
  return groups;
}

}  // namespace zorvane
