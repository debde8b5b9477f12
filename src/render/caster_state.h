// The ray caster's state for the camera being rendered, and each worker's
// own scratch: set on the main thread before the tiles, read by every
// worker during them. Internal to src/render.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/background.h"
#include "render/sample_internal.h"
#include "render/sample_node.h"
#include "render/sampling_tables.h"
#include "scene/camera.h"
#include "shading/photo_effects.h"
#include "shading/shade_point.h"

namespace sky {

struct CasterCamera {
    const CameraRecord* camera = nullptr;
    ScreenMapping screen;
    // Screen depth = depth_scale + depth_offset / eye z (perspective), the
    // eye z itself otherwise.
    float depth_scale = 1.0f, depth_offset = 0.0f;
    bool perspective = true;
    // Depths along the view axis instead of eye distances.
    bool axial_depth = false;
    bool depth_file = false;
    bool composite = false;
    bool glow = false;           // shader glow for the frame
    bool light_effects = false;  // glow, halo or flare lights
    bool fog = false;
    bool light_fog = false;  // lights with fog, in the full routine
    PhotoEffects photo;      // the lens filter and film grain, per finished row
    bool motion_blur = false;
    // A camera moving through the shutter: the frame's eye space from its
    // eye spaces at shutter open and close. Shading happens in the frame's
    // eye space, where the lights and the shadow lookups were prepared.
    bool camera_moves = false;
    Matrix4 frame_from_open, frame_from_close;
    bool timing = false;  // -J: the depth rows carry milliseconds per pixel
    std::int32_t xresolution = 0, yresolution = 0;
    // Field rendering: only rows whose parity is `field_rows` are rendered.
    bool fields = false;
    std::int32_t field_rows = 0;
    std::vector<ObjectShading> objects;
};

CasterCamera& caster_camera();

// The clock of -J's per-pixel times.
inline double timing_milliseconds() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The per-worker shading state: the triangle whose eye-space plane and
// shading set-up were made last, reused while consecutive layers hit it
// (a triangle covers several samples in a row, the ground plane thousands).
// Forgotten at the start of every tile, since a freed triangle's address
// may be taken again.
struct TrianglePlane {
    const ScreenTriangle* triangle = nullptr;
    float p0[3], e1[3], e2[3], n[3];
    float inverse_nn = 0.0f;
    // n · p0: the numerator of where a ray from the eye point meets the plane.
    float n_dot_p0 = 0.0f;
    // How near to edge-on a ray may meet the plane and still be solved for
    // its hit: a share of the normal's length.
    float edge_on = 0.0f;

    // What the shading point takes from the triangle alone, whatever the
    // sample: `n` made unit length.
    float unit_normal[3];

    // What only textures read, made when the first texture on the triangle
    // asks (`texture_ready`; most triangles are shaded without one): P1's
    // and P2's normals less P0's; the corners' surface parameters and where
    // solid textures find each corner; the footprint of the sample spacing
    // of the triangle's first sample (its reach along the edges across x
    // and y, its change of u and v) and the tangents.
    bool texture_ready = false;
    double footprint = 0.0;
    float normal_step[2][3];
    float uv[3][2];
    const float* solid[3];
    float edge_x[2], edge_y[2];
    float du = 0.0f, dv = 0.0f;
    Triple dp_du, dp_dv;
};

// What the texture inputs of the worker's shading point are made from
// when a texture first asks for them (`fill_texture_inputs`): the layer's
// hit weights and the interpolated normal's length and side, with the
// worker's plane, which stays set up for the layer's triangle while the
// layer is shaded.
struct PendingTextureInputs {
    TrianglePlane* plane = nullptr;
    const ScreenTriangle* triangle = nullptr;
    float w[3] = {0.0f, 0.0f, 0.0f};
    float n_length = 0.0f, side = 1.0f;
};

// The adaptive routine's jittered offsets of y for the columns x_first ..
// x_last of an n × n grid of `cells` cells (cells per column, in cell-table
// order), and each one's share of the distance from the pixel's centre:
// the same in every row.
struct ColumnJitter {
    std::int32_t x_first = 0, x_last = -1;
    int n = 0, cells = 0;
    std::vector<double> dy, y_term;
    // Each cell's least and most `y_term` over the columns.
    double least[kMaxGridSamples], most[kMaxGridSamples];
};

struct alignas(64) CasterWorker {
    RR_SampleNode node;
    LayerPool layers;
    MotionPools motion;
    MovedTriangle moved;   // a moving layer's triangle at its shade time
    RC_Layer moved_layer;  // and the layer shaded in its stead
    // Made by the worker's first motion-blurred sample.
    std::unique_ptr<SweptCache> swept;
    TrianglePlane plane;
    ColumnJitter columns;
    AR_ShadePoint point;
    PendingTextureInputs pending;
    std::uint32_t seed = 0;
    float glow[3] = {0, 0, 0};
    std::int64_t samples = 0;  // samples taken, for tests and statistics
};

CasterWorker& caster_worker();
CasterWorker& caster_worker(int index);

// The glow buffer of the frame (post effects): where a sample's glow goes.
using GlowSink = void (*)(double x, double y, const float* glow);
void set_glow_sink(GlowSink sink);
GlowSink glow_sink();

}  // namespace sky
