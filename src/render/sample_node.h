// The sample node and the per-worker state of the ray caster: the row
// buffers the row routines fill, the layer pool a sample's hits come from,
// and the shading record each visible layer is shaded through.
//
// Everything here is per worker (indexed by worker_index()); nothing is
// shared between workers or locked while tiles are rendered.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry/buckets.h"
#include "platform/fatal.h"
#include "platform/memory.h"
#include "shading/shade_point.h"

namespace sky {

struct AR_ShaderInfo;
struct AR_LightInfo;
struct CameraRecord;
struct RR_SampleNode;

// A sample at image position (x, y) (pixels, fractional), at shutter time
// `time`, into `out` (RGBA, 0..255); returns the sample's depth (eye
// distance, 1e8 for nothing).
using SampleRoutine = float (*)(double x, double y, double time, float* out, RR_SampleNode& node);
// A row of the tile into `colour_row` (RGBA per pixel of the tile width).
using RowRoutine = void (*)(float* colour_row, std::int32_t y, RR_SampleNode& node);

// A corner not sampled yet has this red (the bit pattern 0xFF7FFFFF).
inline constexpr float kUnsampledCorner = -3.40282347e38f;
// The depth of a sample, pixel or row entry that sees nothing.
inline constexpr float kNothingDepth = 1e8f;

// A lattice row of the hidden-line routine not looked at yet.
inline constexpr double kNoEdgeRow = -1e30;

// A point of the hidden-line routine's lattice: the surface the eye ray
// there meets first.
struct EdgeRecord {
    float depth = kNothingDepth;            // eye distance
    std::int32_t cell_u = -1, cell_v = -1;  // isoparametric band of a patch
    std::int32_t index = -1;                // the object among the caster's; -1 nothing
    float normal[3] = {0.0f, 0.0f, 0.0f};   // eye space
    float time = 0.0f;                      // milliseconds the look took, with -J only
};

struct RR_SampleNode {
    std::int32_t x_left = 0, x_right = 0, y_low = 0, y_high = 0;
    std::int32_t corner_width = 0;
    std::int32_t corner_rows = 2;
    std::int32_t aa_max = 0, aa_min = 0;
    // The spacing of the finest samples, in pixels: a pixel's width without
    // supersampling.
    double sample_spacing = 1.0;
    double aa_threshold = 0.5;
    // Row state of the adaptive routine.
    double row_y = 0.0;
    double first_x = 0.0;
    float* upper_corners = nullptr;  // the row's upper edge (RGBA per corner)
    float* lower_corners = nullptr;
    std::int32_t corner_index = 0;
    float* corner_colour[2] = {nullptr, nullptr};
    float* depth_row = nullptr;
    std::uint32_t pixel_counter = 0;
    float* colour_row = nullptr;
    std::int32_t missed = 0;
    std::int32_t* coverage[2] = {nullptr, nullptr};  // composite rendering only
    std::int32_t scan_direction = 1;
    std::int32_t fog_active = 0;
    std::int32_t gate_left = 0, gate_right = 0;
    std::uint8_t* object_row = nullptr;  // 8 bytes per pixel, with an image shader only
    std::int32_t flat_background = 1;
    std::int32_t pixel_started = 0;
    const BucketCell* pixel_triangles = nullptr;
    SampleRoutine sample_routine = nullptr;

