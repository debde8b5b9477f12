// Textures in tests: read from SDL text through the renderer's own reader,
// evaluated for the frame and looked up.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/symbols.h"
#include "texture/texture.h"

namespace sky::test {

// Installs the texture hooks for the test and takes them away after it, so
// the front end's own tests read texture bodies as written.
class TextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        install_texture_hooks();
        Ar_set_texturing(true);
    }
    void TearDown() override { remove_texture_hooks(); }

    // Reads `definitions` and returns the declared texture `name`, evaluated
    // and initialised; null when the scene does not read.
    static AR_TextureInfo* declared(const std::string& definitions, const char* name = "t") {
        reset_front_end();
        if (parse_scene_text("DEFINITION\n" + definitions + "\nMODEL\n") != 0) return nullptr;
        initialise_declared_values();
        Symbol* symbol = find_symbol(name);
        if (symbol == nullptr || symbol->type != SDL_TEXTURE || symbol->value == nullptr)
            return nullptr;
        AR_TextureInfo* texture = texture_of(*static_cast<TextureValue*>(symbol->value));
        if (texture == nullptr) return nullptr;
        Ar_evaluate_texture(*texture);
        Ar_init_texture(*texture);
        return texture;
    }

    static TextureColour look(const AR_TextureInfo& texture, float u, float v, float du = 0.0f,
                              float dv = 0.0f) {
        TextureLookup at;
        at.u = u;
        at.v = v;
        at.du = du;
        at.dv = dv;
        TextureColour out;
        EXPECT_TRUE(Ar_invoke_texture(texture, at, out));
        return out;
    }
};

inline void expect_colour(const TextureColour& got, float r, float g, float b,
                          float tolerance = 1e-3f) {
    EXPECT_NEAR(got.r, r, tolerance);
    EXPECT_NEAR(got.g, g, tolerance);
    EXPECT_NEAR(got.b, b, tolerance);
}

}  // namespace sky::test
