// One sample: which surfaces the eye ray through (x, y) meets, in depth
// order, and the colour they give when shaded from the farthest to the
// nearest. The tile's triangles are already on the screen in per-pixel
// lists, so a sample is a point-in-triangle test per listed triangle and
// an interpolated depth; hidden triangles are rejected by the cut-off depth
// before any layer is made.
//
// Static samples only: under motion blur each triangle also has to be
// swept across the shutter interval (enter and leave events, segments of
// constant front layer); `sample_layers` is where that sweep plugs in.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "base/vecmath.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "render/caster_state.h"
#include "render/sample_internal.h"
#include "scene/scene_objects.h"
#include "shading/light.h"
#include "shading/light_fog.h"
#include "shading/shader.h"

namespace sky {
namespace {

constexpr float kEdge = 1e-6f;
constexpr float kSameDepth = 1e-6f;

inline bool on_edge(const RC_Layer& layer) {
    return std::fabs(layer.s) <= kEdge || std::fabs(layer.t) <= kEdge ||
           std::fabs(layer.s + layer.t - 1.0f) <= kEdge;
}

// Objects made after the caster was prepared (none in a normal render)
// shade as nothing and hide what lies behind them.
const ObjectShading kUnprepared{};

inline const ObjectShading& shading_of(const ScreenTriangle& triangle) {
    const ObjectShading* shading = triangle.object->shading;
    return shading ? *shading : kUnprepared;
}

// A layer whose `next` is itself would make every walk endless.
inline bool breaks_loop(RC_Layer* layer) {
    if (layer->next != layer) return false;
    rptError(
        "ERROR: infinite loop found in \t\t\t\t\t\t\tmotion blur case, breaking loop. Contact "
        "support.\n");
    layer->next = nullptr;
    return true;
}

// --- shading ------------------------------------------------------------------

// The triangle's plane in eye space and its unit normal; what only
// textures read waits for set_up_texture_inputs, for a sample spacing of
// `footprint` pixels.
void set_up_triangle(TrianglePlane& plane, const ScreenTriangle& t, double footprint) {
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    const float* a = v[0]->shading->eye;
    const float* b = v[1]->shading->eye;
    const float* c = v[2]->shading->eye;
    for (int k = 0; k < 3; ++k) {
        plane.p0[k] = a[k];
        plane.e1[k] = b[k] - a[k];
        plane.e2[k] = c[k] - a[k];
    }
    cross3(plane.e1, plane.e2, plane.n);
    float nn = dot3(plane.n, plane.n);
    if (nn == 0.0f) nn = 1e-7f;
    plane.inverse_nn = 1.0f / nn;
    plane.n_dot_p0 = dot(to_triple(plane.n), to_triple(plane.p0));
    plane.edge_on = 1e-12f * std::sqrt(1.0f / plane.inverse_nn);
    plane.triangle = &t;

    std::memcpy(plane.unit_normal, plane.n, sizeof plane.n);
    normalise3(plane.unit_normal);
    plane.texture_ready = false;
    plane.footprint = footprint;
}

// The plane's texture part, for its triangle `t`.
void set_up_texture_inputs(TrianglePlane& plane, const ScreenTriangle& t) {
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    const ShadingRecord* s[3] = {v[0]->shading, v[1]->shading, v[2]->shading};
    for (int e = 0; e < 2; ++e)
        for (int k = 0; k < 3; ++k) plane.normal_step[e][k] = v[e + 1]->normal[k] - v[0]->normal[k];

    // Surface parameters: the texture coordinates when the object has them.
    float(&uv)[3][2] = plane.uv;
    for (int i = 0; i < 3; ++i) {
        if (s[i]->texture)
            uv[i][0] = s[i]->texture[0], uv[i][1] = s[i]->texture[1];
        else
            uv[i][0] = s[i]->u, uv[i][1] = s[i]->v;
        // Solid textures follow the object: its own position when the
        // vertices carry it, the world position otherwise.
        plane.solid[i] = s[i]->texture_data ? s[i]->texture_data : s[i]->world;
    }
    // Footprint: the screen-space change of (u, v) across the sample's
    // spacing, from the triangle's screen set-up.
    const float du1 = uv[1][0] - uv[0][0], du2 = uv[2][0] - uv[0][0];
    const float dv1 = uv[1][1] - uv[0][1], dv2 = uv[2][1] - uv[0][1];
    const float fp = static_cast<float>(plane.footprint);
    plane.edge_x[0] = t.d * 0.5f * fp;
    plane.edge_x[1] = -t.b * 0.5f * fp;
    plane.edge_y[0] = -t.c * 0.5f * fp;
    plane.edge_y[1] = t.a * 0.5f * fp;
    plane.du = (std::fabs(du1 * t.d - du2 * t.b) + std::fabs(-du1 * t.c + du2 * t.a)) * 0.5f * fp;
    plane.dv = (std::fabs(dv1 * t.d - dv2 * t.b) + std::fabs(-dv1 * t.c + dv2 * t.a)) * 0.5f * fp;
    // Tangents ∂P/∂u and ∂P/∂v from the triangle's edges in eye space.
    const float det = du1 * dv2 - du2 * dv1;
    if (std::fabs(det) > 1e-12f) {
        const float r = 1.0f / det;
        const float* e1 = plane.e1;
        const float* e2 = plane.e2;
        plane.dp_du = Triple{(dv2 * e1[0] - dv1 * e2[0]) * r, (dv2 * e1[1] - dv1 * e2[1]) * r,
                             (dv2 * e1[2] - dv1 * e2[2]) * r};
        plane.dp_dv = Triple{(du1 * e2[0] - du2 * e1[0]) * r, (du1 * e2[1] - du2 * e1[1]) * r,
                             (du1 * e2[2] - du2 * e1[2]) * r};
    } else {
        plane.dp_du = Triple{};
        plane.dp_dv = Triple{};
    }
    plane.texture_ready = true;
}

// Eye distance of a screen depth (perspective: the eye z the depth came
// from, negated).
inline double eye_distance(const CasterCamera& cam, double depth) {
    if (!cam.perspective) return -depth;
    double d = depth - cam.depth_scale;
    if (d == 0.0) d = 1e-30;
    return -cam.depth_offset / d;
}

struct HitPoint {
    Triple eye;
    float w[3];  // weights of P0, P1, P2 in eye space
};

// The unit vector along `a` as normalise3 makes it (dividing by the
// length), on a value the compiler keeps in registers: a float[3] written
// by elements and read back whole stalls on every sample.
inline Triple unit_dividing(const Triple& a) {
    return to_triple(normalise(to_imath(a)));
}
inline Triple negated(const Triple& a) {
    return Triple{-a.x, -a.y, -a.z};
}

// The eye ray through (x, y) meets the layer's triangle: the eye-space
// point and its (perspective-correct) barycentric weights.
// `plane` is set up for the layer's triangle. A ray from the eye point
// (`from_eye`: its origin +0 in every coordinate, from which p0 − origin
// is p0 to the bit) takes its numerator from the plane.
[[gnu::always_inline]] inline void hit_point(const CasterCamera& cam, const TrianglePlane& plane,
                                             const RC_Layer& layer, const Triple& origin,
                                             const Triple& direction, bool from_eye,
                                             HitPoint& hit) {
    const Triple n = to_triple(plane.n), p0 = to_triple(plane.p0);
    const float denominator = dot(n, direction);
    if (std::fabs(denominator) > plane.edge_on) {
        const float along = (from_eye ? plane.n_dot_p0 : dot(n, sub(p0, origin))) / denominator;
        hit.eye = add(origin, scale(direction, along));
        const Triple rel = sub(hit.eye, p0);
        hit.w[1] = dot(cross(rel, to_triple(plane.e2)), n) * plane.inverse_nn;
        hit.w[2] = dot(cross(to_triple(plane.e1), rel), n) * plane.inverse_nn;
    } else {
        // Seen edge-on: the screen weights, and the depth's own eye point.
        hit.w[1] = layer.s;
        hit.w[2] = layer.t;
        const double distance = eye_distance(cam, layer.depth);
        hit.eye = add(origin, scale(direction, static_cast<float>(distance)));
    }
    hit.w[0] = 1.0f - hit.w[1] - hit.w[2];
}

// The texture inputs fill_point left for the first texture that asks.
void fill_texture_inputs(AR_ShadePoint& p) {
    const auto& pending = *static_cast<const PendingTextureInputs*>(p.texture_source);
    const ScreenTriangle& t = *pending.triangle;
    // A moving layer's scratch triangle is still the one the plane was set
    // up for while its layer is shaded.
    if (!pending.plane->texture_ready) set_up_texture_inputs(*pending.plane, t);
    const TrianglePlane& plane = *pending.plane;
    const ShadingRecord* s[3] = {t.P0->shading, t.P1->shading, t.P2->shading};
    const float* w = pending.w;
    const float n_length = pending.n_length;

    // The normal's change along the edges (of the interpolated normal made
    // unit length, on the side the eye sees).
    const float turn = n_length > 0.0f ? pending.side / n_length : 0.0f;
    p.edge[0] = to_triple(plane.e1);
    p.edge[1] = to_triple(plane.e2);
    for (int e = 0; e < 2; ++e) p.normal_change[e] = scale(to_triple(plane.normal_step[e]), turn);

    const float(&uv)[3][2] = plane.uv;
    p.u = w[0] * uv[0][0] + w[1] * uv[1][0] + w[2] * uv[2][0];
    p.v = w[0] * uv[0][1] + w[1] * uv[1][1] + w[2] * uv[2][1];
    p.edge_x[0] = plane.edge_x[0];
    p.edge_x[1] = plane.edge_x[1];
    p.edge_y[0] = plane.edge_y[0];
    p.edge_y[1] = plane.edge_y[1];
    p.du = plane.du;
    p.dv = plane.dv;
    p.dp_du = plane.dp_du;
    p.dp_dv = plane.dp_dv;
    const float* const* solid = plane.solid;
    // The sums start from zero as they always have (a -0 term gives +0).
    p.object_point = Triple{0.0f + w[0] * solid[0][0] + w[1] * solid[1][0] + w[2] * solid[2][0],
                            0.0f + w[0] * solid[0][1] + w[1] * solid[1][1] + w[2] * solid[2][1],
                            0.0f + w[0] * solid[0][2] + w[1] * solid[1][2] + w[2] * solid[2][2]};
    const float* o0 = s[0]->normal;
    const float* o1 = s[1]->normal;
    const float* o2 = s[2]->normal;
    p.object_normal = unit_dividing(Triple{w[0] * o0[0] + w[1] * o1[0] + w[2] * o2[0],
                                           w[0] * o0[1] + w[1] * o1[1] + w[2] * o2[1],
                                           w[0] * o0[2] + w[1] * o1[2] + w[2] * o2[2]});
}

// Fills the shading point for the layer's hit; the worker's plane is set up
// for the layer's triangle, `object` is its object's shading (a moved
// triangle keeps its object). The texture inputs wait in the worker until a
// texture asks for them.
[[gnu::always_inline]] inline void fill_point(CasterWorker& worker, const RC_Layer& layer,
                                              const ObjectShading& object, const HitPoint& hit,
                                              const Triple& view_direction) {
    AR_ShadePoint& p = worker.point;
    PendingTextureInputs& pending = worker.pending;
    TrianglePlane& plane = worker.plane;
    const ScreenTriangle& t = *layer.triangle;
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    const float* w = hit.w;

    p.position = hit.eye;
    const Triple view = unit_dividing(negated(view_direction));
    p.view = view;

    const float* n0 = v[0]->normal;
    const float* n1 = v[1]->normal;
    const float* n2 = v[2]->normal;
    const Triple along{w[0] * n0[0] + w[1] * n1[0] + w[2] * n2[0],
                       w[0] * n0[1] + w[1] * n1[1] + w[2] * n2[1],
                       w[0] * n0[2] + w[1] * n1[2] + w[2] * n2[2]};
    // Made unit length before its side is known: negation is exact, so the
    // turned normal's root and quotients are this one's, turned, and they
    // need not wait for the view's root and the side test.
    const float n_length = std::sqrt(dot(along, along));
    Triple n = along;
    if (n_length > 0.0f) n = Triple{n.x / n_length, n.y / n_length, n.z / n_length};

    Triple g = to_triple(plane.unit_normal);
    if (dot(g, view) < 0.0f) g = negated(g);
    p.geometric_normal = g;
    // The shading normal on the side of the surface the eye sees, whatever
    // the winding of the triangle.
    const float side = dot(along, g) < 0.0f ? -1.0f : 1.0f;
    if (side < 0.0f) n = negated(n);
    if (dot(n, n) == 0.0f) n = g;
    p.normal = n;

    pending.plane = &plane;
    pending.triangle = &t;
    pending.w[0] = w[0];
    pending.w[1] = w[1];
    pending.w[2] = w[2];
    pending.n_length = n_length;
    pending.side = side;
    p.fill_texture_inputs = fill_texture_inputs;
    p.texture_source = &pending;

    p.object = t.object;
    p.object_name = object.name;
    p.lights = object.lights;
    p.seed = worker.seed;
    p.time = layer.shade_time;
    p.transparency[0] = p.transparency[1] = p.transparency[2] = p.transparency[3] = 0.0f;
}

}  // namespace

// Fog of the scene's atmosphere over the stretch [near, far] of the ray
// (eye distances), blended over the colour.
void apply_fog(double near, double far, float* out) {
    const AR_Atmosphere& fog = Ar_atmosphere();
    const double a = std::fmax(near, fog.min_distance);
    const double b = std::fmin(far, fog.max_distance);
    if (!(b > a)) return;
    const float keep = static_cast<float>(std::exp(-fog.density * (b - a)));
    out[0] = out[0] * keep + fog.colour.x * (1.0f - keep);
    out[1] = out[1] * keep + fog.colour.y * (1.0f - keep);
    out[2] = out[2] * keep + fog.colour.z * (1.0f - keep);
    out[3] = out[3] * keep + 255.0f * (1.0f - keep);
}

// --- layers -------------------------------------------------------------------

namespace {

inline void set_still_layer(RC_Layer& layer, const ScreenTriangle& t, float s, float tt, float z) {
    layer.triangle = &t;
    layer.s = s;
    layer.t = tt;
    layer.depth = z;
    layer.events = nullptr;
    layer.time_in = 0.0;
    layer.time_out = 1.0;
    layer.depth_in = layer.depth_out = z;
    layer.shade_time = 0.0;
    layer.moving = false;
}

// weights_inside and the cut-off with a comparison fewer: a NaN weight
// makes the depth NaN, which the cut-off turns away, so the weights' own
// tests need not, and without NaNs both are at least 0 when the lesser is.
inline bool seen_at(float s, float t, float z, float cutoff) {
    return (std::min(s, t) >= 0.0f) & !(s + t > 1.0f) & (z > cutoff);
}

// hit_triangle's weights and depth at (x, y), and whether the point is
// seen: inside and nearer than the cut-off, in one branch, since most
// listed triangles miss the point or lie behind, and which of them do is
// anybody's guess.
inline bool seen_still(const ScreenTriangle& t, float x, float y, float cutoff, float& s, float& tt,
                       float& z) {
    const float u = x - t.x0, v = y - t.y0;
    s = u * t.d - v * t.c;
    tt = v * t.a - u * t.b;
    z = t.z0 + s * t.dz1 + tt * t.dz2;
    return seen_at(s, tt, z, cutoff);
}

// The static sample's own copy is inline: it is the most of what a
// sample does outside shading, and a call a sample is worth saving. Also
// says whether the farthest layer is opaque, which the walk knows.
[[gnu::always_inline]] inline RC_Layer* collect_still_layers(const BucketCell* list, float x,
                                                             float y, LayerPool& pool,
                                                             bool& transparent, bool& opaque_back) {
    pool.reset();
    transparent = false;
    // While every surface seen is opaque the list is the nearest of them
    // alone, each hiding the one before: it is kept in registers, and a
    // layer is made only for the last. The first transparent surface seen
    // hands over to the walk that keeps several.
    const ScreenTriangle* nearest = nullptr;
    float nearest_s = 0.0f, nearest_t = 0.0f;
    float cutoff = -1e30f;
    const BucketCell* cell = list;
    for (; cell != nullptr; cell = cell->next) {
        const ScreenTriangle& t = *cell->triangle;
        float s, tt, z;
        if (!seen_still(t, x, y, cutoff, s, tt, z)) continue;
        if (shading_of(t).transparent) break;
        nearest = &t;
        nearest_s = s;
        nearest_t = tt;
        cutoff = z;
    }
    RC_Layer* head = nullptr;
    if (nearest != nullptr) {
        head = pool.take();
        set_still_layer(*head, *nearest, nearest_s, nearest_t, cutoff);
        head->next = nullptr;
    }
    if (cell == nullptr) {
        opaque_back = head != nullptr;
        return head;
    }
    for (; cell != nullptr; cell = cell->next) {
        const ScreenTriangle& t = *cell->triangle;
        float s, tt, z;
        if (!seen_still(t, x, y, cutoff, s, tt, z)) continue;

        RC_Layer* layer = pool.take();
        set_still_layer(*layer, t, s, tt, z);

        // The first layer nearer than the hit, and the one just behind it.
        RC_Layer* behind = nullptr;
        RC_Layer* front = head;
        while (front != nullptr && z >= front->depth) {
            behind = front;
            if (breaks_loop(front)) {
                front = nullptr;
                break;
            }
            front = front->next;
        }
        if (!shading_of(t).transparent) {
            // Everything behind an opaque hit is hidden by it.
            layer->next = front;
            head = layer;
            cutoff = z;
            continue;
        }
        RC_Layer* neighbour = behind;
        if (front != nullptr && (behind == nullptr || front->depth - z < z - behind->depth))
            neighbour = front;
        if (neighbour != nullptr && shading_of(*neighbour->triangle).transparent &&
            (on_edge(*layer) || on_edge(*neighbour)) &&
            std::fabs(neighbour->depth - z) <= kSameDepth) {
            // One transparent surface sampled on the shared edge of two of
            // its triangles counts once.
            pool.give_back();
            continue;
        }
        transparent = true;
        layer->next = front;
        if (behind != nullptr)
            behind->next = layer;
        else
            head = layer;
    }
    opaque_back = head != nullptr && !shading_of(*head->triangle).transparent;
    return head;
}

}  // namespace

RC_Layer* collect_layers(const BucketCell* list, float x, float y, LayerPool& pool,
                         bool& transparent) {
    bool opaque_back = false;
    return collect_still_layers(list, x, y, pool, transparent, opaque_back);
}

// --- the sample routines ------------------------------------------------------------

void camera_ray_at(const CasterCamera& cam, double time, const float* origin,
                   const float* direction, float* moved_origin, float* moved_direction) {
    const Triple o = to_triple(origin), d = to_triple(direction);
    const Triple open_o = transform_point(o, cam.frame_from_open);
    const Triple close_o = transform_point(o, cam.frame_from_close);
    const Triple open_d = transform_vector(d, cam.frame_from_open);
    const Triple close_d = transform_vector(d, cam.frame_from_close);
    const float f = static_cast<float>(time);
    store3(add(open_o, scale(sub(close_o, open_o), f)), moved_origin);
    store3(add(open_d, scale(sub(close_d, open_d), f)), moved_direction);
    // As long as the camera's own ray: distances along it keep their scale.
    const float keep = std::sqrt(dot3(direction, direction));
    normalise3(moved_direction);
    for (int k = 0; k < 3; ++k) moved_direction[k] *= keep;
}

void eye_ray(const CasterCamera& cam, double x, double y, float* origin, float* direction) {
    const float ex = static_cast<float>((x - cam.screen.cx) / cam.screen.sx);
    const float ey = static_cast<float>((y - cam.screen.cy) / cam.screen.sy);
    origin[0] = origin[1] = origin[2] = 0.0f;
    if (cam.perspective) {
        direction[0] = ex, direction[1] = ey, direction[2] = -1.0f;
    } else {
        origin[0] = ex, origin[1] = ey;
        direction[0] = 0.0f, direction[1] = 0.0f, direction[2] = -1.0f;
    }
}

void fog_open_sky(double x, double y, float* out) {
    const CasterCamera& cam = caster_camera();
    if (cam.fog) apply_fog(0.0, 1e30, out);
    if (cam.light_fog) {
        float origin[3];
        float direction[3];
        eye_ray(cam, x, y, origin, direction);
        Ar_light_fog(origin, direction, cam.axial_depth || !cam.perspective, 0.0, 1e30, out);
    }
}

bool layer_is_transparent(const RC_Layer& layer) {
    return shading_of(*layer.triangle).transparent;
}

namespace {

// A layer's colour by its object's shader; an object without one is opaque
// black.
[[gnu::always_inline]] inline void shade_or_black(const ObjectShading& object, AR_ShadePoint& p,
                                                  float* out) {
    if (object.shader) {
        Ar_shade_layer(*object.shader, p);
    } else {
        out[0] = out[1] = out[2] = 0.0f;
        out[3] = 255.0f;
    }
}

// Counted only for a surface with opacity depth: most samples never ask.
int nearer_layers(const RC_Layer* layer) {
    int n = 0;
    for (const RC_Layer* l = layer->next; l != nullptr; l = l->next) ++n;
    return n;
}

}  // namespace

ShadedLayers shade_layers(RC_Layer* head, double x, double y, float* out, float* glow, bool fog,
                          RR_SampleNode& node, bool distances) {
    return shade_layers(caster_worker(), head, x, y, out, glow, fog, node, distances);
}

ShadedLayers shade_layers(CasterWorker& worker, RC_Layer* head, double x, double y, float* out,
                          float* glow, bool fog, RR_SampleNode& node, bool distances) {
    const CasterCamera& cam = caster_camera();
    ShadedLayers shaded;

    float origin[3];
    float direction[3];
    eye_ray(cam, x, y, origin, direction);
    const Triple eye_origin = to_triple(origin), eye_direction = to_triple(direction);
    const bool axial = cam.axial_depth || !cam.perspective;

    HitPoint hit;
    int index = 0;  // from the farthest
    // A moving layer is shaded where its triangle is at its shade time; the
    // scratch triangle's address stands for a new one each time.
    RC_Layer& moved = worker.moved_layer;
    for (RC_Layer* l = head; l != nullptr; l = l->next, ++index) {
        const ObjectShading& object = shading_of(*l->triangle);
        const RC_Layer* shaded_layer = l;
        const float* ray_origin = origin;
        const float* ray_direction = direction;
        float moved_origin[3], moved_direction[3];
        bool moved_ray = false;
        Triple ray_o = eye_origin, ray_d = eye_direction;
        if (l->moving) {
            moved = *l;
            moved.triangle = &moved_triangle(*l, worker.moved);
            shaded_layer = &moved;
            worker.plane.triangle = nullptr;
            if (cam.camera_moves) {
                camera_ray_at(cam, l->shade_time, origin, direction, moved_origin, moved_direction);
                ray_origin = moved_origin;
                ray_direction = moved_direction;
                moved_ray = true;
                ray_o = to_triple(moved_origin);
                ray_d = to_triple(moved_direction);
            }
        }
        if (worker.plane.triangle != shaded_layer->triangle)
            set_up_triangle(worker.plane, *shaded_layer->triangle, node.sample_spacing);
        hit_point(cam, worker.plane, *shaded_layer, ray_o, ray_d, !moved_ray && cam.perspective,
                  hit);
        fill_point(worker, *shaded_layer, object, hit, ray_d);
        if (l->moving) worker.plane.triangle = nullptr;
        AR_ShadePoint& p = worker.point;
        p.output = out;
        p.thickness = 0.0;
        // Front surfaces of pairs (the 1st, 3rd, ... counting from the
        // nearest) see the ray's run inside the object up to the layer behind.
        if (object.opacity_depth != 0.0f && index > 0 && nearer_layers(l) % 2 == 0) {
            double behind_depth = head->depth;
            for (RC_Layer* b = head; b != nullptr && b != l; b = b->next) behind_depth = b->depth;
            p.thickness = std::fabs(eye_distance(cam, behind_depth) - eye_distance(cam, l->depth));
        }
        if (cam.glow && object.shader) {
            const AR_ShadePoint saved = p;
            p.mode = 1;
            p.glow = glow;
            Ar_shade_layer(*object.shader, p);
            p = saved;
            p.mode = 2;
            p.glow = nullptr;
        } else {
            p.mode = 0;
            p.glow = nullptr;
        }
        shade_or_black(object, p, out);
        if (!distances && !fog) continue;
        // From the eye that saw the point; along its axis, the ray's own
        // steps (the moved ray keeps the camera ray's length) times the
        // camera ray's step along the axis.
        const Triple seen = sub(hit.eye, ray_o);
        double distance = std::sqrt(static_cast<double>(dot(seen, seen)));
        if (axial)
            distance = !moved_ray ? -static_cast<double>(hit.eye.z)
                                  : static_cast<double>(dot(seen, ray_d)) /
                                        dot(eye_direction, eye_direction) * -eye_direction.z;
        if (fog) {
            double nearer = 0.0;
            if (l->next != nullptr) nearer = eye_distance(cam, l->next->depth);
            if (cam.fog) apply_fog(nearer, distance, out);
            if (cam.light_fog)
                Ar_light_fog(ray_origin, ray_direction, axial, nearer, distance, out);
        }
        if (index == 0) shaded.back = distance;
        if (l->next == nullptr) shaded.nearest = distance;
    }
    return shaded;
}

namespace {

// shade_layers for the commonest sample of all: one still layer, seen from
// the camera's own eye, no glow pass, no fog and no distances asked for.
// The same steps on the same values, without the call and the cases it
// would test and pass over (a frame and a dozen arguments a sample).
[[gnu::always_inline]] inline void shade_one_still_layer(CasterWorker& worker,
                                                         const CasterCamera& cam,
                                                         const RC_Layer& layer, double x, double y,
                                                         float* out, RR_SampleNode& node) {
    float origin[3];
    float direction[3];
    eye_ray(cam, x, y, origin, direction);
    const Triple eye_origin = to_triple(origin), eye_direction = to_triple(direction);
    const ObjectShading& object = shading_of(*layer.triangle);
    if (worker.plane.triangle != layer.triangle)
        set_up_triangle(worker.plane, *layer.triangle, node.sample_spacing);
    HitPoint hit;
    hit_point(cam, worker.plane, layer, eye_origin, eye_direction, cam.perspective, hit);
    fill_point(worker, layer, object, hit, eye_direction);
    AR_ShadePoint& p = worker.point;
    p.output = out;
    p.thickness = 0.0;
    p.mode = 0;
    p.glow = nullptr;
    shade_or_black(object, p, out);
}

// The worker's thread-local look-up is a call: the sample makes it once and
// hands the worker on. `opaque_back`: the farthest layer is opaque. A still
// walk's layers have their shade time already (`kStamped`).
template <bool kFull, bool kStamped = false>
float finish_static(CasterWorker& worker, RC_Layer* head, bool transparent, bool opaque_back,
                    double x, double y, float* out, RR_SampleNode& node, double shade_time) {
    const CasterCamera& cam = caster_camera();
    if (kFull && cam.composite) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
        if (head == nullptr) node.missed = 1;
    } else if (opaque_back && !transparent) {
        out[0] = out[1] = out[2] = out[3] = 0.0f;
    } else {
        background_colour(x, y, out);
    }
    if (head == nullptr) {
        if (kFull) fog_open_sky(x, y, out);
        return kNothingDepth;
    }
    if (!kStamped)
        for (RC_Layer* l = head; l != nullptr; l = l->next) l->shade_time = shade_time;
    if (!kFull && !cam.glow && head->next == nullptr && !head->moving) {
        shade_one_still_layer(worker, cam, *head, x, y, out, node);
        return kNothingDepth;
    }
    float glow[3] = {0.0f, 0.0f, 0.0f};
    // The fast routine's samples have no depth: nothing asks how far their
    // layers are.
    const ShadedLayers shaded = shade_layers(worker, head, x, y, out, glow,
                                             kFull && (cam.fog || cam.light_fog), node, kFull);
    if (cam.glow) {
        if (GlowSink sink = glow_sink()) sink(x, y, glow);
    }
    if (!kFull) return kNothingDepth;
    // With a depth file the nearest layer counts even when transparent;
    // otherwise the nearest opaque one.
    if (cam.depth_file) return static_cast<float>(shaded.nearest);
    return opaque_back ? static_cast<float>(shaded.back) : kNothingDepth;
}

template <bool kFull>
float sample_static(CasterWorker& worker, double x, double y, float* out, RR_SampleNode& node) {
    ++worker.samples;
    node.missed = 0;

    bool transparent = false, opaque_back = false;
    RC_Layer* head =
        collect_still_layers(node.pixel_triangles, static_cast<float>(x), static_cast<float>(y),
                             worker.layers, transparent, opaque_back);
    return finish_static<kFull, true>(worker, head, transparent, opaque_back, x, y, out, node, 0.0);
}

}  // namespace

