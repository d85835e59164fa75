// The two diagnostic logs ("log.txt" for message boxes, "Debuglog.txt" for everything)
// and the one function through which every message box of the program passes.
//
// Each record is "\n[DD-MM-YYYY hh:mm:ss] " and the text, appended to the file in the logs
// folder that diag/FileFolders.h chooses at the first write (the working directory, unless
// the program was started from a desktop menu); the path is kept for the rest of the run.
// A file that cannot be opened drops the record silently.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/Platform.h"

namespace vantrel {

// Message box styles and button codes, with their Win32 values.
enum : int {
  kBoxOk = 0,
  kBoxYesNo = 4,
  kBoxStop = 16,
};
enum : int {
  IDOK = 1,
  IDYES = 6,
  IDNO = 7,
};

// Longest text formatted for a box (a 4096-byte buffer with its terminator).
inline constexpr int kMessageLimit = 4095;

// printf-style formatting cut at kMessageLimit characters, as messages are.
std::string FormatLimited(const char* format, va_list args);
// The same, whole, however long.
std::string FormatWhole(const char* format, va_list args);
// Appends one record to a log file, opened and closed for it, on a line of its own (a
// message-box record before it may end without a line break). False when the file cannot
// be written.
bool AppendLogRecord(const std::string& path, const std::string& record);

// Shows a message box and returns the button that closed it. The program installs one
// that shows a real box; tests install one that records and answers.
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  virtual int Present(const std::string& text, int type) = 0;
};

// nullptr restores the default, which prints the text to standard error and answers
// OK (No for a Yes/No question).
void SetMessagePresenter(MessagePresenter* presenter);

// Appends one record to "Debuglog.txt"; the formatted text is not cut.
void WriteDebugLog(const char* format, ...) VANTREL_PRINTF(1, 2);
// The same for a text taken literally.
void WriteDebugLogText(const std::string& text);
// Appends one record to "log.txt" and the same text, cut at 4095 characters, to the debug
// log. Nothing goes to either when "log.txt" cannot be opened.
void WriteLog(const char* format, ...) VANTREL_PRINTF(1, 2);

// Shows the formatted text (cut at 4095) in a box of style type, records the text and
// the answer in both logs and returns the button code.
int MessageAndLog(int type, const char* format, ...) VANTREL_PRINTF(2, 3);
// MessageAndLog with a plain OK box.
int ShowMessage(const char* format, ...) VANTREL_PRINTF(1, 2);
// Shows a box through the presenter without recording anything (for the activity log's
// own "Can not save to log", which must not reach the logs it failed to write).
int ShowUnloggedBox(const std::string& text, int type);
// Reports a condition the code treats as impossible, naming where it was raised.
int Panic(const char* file, int line, const char* date, const char* time, const char* message);

// Debug records are written while this is on (always, unless a test turns it off).
extern bool debug_log_enabled;

// The paths in use (computed at first use).
const std::string& DebugLogPath();
const std::string& MessageLogPath();
// Forgets both paths, so the next record computes them again (tests only).
void ResetLogPathsForTesting();

}  // namespace vantrel
