// The program's pictures, compiled in: ":/vantrel-modbus-scanner.png", ":/banner0.png" to
// ":/banner3.png", ":/about.png".
#pragma once

namespace vantrel {

// Registers the pictures; call before the first use. They live in a static library, whose
// registration the linker would otherwise drop as unreferenced.
void InitArtwork();

}  // namespace vantrel
