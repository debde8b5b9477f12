// Per-frame evaluation of patch, face and polyset definitions into the flat
// geometry records tessellation reads, and the hooks through which the model
// walk asks for it.
#pragma once

#include <memory>

#include "geometry/geometry_definition.h"
#include "geometry/object_geometry.h"

namespace sky {

struct RenderObject;

// Each returns the object's geometry at the current scene time, or null when
// the object cannot be made this frame (the reason has been printed, or goes
// unreported as the scene's evaluation errors do). `name` is for messages.
// Faults the scene cannot render past end the program with their message.
std::unique_ptr<PatchGeometry> evaluate_patch(const PatchDefinition& definition, const char* name);
std::unique_ptr<FaceGeometry> evaluate_face(const FaceDefinition& definition, const char* name);
std::unique_ptr<PolysetGeometry> evaluate_polyset(const PolysetDefinition& definition,
                                                  const char* name);

// A BOUNDARY_CURVE body (degree, knots, CVs) at the current scene time;
// false when it cannot be read or its knots do not fit its CVs.
bool evaluate_boundary_curve(const Body& body, NurbsCurve& curve);

// Gives an object new geometry (and, when moving, new shutter-open and
// shutter-close geometry), letting go of what it held: commands that
// replace a patch's surface for the frame.
void replace_geometry(RenderObject& object, std::unique_ptr<GeometryCommon> geometry,
                      std::unique_ptr<GeometryCommon> open, std::unique_ptr<GeometryCommon> close);

// Whether the definition asks for motion blur (its `motion_blur`, truncated).
bool patch_is_moving(const PatchDefinition& definition);
bool face_is_moving(const FaceDefinition& definition);
bool polyset_is_moving(const PolysetDefinition& definition);

// Whether two records hold the same geometry and settings (motion sharing).
bool same_geometry(const GeometryCommon& a, const GeometryCommon& b);

// The geometry's hooks into the front end (definitions of the bodies read)
// and the model walk (evaluate, release, polyset shader slots). Called once
// at start-up, before the scene is read.
void install_geometry_hooks();
void remove_geometry_hooks();  // tests

}  // namespace sky
