#include "Artwork.h"

#include <QtGlobal>

// Outside any namespace, as the resource registration requires.
static void RegisterArtwork() { Q_INIT_RESOURCE(resources); }

namespace vantrel {

void InitArtwork() { RegisterArtwork(); }

}  // namespace vantrel
