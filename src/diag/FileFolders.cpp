#include "diag/FileFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Platform.h"

namespace vantrel {
namespace {

constexpr char kFolderName[] = "/vantrel-modbus-scanner";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string WorkingFolder() {
  std::error_code error;
  const std::string here = std::filesystem::current_path(error).string();
  // A folder that was removed under us has no name; "." at least never points the files
  // at the root folder, as an empty path would.
  return error || here.empty() ? std::string(".") : here;
}

// An XDG variable counts only when it holds an absolute path.
std::string XdgFolder(const std::string& variable, const std::string& home, const char* fallback) {
  if (!variable.empty() && variable.front() == '/') return variable;
  return home.empty() ? "" : home + fallback;
}

}  // namespace

void MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    platform::MakeFolder(path.substr(0, slash));
    if (slash == std::string::npos) break;
  }
}

FileFolders ChooseFileFolders(const StartPlace& place) {
  const std::string& here = place.workingFolder;
  std::error_code error;
  const bool desktopStart =
      here == "/" || (!place.home.empty() && std::filesystem::equivalent(here, place.home, error));
  if (!desktopStart || std::filesystem::exists(here + "/settings.ini", error)) return {here, here};
  const std::string config = XdgFolder(place.configHome, place.home, "/.config");
  const std::string state = XdgFolder(place.stateHome, place.home, "/.local/state");
  if (config.empty() || state.empty()) return {here, here};
  return {config + kFolderName, state + kFolderName};
}

FileFolders ProgramFileFolders() {
  const std::string here = WorkingFolder();
  const FileFolders folders =
      ChooseFileFolders({here, Env("HOME"), Env("XDG_CONFIG_HOME"), Env("XDG_STATE_HOME")});
  if (folders.settings != here) MakeFolders(folders.settings);
  return folders;
}

}  // namespace vantrel
