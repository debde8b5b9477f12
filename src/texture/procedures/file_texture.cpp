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

struct ObjectImageExpressions {
    Expr* object = nullptr;
    Expr* image = nullptr;
};

struct FileNode {
    Expr* image = nullptr;
    Expr* filter = nullptr;
    Expr* filter_width = nullptr;
    Expr* cache = nullptr;
    Expr* use_extension = nullptr;
    Expr* frame_extension = nullptr;
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
    float filter_width = 0.707f;
    bool cache = true;
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
    if (node == nullptr) fatal("NIL FileNode found\n");
    auto& file = *static_cast<FileNode*>(node);
    if (std::strcmp(name, "image") == 0) {
        file.image = value;
    } else if (std::strcmp(name, "filter") == 0) {
        file.filter = value;
    } else if (std::strcmp(name, "filter_width") == 0) {
        file.filter_width = value;
    } else if (std::strcmp(name, "cache") == 0) {
        file.cache = value;
    } else if (std::strcmp(name, "use_extension") == 0) {
        file.use_extension = value;
    } else if (std::strcmp(name, "frame_extension") == 0) {
        file.frame_extension = value;
    } else if (std::strcmp(name, "object") == 0) {
        // A pair starts with either half; the other half completes it.
        if (!file.pairs.empty() && file.pairs.back().object == nullptr)
            file.pairs.back().object = value;
        else
            file.pairs.push_back({value, nullptr});
    } else if (std::strcmp(name, "object_image") == 0) {
        if (!file.pairs.empty() && file.pairs.back().image == nullptr)
            file.pairs.back().image = value;
        else
            file.pairs.push_back({nullptr, value});
    } else {
        rptError("ERROR: Unknown parameter in file texture: %s\n", name);
        return false;
    }
    return true;
}

bool evaluate_name(Expr* expression, std::string& name) {
    name.clear();
    if (expression == nullptr) return true;
    return AR_evaluate(SDL_FILENAME, &name, expression, nullptr);
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
    if (!evaluate_name(node.image, image)) {
        rptError("Error determining texture file name.\n");
        return false;
    }
    const float off = 0.0f;
    float use_extension = 0.0f;
    if (!AR_evaluate(SDL_SCALAR, &use_extension, node.use_extension, &off)) {
        rptError("Error determining file texture use_frame_extension.\n");
        return false;
    }
    if (use_extension >= 0.5f && !image.empty()) {
        const float frame = scene_clock().frame;
        float extension = frame;
        if (!AR_evaluate(SDL_SCALAR, &extension, node.frame_extension, &frame)) {
            rptError("Error determining file texture frame_extension.\n");
            return false;
        }
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%d", static_cast<int>(extension));
        image += suffix;
    }
    if (image != info.image) info.pyramid.reset();  // a new frame of a sequence
    info.image = image;

    const float blend = FILTER_BLEND, width = 0.707f, on = 1.0f;
    float filter = blend, cache = on;
    if (!AR_evaluate(SDL_SCALAR, &filter, node.filter, &blend) ||
        !AR_evaluate(SDL_SCALAR, &info.filter_width, node.filter_width, &width) ||
        !AR_evaluate(SDL_SCALAR, &cache, node.cache, &on))
        fatal("Error in eval\n");
    int kind = static_cast<int>(filter);
    info.filter = kind >= FILTER_BLEND && kind <= FILTER_GAUSS ? static_cast<TextureFilter>(kind)
                                                               : FILTER_BLEND;
    if (!(info.filter_width >= 0.0f)) info.filter_width = 0.0f;
    info.cache = cache >= 0.5f;

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
                                         false,  nullptr};

}  // namespace sky
