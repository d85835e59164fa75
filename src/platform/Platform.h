// What differs between Linux and Windows below the window, outside the links: the local
// time, folders, processes, and the file calls that a safe replace of a file needs. Every
// other part is written once against these and the standard library.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// The printf checks of a function that formats through the C library's vsnprintf. MinGW's
// C++ library takes its own ISO vsnprintf (%zu and all), which the gnu_printf kind checks;
// plain printf there means Microsoft's older set. Other compilers check nothing.
#if defined(__MINGW32__)
#define VANTREL_PRINTF(string, first) __attribute__((format(gnu_printf, string, first)))
#elif defined(__GNUC__)
#define VANTREL_PRINTF(string, first) __attribute__((format(printf, string, first)))
#else
#define VANTREL_PRINTF(string, first)
#endif

namespace vantrel::platform {

// How a text file's lines end: LF, and CR LF on Windows.
#ifdef _WIN32
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif

// What an errno value means, as strerror says it on Linux. Windows' C library has no text
// for the network errors (ECONNREFUSED, ECONNRESET, ETIMEDOUT, ...), which the links give
// there too: those are told here in the same words.
std::string ErrorText(int err);

// The local time of a moment (localtime_r; localtime_s on Windows).
std::tm LocalTime(std::time_t when);
// How far the local time of a moment is ahead of UTC, in seconds (west of Greenwich: less
// than 0).
long UtcOffsetSeconds(std::time_t when);

// Calls onStop (from a signal handler: it may only set a flag) when the user asks a
// command-line program to stop: Ctrl+C, or SIGTERM on Linux and Ctrl+Break on Windows.
void CatchStop(void (*onStop)(int));
// Calls onStop too when the terminal that started the program goes away (SIGHUP); Windows
// has no such signal.
void CatchHangUp(void (*onStop)(int));
// A write to a pipe or socket whose reader has gone fails with EPIPE instead of ending the
// program (SIGPIPE); Windows never ends it so.
void IgnoreBrokenPipe();

// Where a user's files go when the working folder is no place for them: the settings in a
// folder that roams with the user, the logs in one of this machine. Linux follows the XDG
// rules ($XDG_CONFIG_HOME, default ~/.config; $XDG_STATE_HOME, default ~/.local/state);
// Windows the profile's folders (%APPDATA%, default <profile>\AppData\Roaming;
// %LOCALAPPDATA%, default <profile>\AppData\Local). The program's folder is made in each.
struct UserFolderRule {
  const char* homeVariable;
  const char* settingsVariable;
  const char* logsVariable;
  const char* settingsUnderHome;  // when its variable is unset or not an absolute path
  const char* logsUnderHome;
  const char* programFolder;
};
#ifdef _WIN32
inline constexpr UserFolderRule kUserFolders = {"USERPROFILE",     "APPDATA",       "LOCALAPPDATA",
                                                "AppData\\Roaming", "AppData\\Local", "Vantrel Modbus Scanner"};
#else
inline constexpr UserFolderRule kUserFolders = {"HOME",    "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                                ".config", ".local/state",    "vantrel-modbus-scanner"};
#endif

// Makes one folder, its parent being there: with mode 0700, as the XDG rules ask for the
// folders of a user's files; Windows has no mode, the user's profile keeps it private.
// Nothing happens when it is there already.
void MakeFolder(const std::string& path);

// This process's id, and whether no process of that id runs any more.
int ProcessId();
bool ProcessGone(int pid);

// A file made anew for writing, never one that is there (O_EXCL), kept from child
// processes; -1 with errno set on failure. Mode 0666 lets the umask decide.
int CreateNewFile(const std::string& path);
// Gives an open file the permission bits of the regular file at from, when there is one.
// Windows has no bits to copy.
void CopyPermissions(int fd, const std::string& from);
// Writes all of size bytes; false with errno set on failure.
bool WriteAll(int fd, const char* data, std::size_t size);
// Flushes an open file to the disk; false with errno set on failure. A file system that has
// nothing to flush for the file is not a failure.
bool FlushFile(int fd);
// Closes an open file; false with errno set on failure.
bool CloseFile(int fd);
// Removes a file; false with errno set on failure.
bool RemoveFile(const std::string& path);
// Renames from over to, replacing to when it is there; false with errno set on failure.
bool RenameOver(const std::string& from, const std::string& to);
// Makes a rename in the folder reach the disk with the folder's entry (Linux); Windows
// writes it through with the rename itself.
void FlushFolder(const std::string& folder);

}  // namespace vantrel::platform
