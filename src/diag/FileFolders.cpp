#include "diag/FileFolders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Platform.h"

namespace vantrel {
namespace {

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

// The program's folder in the folder a variable names, when it names an absolute path, or
// else in the folder under home; "" without either.
std::string UserFolder(const std::string& variable, const std::string& home, const char* underHome) {
  std::filesystem::path folder(variable);
  if (!folder.is_absolute()) {
    if (home.empty()) return "";
    folder = std::filesystem::path(home) / underHome;
  }
  return (folder / platform::kUserFolders.programFolder).make_preferred().string();
}

}  // namespace

void MakeFolders(const std::string& path) {
  std::filesystem::path folder;
  for (const auto& part : std::filesystem::path(path)) {
    folder /= part;
    if (folder.has_relative_path()) platform::MakeFolder(folder.string());  // not the root, nor a drive
  }
}

FileFolders ChooseFileFolders(const StartPlace& place) {
  const std::string& here = place.workingFolder;
  std::error_code error;
  const bool desktopStart = !std::filesystem::path(here).has_relative_path() ||  // a root folder
                            (!place.home.empty() && std::filesystem::equivalent(here, place.home, error));
  if (!desktopStart || std::filesystem::exists(std::filesystem::path(here) / "settings.ini", error)) {
    return {here, here};
  }
  const std::string settings = UserFolder(place.configHome, place.home, platform::kUserFolders.settingsUnderHome);
  const std::string logs = UserFolder(place.stateHome, place.home, platform::kUserFolders.logsUnderHome);
  if (settings.empty() || logs.empty()) return {here, here};
  return {settings, logs};
}

FileFolders ProgramFileFolders() {
  const std::string here = WorkingFolder();
  const FileFolders folders =
      ChooseFileFolders({here, Env(platform::kUserFolders.homeVariable), Env(platform::kUserFolders.settingsVariable),
                         Env(platform::kUserFolders.logsVariable)});
  if (folders.settings != here) MakeFolders(folders.settings);
  return folders;
}

}  // namespace vantrel
