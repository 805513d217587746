#include "base/options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "transport/exclusive_use.h"
#include "transport/virtual_backend.h"
#include "transport/vocabulary.h"

namespace zorvane {

namespace {

// "--name VALUE" or "--name=VALUE"; false when args[*index] is not this option.
bool TakeValue(const std::vector<std::string>& args, std::size_t* index, std::string_view name,
               std::string* value, bool* missing) {
  const std::string& arg = args[*index];
  *missing = false;
  if (arg == name) {
    if (*index + 1 >= args.size()) {
      *missing = true;
      return true;
    }
    *value = args[++*index];
    return true;
  }
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 &&
      arg[name.size()] == '=') {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

// The reason a device spec gives no drive, in a user's words.
std::string WhyNoDrive(const std::string& spec, std::uint8_t slot) {
  int error = 0;
  std::unique_ptr<DeviceHandle> handle = OpenDevice(spec, slot, &error);
  std::string reason;
  if (!handle) {
    reason = IsDeviceNode(spec) ? OpenErrorText(spec, error != 0 ? error : ENODEV)
                                : std::strerror(error != 0 ? error : ENODEV);
  } else {
    PassThroughRequest request;
    std::uint8_t reply[256] = {};
    request.cdb[0] = 0x12;
    request.cdb[4] = 0xFF;
    request.cdb_length = 6;
    request.path_id = slot;
    request.direction = kDataIn;
    request.transfer_length = sizeof reply;
    request.buffer = reply;
    error = handle->Execute(request);
    const SenseCode code = SenseCodeOf(request.sense);
    if (error != 0) {
      reason = std::strerror(error);
      if (error == ENOTTY || error == EINVAL) reason += " (not a SCSI or optical drive)";
    } else if (code != 0) {
      const char* text = SenseText(code);
      std::string sense = text != nullptr ? text : "";
      while (!sense.empty() && sense.back() == '\n') sense.pop_back();
      char figure[32];
      std::snprintf(figure, sizeof figure, "%lXh", static_cast<unsigned long>(code));
      reason = "the drive refused INQUIRY (SK/ASC/ASCQ=" + std::string(figure) +
               (sense.empty() ? "" : ", " + sense) + ")";
    } else {
      reason = "it answered INQUIRY only now (try again)";
    }
  }
  // A spec that is neither a path nor SCHEME:... is most likely a virtual drive without
  // its preset.
  if (spec.find('/') == std::string::npos && spec.find(':') == std::string::npos) {
    reason += "; a device node is a path such as /dev/sr0, a virtual drive virtual:PRESET";
  }
  return reason;
}

}  // namespace

std::vector<std::string> ExplainMissingDrives() {
  std::vector<std::string> lines;
  for (std::uint8_t slot = 0; slot < kSlotCount; ++slot) {
    const std::string& spec = DeviceSpec(slot);
    if (spec.empty()) continue;
    lines.push_back(std::string(DriveName(slot)) + " " + spec + ": " + WhyNoDrive(spec, slot));
  }
  return lines;
}

OptionResult TakeFrontEndOption(const std::vector<std::string>& args, std::size_t* index,
                                FrontEndOptions* options, std::string* error) {
  std::string value;
  bool missing = false;
  if (TakeValue(args, index, "--drive", &value, &missing)) {
    if (missing) {
      *error = "--drive needs L=SPEC";
      return OptionResult::kError;
    }
    DriveMapping mapping;
    if (!ParseDriveOption(value, &mapping, error)) return OptionResult::kError;
    if (!ValidateDeviceSpec(mapping.spec, error)) return OptionResult::kError;
    options->mappings.push_back(mapping);
    return OptionResult::kTaken;
  }
  if (args[*index] == "--demo") {
    options->demo = true;
    return OptionResult::kTaken;
  }
  if (TakeValue(args, index, "--device", &value, &missing)) {
    std::string_view letter = value;
    if (letter.size() == 2 && letter[1] == ':') letter.remove_suffix(1);
    options->device_slot = letter.size() == 1 ? SlotOfLetter(letter[0]) : -1;
    if (missing || options->device_slot < 0) {
      *error = "--device needs a drive letter d..j";
      return OptionResult::kError;
    }
    return OptionResult::kTaken;
  }
  return OptionResult::kNotAnOption;
}

const char* FrontEndOptionsHelp() {
  return "  --drive L=SPEC  attach drive letter L (d..j) to SPEC: a device node such as\n"
         "                  /dev/sr0 or /dev/sg3, or a virtual drive\n"
         "                  virtual:PRESET[,KEY=VALUE]... (see vdrive/README.md);\n"
         "                  repeatable; any --drive replaces the default map\n"
         "                  (d: to j: = /dev/sr0 to /dev/sr6)\n"
         "  --demo          attach the demo drives: d: blank CD-R, e: DVD+RW,\n"
         "                  f: audio CD, g: DVD-ROM (a --drive for the same letter wins)\n"
         "  --device L      make drive L the current device (default: the first found)\n";
}

std::vector<DriveMapping> RequestedMappings(const FrontEndOptions& options) {
  if (!options.demo) return options.mappings;
  std::vector<DriveMapping> mappings = DemoDriveMappings();
  for (const DriveMapping& option : options.mappings) {
    bool replaced = false;
    for (DriveMapping& mapping : mappings) {
      if (mapping.slot == option.slot) {
        mapping = option;
        replaced = true;
      }
    }
    if (!replaced) mappings.push_back(option);
  }
  return mappings;
}

bool SelectStartDevice(const FrontEndOptions& options, std::string* error) {
  if (DeviceCount == 0) return false;
  SelectDevice(DeviceTable[0]);
  if (options.device_slot < 0) return true;
  for (int row = 0; row < DeviceCount; ++row) {
    if (DeviceTable[row].slot == options.device_slot) {
      SelectDevice(DeviceTable[row]);
      return true;
    }
  }
  *error = std::string("no drive at ") + DriveName(static_cast<std::uint8_t>(options.device_slot));
  return false;
}

}  // namespace zorvane
