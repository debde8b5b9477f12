// What the static and the motion-blurred sample routines share: the test
// of which triangles move, the static layer list, and the shading of a
// layer list over the colour already in the sample. Internal to src/render.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/buckets.h"
#include "geometry/screen_geometry.h"
#include "render/sample_node.h"

namespace sky {

// A vertex displacement within this counts as none: such a triangle renders
// exactly as a static one.
inline constexpr float kStillDisplacement = 1e-6f;

inline bool triangle_moves(const ScreenTriangle& t) {
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    for (const ScreenVertex* vertex : v) {
        const MotionRecord* m = vertex->motion;
        if (m == nullptr) continue;
        for (int k = 0; k < 3; ++k)
            if (std::fabs(m->to_frame[k]) > kStillDisplacement ||
                std::fabs(m->to_close[k]) > kStillDisplacement)
                return true;
    }
    return false;
}

// What shading a layer list found: eye distances of its nearest and of its
// farthest layer.
struct ShadedLayers {
    double nearest = 0.0;
    double back = 0.0;
};

// Shades the list from `head` (the farthest) to the nearest over `out`,
// adding glow into `glow` when shader glow is on; fog between the layers
// with the full routine (`fog`). Without `distances` or fog the layers'
// eye distances are not worked out and the result is left at zero.
ShadedLayers shade_layers(RC_Layer* head, double x, double y, float* out, float* glow, bool fog,
                          RR_SampleNode& node, bool distances = true);
// The same with the calling worker's state at hand.
struct CasterWorker;
ShadedLayers shade_layers(CasterWorker& worker, RC_Layer* head, double x, double y, float* out,
                          float* glow, bool fog, RR_SampleNode& node, bool distances = true);
// RC_sample_fast for a worker the caller has already looked up: a row's
// samples share one, which spares each sample the thread-local look-up and
// the call through the node's pointer.
float sample_fast_on(CasterWorker& worker, double x, double y, float* out, RR_SampleNode& node);

// The static sample's shading of its layer list (head the farthest), each
// layer at `shade_time`; returns the sample's depth.
template <bool kFull>
float finish_static_sample(RC_Layer* head, bool transparent, double x, double y, float* out,
                           RR_SampleNode& node, double shade_time);

// Fog of the scene's atmosphere over the stretch [near, far] of the ray
// (eye distances), blended over the colour.
void apply_fog(double near, double far, float* out);

struct CasterCamera;

// The eye ray through the sample position (x, y), eye space.
void eye_ray(const CasterCamera& cam, double x, double y, float* origin, float* direction);

// The eye ray of a moving camera at `time` of the shutter, in the frame's
// eye space: the camera's ray (origin, direction) as seen from where the
// camera is then, both ends blended between shutter open and close.
void camera_ray_at(const CasterCamera& cam, double time, const float* origin,
                   const float* direction, float* moved_origin, float* moved_direction);

// The scene's fog and the lights' fog along a ray that meets nothing.
void fog_open_sky(double x, double y, float* out);

// Whether a layer's object lets light through.
bool layer_is_transparent(const RC_Layer& layer);

// The triangle of a moving layer where it is at the layer's shade time,
// built in `scratch` (vertices, their shading records and texture
// coordinates): what the shading of the layer reads.
struct MovedTriangle {
    ScreenTriangle triangle;
    ScreenVertex vertices[3];
    ShadingRecord shading[3];
    float texture[3][kTextureFloats];
};
const ScreenTriangle& moved_triangle(const RC_Layer& layer, MovedTriangle& scratch);

// A vertex on the screen at shutter open (0) and close (1): its position
// is the camera's single-precision one, its depth worked out in double.
struct SweptVertex {
    float x[2], y[2];
    double z[2];
};

// A moving triangle's vertices at shutter open and their change to close,
// and the bound of the screen area it sweeps; `usable` is false when a
// vertex lies at or behind the eye at either end. Values blend in double
// precision. What every sample's solving of the triangle would otherwise
// work out again is kept beside: for each edge, from its first vertex a to
// its second b, the edge at open (ex, ey), its change to close (dex, dey),
// and the terms of the quadratic in time that do not depend on the point.
struct SweptTriangle {
    struct Vertex {
        double x, dx, y, dy, z, dz;
    };
    struct Edge {
        double ex, ey, dex, dey;
        double linear;     // the point-free part of the linear coefficient
        double quadratic;  // the quadratic coefficient
    };
    Vertex v[3];
    Edge e[3];
    float xmin, xmax, ymin, ymax;
    bool usable;
    bool finite_depths;  // every vertex's depth at both ends
    double x_at(int i, double time) const { return v[i].x + time * v[i].dx; }
    double y_at(int i, double time) const { return v[i].y + time * v[i].dy; }
    double z_at(int i, double time) const { return v[i].z + time * v[i].dz; }
};

// The box around a moving triangle at shutter open (0) and close (1) and
// its nearest depth there. The triangle's box at any time lies within these
// boxes' blend for that time, and its depths within the blend of the
// nearest ones: the times at which it may cover a point, and how near it
// may come then, follow without solving for its edges.
struct SweptBox {
    double xlo[2], xhi[2], ylo[2], yhi[2], znear[2];
};

// What a sample reads of every triangle in its pixel's list, one cache
// line each: the triangle, its place in the tile's table, whether it moves,
// and its box rounded outward to single precision.
struct alignas(64) SweptEntry {
    const ScreenTriangle* key;
    float xlo[2], xhi[2], ylo[2], yhi[2], znear[2];
    std::uint32_t index;
    bool moves;
};

// A moving triangle that may cover the sample between `from` and `until`,
// no nearer there than `near_from` and `near_until` (and the blend of the
// two between).
struct SweptCandidate {
    double key;  // the nearest it may come: candidates go nearest first
    double from, until, near_from, near_until;
    const ScreenTriangle* triangle;
    std::uint32_t index;  // in the tile's table
};

// A candidate's place in the heap that hands them out nearest first.
struct CandidateKey {
    double key;
    std::uint32_t candidate;
};

// A stretch of the shutter during which an opaque layer covers the sample,
// with its depths at both ends.
struct Occluder {
    double time_in, time_out, depth_in, depth_out;
};

// A pixel's list sorted into its still triangles, linked in their order
// for the static layer list, and copies of its moving ones' entries, read
// one after another by every sample of the pixel.
struct PixelSplit {
    const BucketCell* list = nullptr;
    bool valid = false;
    std::vector<BucketCell> still;
    std::vector<SweptEntry> moving;
};

// Each worker's swept triangles, worked out once per tile for the many
// samples that test one triangle: a table of every triangle met in the
// tile, found by its address, forgotten at the start of every tile (a freed
// triangle's address may be taken again). The samples of a pixel do not
// follow one another (a corner sample reads the list of the pixel below or
// beside), so the last few pixels' splits are kept. And the sample's
// scratch lists, grown to the most a sample needed.
struct SweptCache {
    // Open addressing over the triangles' addresses; a power of two, at
    // least twice the triangles held. A slot holds the address and the
    // place together: a look-up costs one cache miss, not two.
    struct Slot {
        const ScreenTriangle* key;
        std::uint32_t index;
    };
    std::vector<Slot> slots;
    std::vector<SweptEntry> entries;
    std::vector<SweptTriangle> values;
    static constexpr std::size_t kPixels = 16;
    PixelSplit pixels[kPixels];
    std::vector<SweptCandidate> candidates;
    std::vector<CandidateKey> order;
    std::vector<Occluder> occluders;
    void clear() {
        if (!entries.empty()) std::fill(slots.begin(), slots.end(), Slot{nullptr, 0});
        entries.clear();
        values.clear();
        for (PixelSplit& pixel : pixels) pixel.valid = false;
    }
};

// The full routine's sample while the shutter is open: moving triangles
// swept through it, the colour integrated over time.
float sample_motion(double x, double y, double time, float* out, RR_SampleNode& node);

}  // namespace sky
