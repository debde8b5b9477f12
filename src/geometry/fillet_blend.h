// Blend surfaces between curves lying on surfaces, and their merge: the
// geometry of the multi-fillet command.
//
// Curve i of each sequence is a curve in the (u, v) parameters of surface i
// of its list (its control vertices' x and y; z is ignored). The blend
// between the two is a cubic across (u) and piecewise linear along the
// curves (v): each column runs from the point on the first surface, leaving
// it in that surface's tangent plane square to the curve, to the point on
// the second surface, arriving in its tangent plane, so the blend meets
// both surfaces along the curves with their tangent planes. Columns are
// added until the chords between them stay within the tolerance of the
// curves and the blend's tangent planes within a small angle of the
// surfaces'.
#pragma once

#include <optional>
#include <vector>

#include "geometry/nurbs.h"

namespace sky {

inline constexpr double kFilletTolerance = 0.001;

struct FilletSequences {
    std::vector<NurbsCurve> curves1, curves2;        // in the surfaces' (u, v)
    std::vector<NurbsSurface> surfaces1, surfaces2;  // world space
    bool open1 = true, open2 = true;
};

// One blend; nothing when a curve is degenerate or leaves its surface's
// parameter range, or a surface cannot be built.
std::optional<NurbsSurface> blend_surface(const NurbsCurve& curve1, const NurbsSurface& surface1,
                                          const NurbsCurve& curve2, const NurbsSurface& surface2,
                                          double tolerance = kFilletTolerance);

// The blends of every pair merged along v, in order (closed when both
// sequences are closed); nothing when the four lists differ in length or
// no blend could be made. `blends`, when given, receives how many were.
std::optional<NurbsSurface> multi_fillet(const FilletSequences& sequences, int* blends = nullptr,
                                         double tolerance = kFilletTolerance);

}  // namespace sky
