// Reading a scene from its input: the binary scene data that may precede the
// SDL text, and the SDL text itself.
#pragma once

namespace sky {

class SdlInput;

// Reads the binary scene data at the start of the input (meshes, images and
// image-based lighting data). False when it cannot be read.
bool read_binary_scene_data(SdlInput& input);

// Reads the SDL text to its end; returns the number of errors reported.
int parse_scene(SdlInput& input);

// Forgets every scene read so far: symbols (the predefined ones are made
// again), settings, the scene description, the error count and the front
// end's memory. For tests, benchmarks and the fuzzing harness.
void reset_front_end();

}  // namespace sky
