// Displacement mapping: the shader's `displacement` moves the surface along
// its normal while it is tessellated, so silhouettes, depths and shadows see
// the displaced shape (bump mapping only tilts the shading normal).
//
// The height at a point is the displacement texture's scalar result (its
// alpha, as for bump) or, untextured, the mean of the constant colour
// scaled back to the number the scene wrote (`displacement = 0.2` lifts the
// surface by 0.2). Heights are in object units; with the start-up switch
// FIXED_DISPLACEMENT they are world units whatever the object's scale.
//
// Every height is kept within a limit fixed once per frame, and the
// object's bound grows by that limit, so bucket entry, which trusts bounds,
// never misses a displaced triangle.
#pragma once

#include <cstdint>

#include "geometry/surface_point.h"

namespace sky {

struct AR_TextureInfo;
struct GeometryCommon;
struct TransformValue;

struct Displacement {
    const char* name = "";  // the object's, for messages
    const AR_TextureInfo* texture = nullptr;
    float constant = 0.0f;  // the height without a texture
    float limit = 0.0f;     // |height| never exceeds it (object units before the fixed factor)
    // Refinement where the height varies (patches of the tessellator path):
    // an edge longer than `coarsest` in (u, v) is halved, and so is one
    // whose midpoint's height strays more than `tolerance` from the edge,
    // until it is no longer than `finest`.
    bool refine = false;
    float tolerance = 0.0f;
    double coarsest = 0.0;
    double finest = 0.0;

    bool active() const { return texture != nullptr || constant != 0.0f; }
};

// 0 by default, 1 under FIXED_DISPLACEMENT: how far heights are taken in
// world units rather than object units. Set once at start-up.
void set_fixed_displacement(float factor);

// Fills `geometry.displacement` from the shader of `slot` (evaluating the
// shader for the current time when needed), its limit bounded by a
// multiple of the object's size (the diagonal of its bound). Faces cannot be
// displaced and say so. Main thread, once per evaluated geometry.
void prepare_displacement(GeometryCommon& geometry, std::int32_t slot, const char* name);

// How far, in object units, a displaced point may move from the surface
// under `placement`: what bounds must add.
double displacement_reach(const GeometryCommon& geometry, const TransformValue& placement);

// Displaces the triangles a tessellator hands on before passing them to
// `next`; refines them first when the displacement asks for it.
class DisplacingSink : public TriangleSink {
public:
    DisplacingSink(const Displacement& displacement, const TransformValue& placement,
                   TriangleSink& next);
    void add_triangle(const SurfacePoint& a, const SurfacePoint& b, const SurfacePoint& c) override;
    // Points whose height was not a number or beyond the limit.
    std::int64_t clamped() const { return clamped_; }

private:
    struct Corner {
        SurfacePoint point;
        float height = 0.0f;
    };
    float height_at(double u, double v, const SurfacePoint& near);
    Corner corner(const SurfacePoint& p);
    Corner midpoint(const Corner& a, const Corner& b);
    bool splits(const Corner& a, const Corner& b, const Corner& mid) const;
    void refine(const Corner& a, const Corner& b, const Corner& c, int depth);
    void emit(const Corner& a, const Corner& b, const Corner& c);

    const Displacement& displacement_;
    double scale_ = 1.0;  // object units per height unit
    TriangleSink& next_;
    std::int64_t clamped_ = 0;
};

}  // namespace sky
