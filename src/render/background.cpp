// The background module. A plain colour (the usual case) costs a copy per
// sample. An environment texture (Sky, Chrome, Ball ...) is looked up by
// the eye ray's direction; another background texture at the image
// position mapped to (u, v) in [0, 1], kept a hair inside the edges so
// that wrapping textures never read across their seam. A backdrop is read
// from its file once per camera and sampled at the pixel it maps to; a
// backdrop that cannot be read is reported by the image cache and leaves
// the plain colour. Reflections of `reflect_background` ask for it by
// direction.
#include "render/background.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <string_view>

#include "base/vecmath.h"
#include "sdl/body.h"
#include "sdl/builder.h"
#include "sdl/expr.h"
#include "sdl/scene_description.h"
#include "sdl/types.h"
#include "shading/shader.h"
#include "texture/texture.h"
#include "texture/texture_cache.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

struct Background {
    float colour[3] = {0.0f, 0.0f, 0.0f};
    AR_TextureInfo* texture = nullptr;
    bool environment = false;  // the texture is looked up by direction
    std::shared_ptr<const ImagePyramid> backdrop;
    std::int32_t xresolution = 1, yresolution = 1;
    // The camera, for directions: eye space to world, and the screen.
    Matrix4 world_from_eye;
    ScreenMapping screen;
    float pixel_angle = 0.0f;  // radians a pixel spans at the centre
};
Background background;

void evaluate_colour(Expr* e) {
    Triple c;
    if (e && AR_evaluate(SDL_TRIPLE, &c, e, nullptr)) {
        background.colour[0] = c.x;
        background.colour[1] = c.y;
        background.colour[2] = c.z;
    }
}

void evaluate_texture(Expr* e) {
    TexturedColour slot;
    if (e && Ar_evaluate_textured_colour(e, Triple{}, slot)) {
        background.texture = slot.texture;
        background.colour[0] = slot.colour.x;
        background.colour[1] = slot.colour.y;
        background.colour[2] = slot.colour.z;
    }
}

void evaluate_backdrop(Expr* e) {
    std::string name;
    if (e && AR_evaluate(SDL_FILENAME, &name, e, nullptr) && !name.empty())
        background.backdrop = texture_image(name);
}

// The eye ray's direction through image position (x, y), eye space.
Triple eye_ray(double x, double y) {
    const ScreenMapping& s = background.screen;
    Triple eye{0.0f, 0.0f, -1.0f};
    // Perspective: x = cx − sx·ex/ez at ez = −1; orthographic rays are parallel.
    if (s.perspective && s.sx != 0.0f && s.sy != 0.0f)
        eye = Triple{(static_cast<float>(x) - s.cx) / s.sx, (static_cast<float>(y) - s.cy) / s.sy,
                     -1.0f};
    return normalise(eye);
}

// The background a reflection sees in an eye-space direction: an
// environment texture in that direction, a picture across the image where
// the direction meets the screen in front of the eye, the plain colour
// elsewhere.
bool reflected_background(const Triple& direction, float spread, Triple& colour) {
    colour = Triple{background.colour[0], background.colour[1], background.colour[2]};
    if (background.environment) {
        TextureLookup at;
        at.direction = normalise(transform_vector(direction, background.world_from_eye));
        at.eye_direction = direction;
        at.du = at.dv = spread;
        TextureColour out;
        if (Ar_invoke_texture(*background.texture, at, out)) colour = out.rgb();
        return true;
    }
    if (background_is_flat() || !background.screen.perspective || direction.z >= 0.0f) return true;
    ScreenPoint p = background.screen.map(direction);
    if (p.x < 0.0f || p.y < 0.0f || p.x >= static_cast<float>(background.xresolution) ||
        p.y >= static_cast<float>(background.yresolution))
        return true;
    float out[4];
    background_colour(p.x, p.y, out);
    colour = Triple{out[0], out[1], out[2]};
    return true;
}

}  // namespace

void prepare_background(std::int32_t xresolution, std::int32_t yresolution,
                        const CameraView* camera) {
    background = Background{};
    background.xresolution = std::max(xresolution, 1);
    background.yresolution = std::max(yresolution, 1);
    if (camera) {
        background.world_from_eye = camera->world_from_eye;
        background.screen = camera->screen;
        float scale = std::sqrt(std::fabs(camera->screen.sx * camera->screen.sy));
        background.pixel_angle = camera->screen.perspective && scale > 0.0f ? 1.0f / scale : 0.0f;
    }
    set_background_lookup(reflected_background);
    const SceneDescription& scene = scene_description();
    switch (scene.background_form) {
        case CLAUSE_BACKGROUND_COLOUR:
            evaluate_colour(scene.background_value);
            break;
        case CLAUSE_BACKGROUND_TEXTURE:
            evaluate_texture(scene.background_value);
            break;
        case CLAUSE_BACKGROUND_FILE:
            evaluate_backdrop(scene.background_value);
            break;
        case CLAUSE_BACKGROUND_BODY:
            if (scene.background == nullptr) break;
            for (const BodyItem& item : scene.background->items) {
                std::string_view name = item.name ? item.name : "";
                if (name == "color" || name == "colour")
                    evaluate_colour(item.value);
                else if (name == "texture")
                    evaluate_texture(item.value);
                else if (name == "backdrop" || name == "image")
                    evaluate_backdrop(item.value);
            }
            break;
        default:
            break;
    }
    background.environment =
        background.texture && background.texture->procedure->kind == TEXTURE_ENVIRONMENT;
}

bool background_is_flat() {
    return background.texture == nullptr && background.backdrop == nullptr;
}

void background_colour(double x, double y, float* out) {
    out[0] = background.colour[0];
    out[1] = background.colour[1];
    out[2] = background.colour[2];
    out[3] = 0.0f;
    if (background.texture) {
        TextureLookup at;
        if (background.environment) {
            at.eye_direction = eye_ray(x, y);
            at.direction = normalise(transform_vector(at.eye_direction, background.world_from_eye));
            at.du = at.dv = background.pixel_angle;
        } else {
            const double u = x / std::max(background.xresolution - 1, 1);
            const double v = y / std::max(background.yresolution - 1, 1);
            at.u = static_cast<float>(std::clamp(u, 0.00001, 0.99999));
            at.v = static_cast<float>(std::clamp(v, 0.00001, 0.99999));
        }
        TextureColour colour;
        if (Ar_invoke_texture(*background.texture, at, colour)) {
            out[0] = colour.r;
            out[1] = colour.g;
            out[2] = colour.b;
        }
        return;
    }
    if (background.backdrop && background.backdrop->levels() > 0) {
        const PyramidLevel& image = background.backdrop->level(0);
        if (image.width <= 0 || image.height <= 0) return;
        const std::int64_t px =
            static_cast<std::int64_t>(std::trunc(x)) * image.width / background.xresolution;
        const std::int64_t py =
            static_cast<std::int64_t>(std::trunc(y)) * image.height / background.yresolution;
        const std::int64_t column = std::clamp<std::int64_t>(px, 0, image.width - 1);
        // Image rows are stored top first; image y grows upward.
        const std::int64_t row =
            image.height - 1 - std::clamp<std::int64_t>(py, 0, image.height - 1);
        std::uint8_t p[4];
        background.backdrop->texel(0, static_cast<int>(column), static_cast<int>(row), p);
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
    }
}

}  // namespace sky
