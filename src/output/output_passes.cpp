// The outputs in the frame loop: opened for the camera's window once its view
// is final, closed after the end barrier.
#include <cstdint>
#include <vector>

#include "base/frame_passes.h"
#include "base/options.h"
#include "base/tiles.h"
#include "output/output_context.h"
#include "output/post_filter.h"

namespace sky {
namespace {

void open_camera_outputs(const CameraRecord& camera) {
    const RenderOptions& options = render_options();
    open_outputs(camera_output(), camera, options.xleft, options.xright, options.ylow,
                 options.yhigh, options.quiet);
}

void close_camera_outputs() {
    close_outputs(camera_output());
}

// A build without a sampler still makes complete files: every row of the
// tile reaches the outputs as nothing seen (black, transparent, depth 1e8).
// With fields, one row of each pair belongs to the field.
void deliver_unrendered_rows(Tile& tile, void*) {
    OutputContext& context = camera_output();
    const std::size_t width = static_cast<std::size_t>(context.width);
    thread_local std::vector<float> colour, depth;
    colour.assign(width * 4, 0.0f);
    depth.assign(width, 1e8f);
    for (std::int32_t y = tile.y_last; y >= tile.y_first; --y) {
        if (context.fields && (y - context.ylow) % 2 != 0) continue;
        output_scanline(y, context, colour.data(), depth.data(), nullptr);
    }
}

}  // namespace

void install_output_passes() {
    FramePasses& passes = frame_passes();
    passes.open_outputs = open_camera_outputs;
    passes.close_outputs = close_camera_outputs;
    OutputStages& stages = output_stages();
    stages.post_filter_set_up = post_filter_set_up;
    stages.post_filter_row = post_filter_row;
    if (passes.camera_pass.render_tile == nullptr)
        passes.camera_pass.render_tile = deliver_unrendered_rows;
}

}  // namespace sky
