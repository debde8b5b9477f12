// Lights and shaders in tests: declared in SDL text read by the renderer's
// own reader, evaluated for the frame, placed with a camera at the world
// origin looking down −z (eye space = world space), and asked about points.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "base/vecmath.h"
#include "sdl/body.h"
#include "sdl/parse_test_support.h"
#include "sdl/reader.h"
#include "sdl/symbols.h"
#include "shading/light.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace sky::test {

class ShadingTest : public ::testing::Test {
protected:
    void SetUp() override {
        install_texture_hooks();
        install_shading_hooks();
    }
    void TearDown() override {
        for (auto& info : lights_) Ar_release_light_info(*info);
        remove_shading_hooks();
        remove_texture_hooks();
    }

public:
    // Reads `definitions` (a DEFINITION section's text).
    static bool read(const std::string& definitions) {
        reset_front_end();
        return parse_scene_text("DEFINITION\n" + definitions + "\nMODEL\n") == 0;
    }

    // For death tests: installs the hooks, reads `definitions` and evaluates
    // the declared shader `s` or light `l`, which may end the process.
    static void evaluate_declared_shader(const std::string& definitions) {
        install_texture_hooks();
        install_shading_hooks();
        read(definitions);
        if (auto* shader = record_of<RR_Shader>("s", SDL_SHADER)) Rr_evaluate_shader(*shader);
    }
    static void evaluate_declared_light(const std::string& definitions) {
        install_texture_hooks();
        install_shading_hooks();
        read(definitions);
        AR_LightInfo info;
        if (auto* light = record_of<RR_Light>("l", SDL_LIGHT)) Ar_evaluate_light(*light, info);
    }

protected:
    template <typename Record>
    static Record* record_of(const char* name, std::int32_t type) {
        Symbol* symbol = find_symbol(name);
        if (symbol == nullptr || symbol->type != type || symbol->value == nullptr) return nullptr;
        const Body* body = static_cast<ObjectValue*>(symbol->value)->body;
        return body ? static_cast<Record*>(const_cast<void*>(body->definition)) : nullptr;
    }

    // The declared light `name` evaluated and placed at `position` (its own
    // frame translated there), ready to be asked.
    AR_LightInfo* light(const std::string& definitions, const Triple& position = {},
                        const char* name = "l") {
        if (!read(definitions)) return nullptr;
        auto* record = record_of<RR_Light>(name, SDL_LIGHT);
        if (record == nullptr) return nullptr;
        auto info = std::make_unique<AR_LightInfo>();
        Ar_evaluate_light(*record, *info);
        Ar_place_light(*info, translation_matrix(position), Matrix4{});
        Ar_prepare_light_for_camera(*info, Matrix4{}, Matrix4{});
        info->colour_scale = Triple{info->intensity, info->intensity, info->intensity};
        lights_.push_back(std::move(info));
        return lights_.back().get();
    }

    // The declared shader `name`, evaluated for the frame.
    static AR_ShaderInfo* shader(const std::string& definitions, const char* name = "s") {
        if (!read(definitions)) return nullptr;
        auto* record = record_of<RR_Shader>(name, SDL_SHADER);
        if (record == nullptr) return nullptr;
        record->info->evaluated_time = -1e30;
        Rr_evaluate_shader(*record);
        return record->info;
    }

    std::vector<std::unique_ptr<AR_LightInfo>> lights_;
};

// A point at the origin facing +z, seen from +z.
inline AR_ShadePoint facing_point() {
    AR_ShadePoint p;
    p.normal = Triple{0, 0, 1};
    p.geometric_normal = p.normal;
    p.view = Triple{0, 0, 1};
    return p;
}

inline Triple unit(float x, float y, float z) {
    return normalise(Triple{x, y, z});
}

}  // namespace sky::test
