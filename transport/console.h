// Output ports shared by every operation: the two console panes and the message box.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace zorvane {

// A console pane: text is appended at its end, or the whole pane is emptied.
// Implementations must accept calls from any thread.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Append(std::string_view text) = 0;
  virtual void Clear() = 0;
};

// A message box: caption and text, returns when the user has seen it.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Show(std::string_view caption, std::string_view text) = 0;
};

// The command console (traces and command-level failures) and the information console
// (reports and messages). Null until a front end sets them; output to null is dropped.
extern std::atomic<Console*> CommandConsole;
extern std::atomic<Console*> InfoConsole;
// Where ShowMessage goes. Null drops the message.
extern std::atomic<MessageSink*> MessageBoxSink;

// Longest text one ConsoleLog or ShowMessage call produces, in bytes.
inline constexpr std::size_t kConsoleTextLimit = 1023;

// Formats printf-style into at most kConsoleTextLimit bytes and appends it to the console.
// A text cut at the limit is cut at a UTF-8 character boundary.
void ConsoleLog(Console* console, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Formats printf-style into at most kConsoleTextLimit bytes and shows it in a message box.
void ShowMessage(const char* caption, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// printf-style formatting into a std::string of at most `limit` bytes, cut at a UTF-8
// character boundary.
std::string FormatText(std::size_t limit, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Length of the longest prefix of `text` not above `limit` bytes that ends on a UTF-8
// character boundary.
std::size_t Utf8PrefixLength(std::string_view text, std::size_t limit);

// A console that keeps everything in memory: used by tests and by front ends that
// collect a report before showing it.
class StringConsole : public Console {
 public:
  void Append(std::string_view text) override;
  void Clear() override;
  std::string Text() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// A message sink that keeps every message as "CAPTION: TEXT" lines.
class StringMessageSink : public MessageSink {
 public:
  void Show(std::string_view caption, std::string_view text) override;
  std::string Text() const;
  int Count() const;

 private:
  mutable std::mutex mutex_;
  std::string text_;
  int count_ = 0;
};

}  // namespace zorvane
