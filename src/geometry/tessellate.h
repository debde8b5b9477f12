// The tessellators of the three kinds of geometry: each hands the triangles
// of an object's evaluated geometry, in object space, to a sink. Placement,
// projection and bucket entry happen in the sink.
//
// A tessellator that fails prints its own message and returns false; the
// object then contributes nothing this frame, not even the triangles handed
// to the sink before the failure.
#pragma once

#include "geometry/object_geometry.h"
#include "geometry/surface_point.h"

namespace sky {

bool tessellate_patch(const PatchGeometry& patch, const char* name, TriangleSink& sink);
// `orientation_sign` is the placement's (negative: mirrored, the face flips).
bool tessellate_face(const FaceGeometry& face, const char* name, float orientation_sign,
                     TriangleSink& sink);
bool tessellate_polyset(const PolysetGeometry& polyset, const char* name, TriangleSink& sink);

}  // namespace sky