    // Beside the listed fields: the depth each corner's sample returned,
    // so that every pixel's depth takes all four of its corners whichever
    // neighbour sampled them first; and the film gate's rows.
    float* corner_depth[2] = {nullptr, nullptr};
    float* upper_depths = nullptr;
    float* lower_depths = nullptr;
    std::int32_t* upper_coverage = nullptr;
    std::int32_t* lower_coverage = nullptr;
    std::int32_t gate_low = 0, gate_high = 0;
    RowRoutine row_routine = nullptr;
    // The hidden-line routine's lattice rows and the edge flags of their
    // cells (hidden_line.h).
    EdgeRecord* edge_records = nullptr;
    std::uint8_t* edge_cells = nullptr;
    // The screen y each of the `edge_rows` rows of `edge_records` was
    // looked at (kNoEdgeRow: none), so that consecutive rows of a tile share
    // their lattice rows, forgotten at every tile's start; then the lower
    // and upper lattice rows' y of each row of cells kept in `edge_cells`.
    double* edge_row_y = nullptr;
    std::int32_t edge_rows = 0;
};

// What the caster needs of a render object for the camera being rendered,
// resolved once on the main thread before the tiles.
struct ObjectShading {
    const AR_ShaderInfo* shader = nullptr;
    std::span<const AR_LightInfo* const> lights;
    bool transparent = false;
    float opacity_depth = 0.0f;
    const char* name = nullptr;
};

// One surface hit of a sample.
struct RC_Layer {
    RC_Layer* next = nullptr;  // the next nearer layer
    const ScreenTriangle* triangle = nullptr;
    float s = 0.0f, t = 0.0f;  // barycentric weights of P1 and P2
    float depth = 0.0f;        // screen depth: larger is nearer
    void* events = nullptr;    // the motion-blur sweep's records of this layer
    double time_in = 0.0, time_out = 1.0;
    double depth_in = 0.0, depth_out = 0.0;
    double shade_time = 0.0;
    // The triangle moves through the shutter: shaded where it is at
    // `shade_time`, not where the frame time puts it.
    bool moving = false;
};

// Records of one kind come from blocks of 500 that live for the run; each
// sample starts over at the first block, so after warming up no sample
// allocates.
template <typename T>
class BlockPool {
public:
    static constexpr int kBlockRecords = 500;
    BlockPool() = default;
    ~BlockPool() {
        for (Block* b = first_; b != nullptr;) {
            Block* next = b->next;
            b->~Block();
            SKY_FREE(b);
            b = next;
        }
    }
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    void reset() {
        current_ = first_;
        used_ = 0;
    }
    T* take() {
        if (current_ == nullptr || used_ == kBlockRecords) grow();
        return &current_->records[used_++];
    }
    // Discards the record taken last.
    void give_back() { --used_; }
    int blocks() const {
        int n = 0;
        for (const Block* b = first_; b != nullptr; b = b->next) ++n;
        return n;
    }

private:
    struct Block {
        T records[kBlockRecords];
        Block* next = nullptr;
    };
    void grow() {
        if (current_ != nullptr && current_->next != nullptr) {
            current_ = current_->next;
            used_ = 0;
            return;
        }
        void* memory = SKY_MALLOC(sizeof(Block));
        if (memory == nullptr)
            fatal("Error: out of memory: cannot allocate %zu bytes for rendering.\n",
                  sizeof(Block));
        auto* block = new (memory) Block();
        if (current_ == nullptr)
            first_ = block;
        else
            current_->next = block;
        current_ = block;
        used_ = 0;
    }
    Block* first_ = nullptr;
    Block* current_ = nullptr;
    int used_ = 0;
};

using LayerPool = BlockPool<RC_Layer>;

// The motion-blur sweep's records.
enum class EventKind : std::int8_t { kEnter, kLeave };
struct RC_Event {
    double time = 0.0;
    EventKind kind = EventKind::kEnter;
    RC_Layer* layer = nullptr;
    RC_Event* next = nullptr;
};
// What the events are sorted by, apart from the events themselves: the
// time's bits (times lie in [0, 1], where the bits of a double order as the
// double does) above the kind, so that one integer comparison orders both.
struct RC_EventKey {
    std::uint64_t key;
    std::uint32_t event;
};
// The layers covering the sample at the sweep's time, nearest first; the
// same records make each segment's chain.
struct RC_InEntry {
    RC_Layer* layer = nullptr;
    RC_InEntry* next = nullptr;
    double depth = 0.0;  // the layer's depth at the time the in-list was last sorted
};
// A stretch of the shutter with one front layer and the layers seen
// through it (the front first, ending at the first opaque one).
struct RC_Segment {
    double start = 0.0, end = 0.0, duration = 0.0;
    RC_Layer* front = nullptr;
    RC_InEntry* chain = nullptr;
    RC_Segment* previous = nullptr;
    // The share of the sample's colour its shading carries; 0 when another
    // segment of its run is shaded for it.
    double weight = 0.0;
};

// A worker's pools for the motion-blurred sample.
struct MotionPools {
    LayerPool layers;  // layers of moving triangles
    // Events are sorted by time in one array that grows to the most any
    // sample needed: a sample may have hundreds of them, too many for
    // sorting by insertion into a list. The first `event_count` of each are
    // the sample's; the arrays never shrink, so what a sample writes is not
    // cleared first.
    std::vector<RC_Event> events;
    std::vector<RC_EventKey> order;
    std::size_t event_count = 0;
    BlockPool<RC_InEntry> entries;
    BlockPool<RC_Segment> segments;
    void reset() {
        layers.reset();
        event_count = 0;
        entries.reset();
        segments.reset();
    }
};

// The layer list of a static sample at (x, y) from the pixel's triangle
// list: head the farthest layer, each `next` nearer, ending at the nearest
// opaque hit. Sets `transparent` when a transparent layer was inserted.
RC_Layer* collect_layers(const BucketCell* list, float x, float y, LayerPool& pool,
                         bool& transparent);

// --- the node ---------------------------------------------------------------

// Builds the calling worker's node for a camera render: buffers for the
// tile width, the sampling levels, the film gate, the sample and row
// routines. Fatal "Bad init of RR_SampleNode\n" without a node.
void RR_init_sample_node(RR_SampleNode* node, const CameraRecord& camera);
void RR_release_sample_node(RR_SampleNode& node);

// The calling worker's node.
RR_SampleNode& worker_sample_node();

// The routines the node set-up chooses between.
float RC_sample_fast(double x, double y, double time, float* out, RR_SampleNode& node);
float RC_sample_full(double x, double y, double time, float* out, RR_SampleNode& node);

// Whether a sample whose pixel list is empty shows nothing but the plain
// background under the node's sample routine (no fog, coverage or motion to
// account for); if so, `colour` receives that background (RGBA, unclamped),
// the same for every such sample of the camera.
bool empty_sample_colour(const RR_SampleNode& node, float* colour);

// Whether the camera render needs the full routine.
bool needs_full_sample_routine(const CameraRecord& camera);

}  // namespace sky
