#include "settings/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "diag/Diagnostics.h"
#include "platform/Platform.h"

namespace vantrel {
namespace {

// The folder of a file, by the platform's separators: on Windows a backslash as well as a slash.
std::string FolderOf(const std::string& file) {
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  return folder.empty() ? "." : folder.string();
}

// The digits of text from at up to the first non-digit, as a number without leading
// zeros, as std::to_string writes it; -1 when there are none or it is not so written.
// At most 18 digits are taken, so the number fits; more fail the caller's next check.
long long NumberAt(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 18) ++at;
  if (at == start || (text[start] == '0' && at - start > 1)) return -1;
  return std::stoll(text.substr(start, at - start));
}

// The pid in a temporary file name of ours, "." + base + "." + pid + "." + counter +
// ".tmp", or -1 when name is not exactly of that form.
int TemporaryOwner(const std::string& name, const std::string& base) {
  const std::string prefix = "." + base + ".";
  const std::string suffix = ".tmp";
  if (name.size() < prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return -1;
  }
  const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  std::size_t at = 0;
  const long long pid = NumberAt(middle, at);
  if (pid <= 0 || pid > INT_MAX || at >= middle.size() || middle[at] != '.') return -1;
  ++at;
  if (NumberAt(middle, at) < 0 || at != middle.size()) return -1;
  return static_cast<int>(pid);
}

// A save killed part way leaves its temporary file behind for good. Those of processes
// that no longer run are removed; one of a live process may be a save in progress.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base, const char* who) {
  namespace fs = std::filesystem;
  std::error_code error;
  std::vector<std::pair<std::string, int>> stale;
  for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const int pid = TemporaryOwner(name, base);
    if (pid > 0 && pid != platform::ProcessId() && platform::ProcessGone(pid)) {
      stale.emplace_back(folder + "/" + name, pid);
    }
  }
  std::sort(stale.begin(), stale.end());
  for (const auto& [file, pid] : stale) {
    if (fs::is_regular_file(fs::symlink_status(file, error)) && platform::RemoveFile(file)) {
      WriteDebugLog("%s removed [%s], left by process %d, which no longer runs", who, file.c_str(),
                    static_cast<int>(pid));
    }
  }
}

}  // namespace

bool ReplaceFileAtomically(const std::string& target, const std::string& text, const char* who,
                           std::string* why) {
  namespace fs = std::filesystem;
  std::string dest = target;
  std::error_code error;
  // A symlink stays a symlink: the file it points to is the one replaced.
  if (fs::is_symlink(fs::symlink_status(target, error))) {
    const fs::path real = fs::canonical(target, error);
    if (!error) dest = real.generic_string();
  }
  const std::string folder = FolderOf(dest);
  const std::string base = fs::path(dest).filename().string();
  RemoveStaleTemporaries(folder, base, who);

  auto fail = [&](const char* what, int err, int fd, const std::string& temp) {
    if (fd >= 0) platform::CloseFile(fd);
    if (!temp.empty()) platform::RemoveFile(temp);
    WriteDebugLog("%s could not %s for [%s]: %s", who, what, target.c_str(), platform::ErrorText(err).c_str());
    if (why != nullptr) *why = std::string("could not ") + what + ": " + platform::ErrorText(err);
    return false;
  };

  // O_EXCL, so a file of the same name (a stale one, or another instance's) is never
  // reused; mode 0666 lets the umask decide, as for any newly created file.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder + "/." + base + "." + std::to_string(platform::ProcessId()) + "." +
           std::to_string(counter++) + ".tmp";
    fd = platform::CreateNewFile(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail("create a temporary file", errno, -1, "");

  // The new file keeps the permissions of the one it replaces.
  platform::CopyPermissions(fd, dest);

  if (!platform::WriteAll(fd, text.data(), text.size())) {
    return fail("write the temporary file", errno, fd, temp);
  }
  if (!platform::FlushFile(fd)) return fail("flush the temporary file", errno, fd, temp);
  if (!platform::CloseFile(fd)) return fail("close the temporary file", errno, -1, temp);
  if (!platform::RenameOver(temp, dest)) return fail("replace the file", errno, -1, temp);

  // The rename itself reaches the disk with the folder's entry.
  platform::FlushFolder(folder);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = path + ": cannot be read: " + platform::ErrorText(errno);
    return false;
  }
  char buf[65536];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  const int err = std::ferror(f) ? errno : 0;
  std::fclose(f);
  if (err != 0) {
    error = path + ": cannot be read: " + platform::ErrorText(err);
    return false;
  }
  return true;
}

}  // namespace vantrel
