// Tessellation of one render object into its screen triangles: the object's
// tessellator (by its type) hands object-space triangles to a sink that
// places them with the object's placement, views them with the camera,
// clips them at the near plane and enters them.
#pragma once

#include "geometry/object_geometry.h"
#include "geometry/screen_geometry.h"
#include "geometry/surface_point.h"

namespace sky {

struct RenderObject;

// The tessellators tessellate_object calls; tests put fakes in their place.
struct Tessellators {
    bool (*patch)(const PatchGeometry& patch, const char* name, TriangleSink& sink);
    bool (*face)(const FaceGeometry& face, const char* name, float orientation_sign,
                 TriangleSink& sink);
    bool (*polyset)(const PolysetGeometry& polyset, const char* name, TriangleSink& sink);
};
Tessellators& tessellators();
// The real tessellators back in the table.
void restore_tessellators();

// Frees the object's previous triangles and makes them again from its
// geometry, with the calling thread's TransformState holding the object's
// placement and the pass's geometry view. A missing geometry prints
// "Invalid/missing tesselation object\n", an unknown type "Unknown object
// type %d\n" (error channel); both, and a failing tessellator, return false
// and leave the object without triangles.
bool tessellate_object(RenderObject& object, ObjectTriangles& storage);

}  // namespace sky
