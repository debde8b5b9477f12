// The scene target of a real parse: declarations go to the symbol table,
// settings to the environment record, everything else to the scene
// description. The parse entry point lives here too.
#include <cstdio>

#include "platform/fatal.h"
#include "sdl/builder.h"
#include "sdl/environment.h"
#include "sdl/scene_description.h"
#include "sdl/sdl_errors.h"
#include "sdl/symbols.h"

int sdl_parse();

namespace sky {
namespace {

float evaluate_now(Expr* value) {
    float result = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &result, value, nullptr)) exit_process(1);
    return result;
}

class SceneLoader final : public SceneTarget {
public:
    void begin_definition() override {}
    void end_definition() override { finalise_environment(); }

    void declare(std::int32_t type, const char* name, Expr* initialiser, std::int32_t) override {
        // Cameras keep no symbol: their entries carry the declared name.
        if (type == SDL_CAMERA && initialiser) {
            for (CameraSource& source : scene_description().cameras)
                if (source.body == initialiser->payload) source.name = name;
        }
        Declare(name, type, initialiser);
    }

    void declare_command(std::int32_t kind, Body* body, std::int32_t line) override {
        body->command_kind = kind;
        scene_description().commands.push_back({kind, body, line});
    }

    void create_model(const char* kind, const char* model, const char* file,
                      std::int32_t) override {
        // Models are built in; none is ever loaded from a file.
        fatal("Dynamic load of OCR %s model %s from %s failed\n", kind, model, file);
    }

    void set_expr_setting(std::int32_t setting, Expr* value, std::int32_t) override {
        keep_setting(setting, value);
    }
    void set_int_setting(std::int32_t setting, std::int32_t value, std::int32_t) override {
        keep_setting_integer(setting, value);
    }

    void set_resolution(std::int32_t x, std::int32_t y) override {
        environment().x_resolution = x;
        environment().y_resolution = y;
    }
    void set_rt_shadow_offset(float value) override { environment().rt_shadow_offset = value; }
    void set_clamp_bumpsize(float value) override {
        scene_description().clamp_bumpsize = value;
        scene_description().clamp_bumpsize_set = true;
    }
    void set_up_axis(std::int32_t axis) override { environment().up_axis = axis; }
    void set_rt_top_level_voxel_res(std::int32_t x, std::int32_t y, std::int32_t z) override {
        auto& res = environment().rt_top_level_voxel_res;
        res[0] = x;
        res[1] = y;
        res[2] = z;
    }
    void set_hline_colour(bool fill, Expr* r, Expr* g, Expr* b, std::int32_t) override {
        float* colour = fill ? environment().hline_fill_color : environment().hline_line_color;
        colour[0] = evaluate_now(r);
        colour[1] = evaluate_now(g);
        colour[2] = evaluate_now(b);
    }
    void set_subdivision_control(Expr* pairs, std::int32_t) override {
        environment().subdivision_control = pairs;
    }
    void set_output(bool matte, Expr* file, std::int32_t) override {
        (matte ? scene_description().matte : scene_description().output) = file;
    }
    void set_image_shade(const char* name, std::int32_t line) override {
        scene_description().image_shade = built(Rr_make_variable_reference(name, line));
    }
    void assign_system_variable(const char* name, Expr* value, std::int32_t) override {
        sky::assign_system_variable(name, value);
    }

    void add_stage(Expr* file, Expr* use_background, Expr* use_camera, std::int32_t) override {
        StageRecord stage;
        stage.file = file;
        stage.use_background = use_background;
        stage.use_camera = use_camera;
        scene_description().stages.push_back(stage);
    }

    void set_environment_clause(EnvironmentClause clause, Body* body, Expr* value,
                                std::int32_t) override {
        SceneDescription& scene = scene_description();
        switch (clause) {
            case CLAUSE_BACKGROUND_BODY:
            case CLAUSE_BACKGROUND_COLOUR:
            case CLAUSE_BACKGROUND_TEXTURE:
            case CLAUSE_BACKGROUND_FILE:
                if (!scene.accept_background) return;
                scene.background = body;
                scene.background_value = value;
                scene.background_form = clause;
                return;
            case CLAUSE_FOG:
                scene.fog = body;
                return;
            case CLAUSE_SHADER_GLOW:
                scene.shader_glow = body;
                return;
            case CLAUSE_PHOTO_EFFECTS:
                scene.photo_effects = body;
                return;
            case CLAUSE_MASTER_LIGHT:
                scene.master_light = body;
                return;
            case CLAUSE_DYNAMICS:
                scene.dynamics = body;
                return;
        }
    }

    void set_model(StatementChain* statements) override {
        if (statements == nullptr || statements->first == nullptr) return;
        SceneDescription& scene = scene_description();
        if (scene.model_last)
            scene.model_last->next = statements->first;
        else
            scene.model = statements->first;
        scene.model_last = statements->last;
    }
};

SceneLoader loader;
SceneTarget* current_target = &loader;

}  // namespace

SceneDescription& scene_description() {
    static SceneDescription scene;
    return scene;
}

void reset_scene_description() {
    scene_description() = SceneDescription{};
}

SceneTarget& scene_target() {
    return *current_target;
}

void set_scene_target(SceneTarget* target) {
    current_target = target ? target : &loader;
}

int parse_bound_input() {
    reset_open_bodies();
    forget_packing_lists();
    return sdl_parse();
}

}  // namespace sky
