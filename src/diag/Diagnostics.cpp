#include "diag/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "diag/Clock.h"
#include "diag/FileFolders.h"
#include "platform/Platform.h"

namespace vantrel {

bool debug_log_enabled = true;

namespace {

class ConsolePresenter final : public MessagePresenter {
 public:
  int Present(const std::string& text, int type) override {
    std::cerr << text << '\n';
    return type == kBoxYesNo ? IDNO : IDOK;
  }
};

ConsolePresenter g_console;
MessagePresenter* g_presenter = &g_console;

std::string g_debugPath;
std::string g_messagePath;

const std::string& PathOf(std::string& cached, const char* name) {
  if (cached.empty()) {
    const std::string folder = ProgramFileFolders().logs;
    // The working folder is there; the XDG logs folder may not be, the first time.
    MakeFolders(folder);
    cached = folder + "/" + name;
  }
  return cached;
}

void WriteStamp(std::FILE* f) {
  const std::time_t now = Now();
  const std::tm t = platform::LocalTime(now);
  std::fprintf(f, "\n[%02d-%02d-%02d %02d:%02d:%02d] ", t.tm_mday, t.tm_mon + 1,
               t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
}

void AppendDebugRecord(const char* text) {
  if (!debug_log_enabled) return;
  std::FILE* f = std::fopen(DebugLogPath().c_str(), "a");
  if (f == nullptr) return;
  WriteStamp(f);
  std::fputs(text, f);
  std::fclose(f);
}

}  // namespace

std::string FormatLimited(const char* format, va_list args) {
  char buf[kMessageLimit + 1];
  std::vsnprintf(buf, sizeof buf, format, args);
  return buf;
}

std::string FormatWhole(const char* format, va_list args) {
  va_list sizing;
  va_copy(sizing, args);
  const int n = std::vsnprintf(nullptr, 0, format, sizing);
  va_end(sizing);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<std::size_t>(n));
  return text;
}

bool AppendLogRecord(const std::string& path, const std::string& record) {
  std::FILE* f = std::fopen(path.c_str(), "a+");
  if (f == nullptr) return false;
  if (std::fseek(f, -1, SEEK_END) == 0 && std::fgetc(f) != '\n') {
    std::fseek(f, 0, SEEK_END);
    std::fputc('\n', f);
  }
  std::fseek(f, 0, SEEK_END);
  std::fputs(record.c_str(), f);
  std::fputc('\n', f);
  return std::fclose(f) == 0;
}

void SetMessagePresenter(MessagePresenter* presenter) {
  g_presenter = presenter ? presenter : &g_console;
}

const std::string& DebugLogPath() { return PathOf(g_debugPath, "Debuglog.txt"); }
const std::string& MessageLogPath() { return PathOf(g_messagePath, "log.txt"); }

void ResetLogPathsForTesting() {
  g_debugPath.clear();
  g_messagePath.clear();
}

void WriteDebugLog(const char* format, ...) {
  if (!debug_log_enabled) return;
  std::FILE* f = std::fopen(DebugLogPath().c_str(), "a");
  if (f == nullptr) return;
  WriteStamp(f);
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fclose(f);
}

void WriteDebugLogText(const std::string& text) { AppendDebugRecord(text.c_str()); }

void WriteLog(const char* format, ...) {
  std::FILE* f = std::fopen(MessageLogPath().c_str(), "a");
  if (f == nullptr) return;
  WriteStamp(f);
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  std::vfprintf(f, format, args);
  std::fclose(f);
  const std::string limited = FormatLimited(format, again);
  va_end(again);
  va_end(args);
  AppendDebugRecord(limited.c_str());
}

namespace {
int PresentAndLog(int type, const std::string& text) {
  WriteLog("MessageAndLog iType=[%d] msg=[%s]", type, text.c_str());
  const int button = g_presenter->Present(text, type);
  WriteLog("MessageAndLog return = [ %d]", button);
  return button;
}
}  // namespace

int MessageAndLog(int type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatLimited(format, args);
  va_end(args);
  return PresentAndLog(type, text);
}

int ShowMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = FormatLimited(format, args);
  va_end(args);
  return PresentAndLog(kBoxOk, text);
}

int ShowUnloggedBox(const std::string& text, int type) { return g_presenter->Present(text, type); }

int Panic(const char* file, int line, const char* date, const char* time, const char* message) {
  return ShowMessage(
      "PANIC!\r\n\r\nFile=[%s] \r\nLine=[%d]\r\nDate=[%s]\r\nTime=[%s]\r\n\r\nMessage=[%s]", file,
      line, date, time, message);
}

}  // namespace vantrel
