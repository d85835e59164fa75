// The product's name and version text, as the web services send them and the About page
// shows them.
#pragma once

#include <string>

#include "Version.h"  // kVersion

namespace vantrel {

inline constexpr char kProductName[] = "Vantrel Modbus Scanner";

// "1.00" followed by the release letters b and D: "1.00bD".
std::string VersionText();

}  // namespace vantrel
