// vantrel-modbus-scanner: the desktop program.
#include <cstdio>
#include <cstring>

#include "Version.h"
#include "app/ScannerApp.h"

namespace {

constexpr char kHelp[] =
    "Usage: vantrel-modbus-scanner [OPTION] [FILE]\n"
    "\n"
    "A Modbus master for testing devices: reads one slave's coils, discrete inputs, holding\n"
    "and input registers (functions 01 to 04), once or at a poll frequency, shows every value\n"
    "in several number formats, and writes coils and holding registers (functions 05, 06, 15\n"
    "and 16). Every request, reply and event is logged with a time stamp, and every failure is\n"
    "explained in plain words.\n"
    "\n"
    "Started without options it opens its window; FILE is a workspace file (a connection and\n"
    "its poll definitions, JSON, such as *.vantrel.json) to open. It keeps its files in the\n"
    "folder it is started in: settings.ini (the settings), log.txt (the activity log) and\n"
    "Debuglog.txt (everything, with start-up and web-call traces). Started in the home folder\n"
    "without a settings.ini there, as the desktop menu starts it, it keeps settings.ini in\n"
    "$XDG_CONFIG_HOME/vantrel-modbus-scanner/ (~/.config/vantrel-modbus-scanner/) and the logs\n"
    "in $XDG_STATE_HOME/vantrel-modbus-scanner/ (~/.local/state/vantrel-modbus-scanner/).\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are taken too.\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered without a window, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("vantrel-modbus-scanner %s\n", vantrel::kProjectVersion);
      return 0;
    }
  }
  vantrel::CScannerApp app(argc, argv);
  return app.InitInstance();
}
