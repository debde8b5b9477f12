// The file texture: an image file mapped over the texture's frame, looked
// up through its pyramid so that the result follows the sample's footprint.
//
// `image` names the file; with `use_extension` on, the frame number (or the
// `frame_extension` value) is appended as "name.N", so a sequence of images
// animates. `object` and `object_image` pairs give other images to named
// objects. Images are read when the texture is initialised, once per name
// for the whole run (see texture_cache.h); a file that cannot be read leaves
// the texture showing its `rgbout`/`aout`.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fatal.h"
#include "platform/image/oiio_backend.h"
#include "platform/report.h"
#include "scene/scene_clock.h"
#include "sdl/pool.h"
#include "texture/texture_cache.h"
#include "texture/texture_procedure.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "image", .type = NAME, .description = "The image file; an empty name shows nothing."},
    {.name = "filter",
     .type = INTEGER,
     .value = {FILTER_BLEND},
     .below = replaced(FILTER_BLEND, FILTER_BLEND),
     .above = replaced(FILTER_GAUSS, FILTER_BLEND),
     .description = "The lookup filter: 1 blend, 2 box, 3 quadratic, 4 quartic, 5 gauss."},
    {.name = "filter_width",
     .value = {0.707f},
     .below = {Correction::CLAMP, 0.0f, false, 0.0f, nullptr, true},
     .description = "Multiplier of the sample's footprint in the image."},
    {.name = "cache",
     .type = FLAG,
     .value = {1.0f},
     .description = "Keep the image for the whole run, shared by name."},
    {.name = "use_extension",
     .type = FLAG,
     .description = "Append the frame number to the file name as \"name.N\"."},
    {.name = "frame_extension",
     .default_text = "the frame",
     .description = "The number appended instead of the frame's."},
    {.name = "object",
     .type = NAME,
     .description = "An object that shows another image; pairs with the next object_image."},
    {.name = "object_image",
     .type = NAME,
     .description = "The image for the object of its pair; a lone one is reported."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in file texture: %s\n",
                                UnknownName::REPORT, "NIL FileNode found\n"};

constexpr int row(std::string_view name) {
    return parameter_index(kRows, name);
}
constexpr int kImage = row("image"), kFilter = row("filter"), kFilterWidth = row("filter_width"),
              kCache = row("cache"), kUseExtension = row("use_extension"),
              kFrameExtension = row("frame_extension"), kObject = row("object"),
              kObjectImage = row("object_image");

struct ObjectImageExpressions {
    Expr* object = nullptr;
    Expr* image = nullptr;
};

struct FileNode {
    Expr* values[std::size(kRows)] = {};  // by row; object and object_image go to pairs
    std::vector<ObjectImageExpressions> pairs;
};

struct ObjectImage {
    std::string object;
    std::string image;
    std::shared_ptr<const ImagePyramid> pyramid;
};

struct FileInfo {
    std::string image;  // with the frame extension when it applies
    TextureFilter filter = FILTER_BLEND;
    float filter_width = 0.0f;
    bool cache = false;
    std::shared_ptr<const ImagePyramid> pyramid;
    std::vector<ObjectImage> pairs;
};

void* alloc_node(const AR_TextureInfo&) {
    return sdl_pool().make<FileNode>();
}
void* alloc_info(const AR_TextureInfo&) {
    want_oiio_module();
    return sdl_pool().make<FileInfo>();
}

bool parse(AR_TextureInfo&, void* node, const char* name, Expr* value) {
    if (node == nullptr) fatal("%s", kTable.missing_node);
    auto& file = *static_cast<FileNode*>(node);
    int index = find_parameter(kRows, name);
    if (index == kObject) {
        // A pair starts with either half; the other half completes it.
        if (!file.pairs.empty() && file.pairs.back().object == nullptr)
            file.pairs.back().object = value;
        else
            file.pairs.push_back({value, nullptr});
        return true;
    }
    if (index == kObjectImage) {
        if (!file.pairs.empty() && file.pairs.back().image == nullptr)
            file.pairs.back().image = value;
        else
            file.pairs.push_back({nullptr, value});
        return true;
    }
    return parse_parameter(kTable, file.values, name, value);
}

bool evaluate_name(Expr* expression, std::string& name) {
    name.clear();
    if (expression == nullptr) return true;
    return AR_evaluate(SDL_FILENAME, &name, expression, nullptr);
}

// A number of the table, corrected into its range.
bool evaluate_corrected(const FileNode& node, int index, float& value) {
    const Parameter& p = kRows[index];
    if (!evaluate_number(p, node.values[index], value)) return false;
    double corrected = value;
    correct_value(p, corrected);
    value = static_cast<float>(corrected);
    return true;
}

