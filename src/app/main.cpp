// vantrel-modbus-scanner: the desktop program.
#include "app/ScannerApp.h"

int main(int argc, char** argv) {
  vantrel::CScannerApp app(argc, argv);
  return app.InitInstance();
}
