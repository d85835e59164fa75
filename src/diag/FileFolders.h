// Where the program keeps its files: settings.ini (and the COMn entries beside it) in one
// folder, log.txt and Debuglog.txt in another.
//
// The rule: a program started from a desktop menu runs in the home folder (or, with some
// launchers, in a root folder), where nobody wants settings.ini and two logs at the top.
// Started there, and only when no settings.ini is there already, the files go to the
// user's folders: on Linux, settings.ini to $XDG_CONFIG_HOME/vantrel-modbus-scanner
// (default ~/.config/vantrel-modbus-scanner), the logs to
// $XDG_STATE_HOME/vantrel-modbus-scanner (default ~/.local/state/vantrel-modbus-scanner);
// on Windows, started in the profile folder, to %APPDATA%\Vantrel Modbus Scanner and
// %LOCALAPPDATA%\Vantrel Modbus Scanner. Started anywhere else, in a work folder from a
// terminal, or in a home folder that holds a settings.ini, everything stays in the working
// folder, as it always has.
#pragma once

#include <string>

namespace vantrel {

struct FileFolders {
  std::string settings;  // settings.ini and the COMn entries
  std::string logs;      // log.txt and Debuglog.txt

  bool operator==(const FileFolders&) const = default;
};

// What the rule looks at: the working folder, and the environment's home, settings and
// logs folders (HOME, XDG_CONFIG_HOME and XDG_STATE_HOME; on Windows USERPROFILE, APPDATA
// and LOCALAPPDATA), "" when unset. A relative path is ignored, as the XDG base directory
// rules ask.
struct StartPlace {
  std::string workingFolder;
  std::string home;
  std::string configHome;
  std::string stateHome;
};

// The folders for a start at place, by the rule above. Looks at the file system (whether
// the working folder is the home folder, and holds a settings.ini) but changes nothing.
FileFolders ChooseFileFolders(const StartPlace& place);

// The folders for this process, from its working folder and environment now. The user's
// settings folder, when chosen, is made if it is missing, so that a save can go there; the
// logs folder is made by the first record written to it.
FileFolders ProgramFileFolders();

// Makes the folder and its missing parents, each with mode 0700 on Linux, as the XDG rules
// ask for the folders of a user's files.
void MakeFolders(const std::string& path);

}  // namespace vantrel
