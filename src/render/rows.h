// The row routines and the camera pass of the ray caster.
#pragma once

#include <cstdint>

#include "render/sample_node.h"

namespace sky {

struct Tile;

// One sample per pixel at (x + 0.507, y + 0.485).
void single_sample_row(float* colour_row, std::int32_t y, RR_SampleNode& node);
// Shared corners, jittered samples and the contrast rule.
void adaptive_row(float* colour_row, std::int32_t y, RR_SampleNode& node);
// A new tile: both corner rows unsampled (and no lattice row of the
// hidden-line routine kept), the first row left to right.
void start_tile_corners(RR_SampleNode& node);

// The calling worker's share of a camera pass.
void render_tile_rows(Tile& tile);

// Where finished rows go: the image writer unless a test installs its own.
using RowSink = void (*)(std::int32_t y, const float* colour_row, const float* depth_row,
                         const std::uint8_t* object_row, std::int32_t width);
void set_row_sink(RowSink sink);  // null: the image writer

// Main thread, before the workers render a camera: the caster's view of
// the camera, the objects' shading and the background.
void prepare_caster(const CameraRecord& camera);

// Puts the caster into the frame loop's camera pass and builds the
// sampling tables.
void install_render_passes();
void remove_render_passes();  // tests

// Samples the calling worker took since the last reset (tests, statistics).
std::int64_t worker_samples(int worker);
void reset_sample_counts();

}  // namespace sky
