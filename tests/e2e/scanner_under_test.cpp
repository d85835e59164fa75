// The desktop program as the end-to-end tests run it: the same, except that the vendor's
// root address can come from VANTREL_TEST_VENDOR_URL, so that its web calls reach the
// test's own server on 127.0.0.1. The shipped program has no such setting.
#include <cstdlib>

#include "app/ScannerApp.h"
#include "web/WebServices.h"

int main(int argc, char** argv) {
  if (const char* url = std::getenv("VANTREL_TEST_VENDOR_URL")) vantrel::SetVendorRootUrl(url);
  vantrel::CScannerApp app(argc, argv);
  return app.InitInstance();
}
