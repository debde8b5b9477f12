// Reading scenes in tests: SDL text straight from memory, through the same
// reader the renderer uses.
#pragma once

#include <string>

#include "platform/input_stream.h"
#include "sdl/reader.h"
#include "sdl/sdl_input.h"

namespace sky {

// Parses `text` as a whole scene into the current front end (call
// reset_front_end() first for a fresh one); returns the errors reported.
inline int parse_scene_text(const std::string& text) {
    auto stream = InputStream::from_memory(text.data(), text.size(), "test scene");
    SdlInput input;
    input.bind(stream.get());
    input.probe();
    return parse_scene(input);
}

}  // namespace sky
