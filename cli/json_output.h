// The command line's JSON documents (--json): one document on standard output per run,
// with the decoded fields of a report or the outcome of a job; the command trace and
// progress stay on standard error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/json_writer.h"

namespace zorvane {

struct CommandContext;

// What a job's command knows at its end, filled by the command where it decides its exit
// status; what it leaves empty is left out of the summary.
struct JobSummary {
  std::optional<std::uint64_t> sectors_done;
  std::optional<std::uint64_t> sectors_total;
  std::string output;  // the file the job wrote, or the disc it changed
  std::string kept;    // what a failed or stopped job kept ("kept N sectors in NAME.part")
  std::string reason;  // why the job failed or stopped, in words
  // Members of the job's own (figures of a scan), written inside the document.
  std::function<void(JsonWriter&)> fields;
};

// Runs one of the reports (devices, probe, caps, capacity, toc, maker, speeds) and prints
// its document; the exit status is the text report's.
int RunReportJson(CommandContext& context, const char* name);

// The summary document of a job that ended with `exit_status`; `error` is what the job
// gave on standard error as its reason, used when the summary names none.
void PrintJobSummary(CommandContext& context, const char* name, int exit_status,
                     const std::string& error);

// The document of a command that failed before it ran (no drive found): the common
// members alone.
void PrintFailureDocument(CommandContext& context, const char* name, int exit_status,
                          const std::string& error);

// Standard error for a run with --json: what is written passes through to `err`, and the
// lines that begin "zorvane-cli: NAME: " are kept, joined by "; ", as the job's reason for
// its summary (a job says why it failed or stopped there, sometimes in two lines).
class ReasonCapture {
 public:
  ReasonCapture(std::FILE* err, const std::string& name);
  ~ReasonCapture();
  ReasonCapture(const ReasonCapture&) = delete;
  ReasonCapture& operator=(const ReasonCapture&) = delete;
  std::FILE* Stream() const { return stream_ != nullptr ? stream_ : err_; }
  // The reasons seen (without the prefix and the line ends).
  std::string Reason() const;

 private:
  static long Write(void* cookie, const char* data, std::size_t size);
  std::FILE* err_;
  std::FILE* stream_ = nullptr;
  std::string prefix_;
  std::string line_;
  std::string reason_;
};

// The sense code named in a reason ("SK/ASC/ASCQ=52400h"), or nothing.
std::optional<std::uint32_t> SenseInReason(const std::string& reason);

}  // namespace zorvane