bool eval(AR_TextureInfo& texture) {
    if (texture.procedure_info == nullptr || texture.node == nullptr ||
        texture.node->procedure_node == nullptr) {
        rptError("Internal System Error at %d in %s, Call Support\n", __LINE__, __FILE__);
        return false;
    }
    auto& info = *static_cast<FileInfo*>(texture.procedure_info);
    const auto& node = *static_cast<const FileNode*>(texture.node->procedure_node);

    std::string image;
    if (!evaluate_name(node.values[kImage], image)) {
        rptError("Error determining texture file name.\n");
        return false;
    }
    float use_extension = 0.0f;
    if (!evaluate_number(kRows[kUseExtension], node.values[kUseExtension], use_extension)) {
        rptError("Error determining file texture use_frame_extension.\n");
        return false;
    }
    if (use_extension != 0.0f && !image.empty()) {
        const float frame = scene_clock().frame;
        float extension = frame;
        if (!AR_evaluate(SDL_SCALAR, &extension, node.values[kFrameExtension], &frame)) {
            rptError("Error determining file texture frame_extension.\n");
            return false;
        }
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%d", static_cast<int>(extension));
        image += suffix;
    }
    if (image != info.image) info.pyramid.reset();  // a new frame of a sequence
    info.image = image;

    float filter = 0.0f, cache = 0.0f;
    if (!evaluate_corrected(node, kFilter, filter) ||
        !evaluate_corrected(node, kFilterWidth, info.filter_width) ||
        !evaluate_corrected(node, kCache, cache))
        fatal("Error in eval\n");
    info.filter = static_cast<TextureFilter>(filter);
    info.cache = cache != 0.0f;

    std::vector<ObjectImage> pairs;
    for (const ObjectImageExpressions& pair : node.pairs) {
        if (pair.object == nullptr || pair.image == nullptr) {
            rptError("Unmatched object / object_image pair in file texture.\n");
            continue;
        }
        ObjectImage evaluated;
        if (!evaluate_name(pair.image, evaluated.image)) {
            rptError("Error determining file texture object_image name.\n");
            return false;
        }
        if (!evaluate_name(pair.object, evaluated.object)) {
            rptError("Error determining file texture object name.\n");
            return false;
        }
        for (const ObjectImage& old : info.pairs)
            if (old.image == evaluated.image) evaluated.pyramid = old.pyramid;
        pairs.push_back(std::move(evaluated));
    }
    info.pairs = std::move(pairs);
    return true;
}

}  // namespace

bool file_texture_image(const AR_TextureInfo& texture, std::string& name) {
    if (texture.procedure != &kFileProcedure || texture.node == nullptr ||
        texture.node->procedure_node == nullptr)
        return false;
    const auto& node = *static_cast<const FileNode*>(texture.node->procedure_node);
    return evaluate_name(node.values[kImage], name) && !name.empty();
}

namespace {

bool init(AR_TextureInfo& texture) {
    auto& info = *static_cast<FileInfo*>(texture.procedure_info);
    if (!info.pyramid) info.pyramid = texture_image(info.image, info.cache);
    for (ObjectImage& pair : info.pairs)
        if (!pair.pyramid) pair.pyramid = texture_image(pair.image, info.cache);
    return true;
}

bool copy(AR_TextureInfo& to, const AR_TextureInfo& from) {
    *static_cast<FileInfo*>(to.procedure_info) = *static_cast<const FileInfo*>(from.procedure_info);
    return true;
}

void release(AR_TextureInfo& texture) {
    auto& info = *static_cast<FileInfo*>(texture.procedure_info);
    info.pyramid.reset();
    info.pairs.clear();
}

const ImagePyramid* image_for(const FileInfo& info, const char* object) {
    if (object != nullptr)
        for (const ObjectImage& pair : info.pairs)
            if (pair.object == object) return pair.pyramid.get();
    return info.pyramid.get();
}

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const auto& info = *static_cast<const FileInfo*>(texture.procedure_info);
    const ImagePyramid* image = image_for(info, call.at->object_name);
    if (image == nullptr) {
        texture_default_colour(texture, out);
        return;
    }
    float width = info.filter_width *
                  std::fmax(0.0f, texture.frame.blurmult * call.filter + texture.frame.bluroffset);
    image->lookup(call.u, call.v, width, info.filter, out);
}

}  // namespace

const AR_TextureProcedure kFileProcedure{"file", calculate, alloc_node, alloc_info, parse,
                                         eval,   init,      copy,       release,    TEXTURE_SURFACE,
                                         false,  &kTable};

}  // namespace sky