template <bool kFull>
float finish_static_sample(RC_Layer* head, bool transparent, double x, double y, float* out,
                           RR_SampleNode& node, double shade_time) {
    const bool opaque_back = head != nullptr && !shading_of(*head->triangle).transparent;
    return finish_static<kFull>(caster_worker(), head, transparent, opaque_back, x, y, out, node,
                                shade_time);
}

template float finish_static_sample<true>(RC_Layer*, bool, double, double, float*, RR_SampleNode&,
                                          double);

float RC_sample_fast(double x, double y, double time, float* out, RR_SampleNode& node) {
    (void)time;
    return sample_static<false>(caster_worker(), x, y, out, node);
}

float sample_fast_on(CasterWorker& worker, double x, double y, float* out, RR_SampleNode& node) {
    return sample_static<false>(worker, x, y, out, node);
}

float RC_sample_full(double x, double y, double time, float* out, RR_SampleNode& node) {
    if (caster_camera().motion_blur && std::fabs(time) > 1e-6)
        return sample_motion(x, y, time, out, node);
    return sample_static<true>(caster_worker(), x, y, out, node);
}

bool empty_sample_colour(const RR_SampleNode& node, float* colour) {
    const CasterCamera& cam = caster_camera();
    const bool plain_full = node.sample_routine == RC_sample_full && !cam.motion_blur &&
                            !cam.composite && !cam.fog && !cam.light_fog;
    if (!background_is_flat() || (node.sample_routine != RC_sample_fast && !plain_full))
        return false;
    background_colour(0.0, 0.0, colour);
    return true;
}

}  // namespace sky
