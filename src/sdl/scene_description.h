// What the parses of a run have built besides symbols and settings: the
// model statements, the stages, the environment section's clauses and the
// definition section's few settings that live outside the settings record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdl/body.h"
#include "sdl/statements.h"

namespace sky {

struct StageRecord {
    Expr* file = nullptr;            // FILENAME
    Expr* use_background = nullptr;  // SCALAR
    Expr* use_camera = nullptr;      // SCALAR
    std::string evaluated_file;
    bool background = true;  // replaced by the evaluated choices at start-up
    bool camera = true;
    Statement* model_first = nullptr;  // the first model statement the stage added
};

struct CommandRecord {
    std::int32_t kind = 0;  // 3000: multifillet
    Body* body = nullptr;
    std::int32_t line = 0;
};

// A camera body as the scene wrote it, in the order read (declarations and
// camera statements alike), with the stage that brought it (0: the main scene).
struct CameraSource {
    const Body* body = nullptr;
    std::int32_t stage = 0;
    const char* name = nullptr;  // the declared name; null for a camera statement's
};

struct SceneDescription {
    // The model section: the statements of the main scene, then those of each
    // stage file, in the order read.
    Statement* model = nullptr;
    Statement* model_last = nullptr;

    // The first element stands for the main scene and names no file.
    std::vector<StageRecord> stages;

    // Environment section. A stage's background is accepted only when the
    // stage says so (start-up toggles `accept_background`).
    bool accept_background = true;
    Body* background = nullptr;        // background (...)
    Expr* background_value = nullptr;  // background = color t | texture | file
    std::int32_t background_form = 0;  // EnvironmentClause of the last background
    Body* fog = nullptr;
    Body* shader_glow = nullptr;
    Body* photo_effects = nullptr;
    Body* master_light = nullptr;
    Body* dynamics = nullptr;

    // Definition section settings outside the settings record.
    Expr* image_shade = nullptr;  // a reference to the named variable
    float clamp_bumpsize = 0.0f;
    bool clamp_bumpsize_set = false;
    Expr* output = nullptr;  // the default camera's image and mask file expressions
    Expr* matte = nullptr;

    std::vector<CommandRecord> commands;

    std::vector<CameraSource> cameras;
    std::int32_t reading_stage = 0;  // the stage being read: 0 the main scene
};

SceneDescription& scene_description();
void reset_scene_description();  // tests only

}  // namespace sky
