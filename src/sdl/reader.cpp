// Scene reading entry points. The SDL grammar is not wired in yet: the text is
// read to its end, so that a writer on the other end of a pipe never sees it
// closed early, and the scene counts as empty.
#include "sdl/reader.h"

#include "sdl/sdl_input.h"

namespace sky {

bool read_binary_scene_data(SdlInput& /*input*/) {
    // No reader for binary scene data exists yet; such input cannot be rendered.
    return false;
}

int parse_scene(SdlInput& input) {
    char buffer[16384];
    while (input.read(buffer, sizeof buffer) > 0) {
    }
    return 0;
}

}  // namespace sky
