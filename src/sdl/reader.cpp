// Reading a scene: the binary scene data that may precede the SDL text, and
// the SDL text itself through the lexer and the grammar.
#include "sdl/reader.h"

#include "sdl/animation.h"
#include "sdl/builder.h"
#include "sdl/environment.h"
#include "sdl/lexer.h"
#include "sdl/pool.h"
#include "sdl/scene_description.h"
#include "sdl/scene_packets.h"
#include "sdl/sdl_errors.h"
#include "sdl/sdl_input.h"
#include "sdl/symbols.h"

namespace sky {

void reset_front_end() {
    reset_open_bodies();
    reset_symbol_table();
    reset_symbol_storage();
    reset_scene_description();
    reset_environment();
    reset_scene_packets();
    release_animation_universe();
    reset_sdl_version();
    sdl_reset_error_count();
    expr_arena_rewind(ExprArenaMark{});
    sdl_pool().reset();
    register_predefined_symbols();
}

int parse_scene(SdlInput& input) {
    sdl_bind_input(&input);
    parse_bound_input();
    return sdl_error_count();
}

}  // namespace sky
