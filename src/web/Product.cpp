#include "web/Product.h"

#include <cstdio>

namespace vantrel {

std::string VersionText() {
  char text[16];
  std::snprintf(text, sizeof text, "%s%c%c", kVersion, 'b', 'D');
  return text;
}

}  // namespace vantrel
