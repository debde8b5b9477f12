// Stand-ins for the three tessellators until they are built: an object of a
// kind without its tessellator contributes nothing, silently. Each of these
// goes when its tessellator lands.
#include "geometry/tessellate.h"

namespace sky {

// Goes when the patch tessellator lands.
bool tessellate_patch(const PatchGeometry&, const char*, TriangleSink&) {
    return false;
}

// Goes when the face tessellator lands.
bool tessellate_face(const FaceGeometry&, const char*, float, TriangleSink&) {
    return false;
}

// Goes when the polyset tessellator lands.
bool tessellate_polyset(const PolysetGeometry&, const char*, TriangleSink&) {
    return false;
}

}  // namespace sky
