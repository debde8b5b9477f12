// Stand-ins for the three tessellators until they are built: an object of a
// kind without its tessellator contributes nothing, silently. Each of these
// goes when its tessellator lands.
#include "geometry/tessellate.h"

namespace sky {

// Goes when the face tessellator lands.
bool tessellate_face(const FaceGeometry&, const char*, float, TriangleSink&) {
    return false;
}

}  // namespace sky
