#include "transport/console.h"

#include <cstdarg>
#include <cstdio>

namespace zorvane {

std::atomic<Console*> CommandConsole{nullptr};
std::atomic<Console*> InfoConsole{nullptr};
std::atomic<MessageSink*> MessageBoxSink{nullptr};

namespace {

std::string VFormat(std::size_t limit, const char* format, va_list args) {
  // A few bytes beyond the limit are kept so that a character straddling it is seen whole
  // and left out, rather than cut in the middle of its UTF-8 sequence.
  char buffer[kConsoleTextLimit + 8];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return {};
  const std::size_t got = static_cast<std::size_t>(n) < sizeof buffer - 1
                              ? static_cast<std::size_t>(n)
                              : sizeof buffer - 1;
  const std::string_view text(buffer, got);
  const std::size_t cap = limit < kConsoleTextLimit ? limit : kConsoleTextLimit;
  return std::string(text.substr(0, Utf8PrefixLength(text, cap)));
}

}  // namespace

std::size_t Utf8PrefixLength(std::string_view text, std::size_t limit) {
  if (text.size() <= limit) return text.size();
  std::size_t end = limit;
  // Step back over continuation bytes to the lead byte of the character that straddles
  // the limit, and leave that character out.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

std::string FormatText(std::size_t limit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(limit, format, args);
  va_end(args);
  return text;
}

void ConsoleLog(Console* console, const char* format, ...) {
  if (console == nullptr) return;
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(kConsoleTextLimit, format, args);
  va_end(args);
  console->Append(text);
}

void ShowMessage(const char* caption, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = VFormat(kConsoleTextLimit, format, args);
  va_end(args);
  if (MessageSink* sink = MessageBoxSink.load()) sink->Show(caption, text);
}

void StringConsole::Append(std::string_view text) {
  std::lock_guard lock(mutex_);
  text_.append(text);
}

void StringConsole::Clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
}

std::string StringConsole::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

void StringMessageSink::Show(std::string_view caption, std::string_view text) {
  std::lock_guard lock(mutex_);
  text_.append(caption);
  text_.append(": ");
  text_.append(text);
  if (text.empty() || text.back() != '\n') text_.push_back('\n');
  ++count_;
}

std::string StringMessageSink::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

int StringMessageSink::Count() const {
  std::lock_guard lock(mutex_);
  return count_;
}

}  // namespace zorvane
