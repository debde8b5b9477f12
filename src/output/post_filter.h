// The post filter between the output queue and the files: each row becomes
// the weighted average of itself and its eight neighbours, the weights
// normalised by those neighbours that exist, so a flat image stays flat up to
// its corners.
#pragma once

#include <cstdint>

namespace sky {

struct OutputContext;

struct PostFilterWeights {
    float center = 8.0f, adjacent = 1.0f, diagonal = 1.0f;
};

// The scene's post_center, post_adjacent and post_diagonal; an absent or
// failing value takes its default, one below 1 its default with a warning.
PostFilterWeights post_filter_weights();

// The stages the outputs call (OutputStages): set up for a camera's rows, then
// fed every row in order; a call with null bytes hands on the last row.
void post_filter_set_up(std::int32_t width);
void post_filter_row(OutputContext& context, const std::uint8_t* bytes, const float* depth,
                     const std::uint8_t* coverage, const float* colour, std::int32_t width,
                     std::int32_t height);

}  // namespace sky
