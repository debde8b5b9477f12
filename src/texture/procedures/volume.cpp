// Volume: a solid texture stacked from a sequence of pictures, the slices.
// `pix_sequence` is a file texture (or a file name): slice k is its
// picture with the extension ".k", from k = `from` for as long as the
// files go on (at most 1024), every one the size of the first. `mapping`
// says how they fill the unit cube of texture space (repeating beyond
// it): 0 stacked along z (each slice across x, y), 1 along y (across x,
// z), 2 along x (across z, y). Between slices the colours blend. A
// sequence that cannot be made (no pictures, not a file texture, a first
// slice missing) leaves the texture's `rgbout` without a message; a slice
// of another size ends the sequence with a warning naming it.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include "platform/report.h"
#include "texture/procedures/procedure_parameters.h"
#include "texture/texture_cache.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "from", .type = ANY, .description = "The first picture's index."},
    {.name = "pix_sequence",
     .type = ANY,
     .description = "The pictures: a file texture whose frames are the slices."},
    {.name = "mapping", .type = ANY, .description = "How the slices fill the volume."},
};
constexpr ParameterTable kTable =
    procedure_table(kRows, "ERROR: Unknown parameter in Volume: %s\n", "NIL VolumeNode found\n");

constexpr int kFrom = parameter_index(kRows, "from");
constexpr int kSequence = parameter_index(kRows, "pix_sequence");
constexpr int kMapping = parameter_index(kRows, "mapping");
constexpr int kMaxSlices = 1024;

void calculate(const AR_TextureInfo& texture, const TextureCall& call, TextureColour& out) {
    const auto& slices = procedure_derived(texture).slices;
    if (slices.empty()) {
        texture_default_colour(texture, out);
        return;
    }
    const Triple& p = call.point;
    float x = p.x, y = p.y, depth = p.z;
    switch (static_cast<int>(parameter_scalar(texture, kMapping))) {
        case 1:
            y = p.z, depth = p.y;
            break;
        case 2:
            x = p.z, depth = p.x;
            break;
        default:
            break;
    }
    float count = static_cast<float>(slices.size());
    float s = std::clamp((depth - std::floor(depth)) * count - 0.5f, 0.0f, count - 1.0f);
    std::size_t below = static_cast<std::size_t>(s);
    std::size_t above = std::min(below + 1, slices.size() - 1);
    float t = s - static_cast<float>(below);
    float w = filter_width(texture, call);
    slices[below]->lookup(x, y, w, FILTER_BLEND, out);
    if (t > 0.0f && above != below) {
        TextureColour next;
        slices[above]->lookup(x, y, w, FILTER_BLEND, next);
        out.r += t * (next.r - out.r);
        out.g += t * (next.g - out.g);
        out.b += t * (next.b - out.b);
        out.alpha += t * (next.alpha - out.alpha);
    }
}

// Reads the slices once per frame; a sequence that cannot be made leaves
// none. The file texture of the sequence names the slices' common stem,
// not a picture of its own, so it is not initialised (which would look
// for that file).
bool init_volume(AR_TextureInfo& texture) {
    auto& slices = procedure_derived(texture).slices;
    slices.clear();
    const ProcedureValue& sequence = procedure_value(texture, kSequence);
    std::string base = sequence.text;
    if (base.empty() &&
        (sequence.value.texture == nullptr || !file_texture_image(*sequence.value.texture, base)))
        return true;
    int first = static_cast<int>(parameter_scalar(texture, kFrom));
    for (int k = first; k < first + kMaxSlices; ++k) {
        std::string name = base + "." + std::to_string(k);
        std::error_code error;
        if (!std::filesystem::exists(name, error)) break;
        auto slice = texture_image(name);
        if (!slice || slice->levels() == 0) break;
        if (!slices.empty() && (slice->level(0).width != slices[0]->level(0).width ||
                                slice->level(0).height != slices[0]->level(0).height)) {
            rptWarning("Volume slice %s differs in size from the first; the volume ends before it",
                       name.c_str());
            break;
        }
        slices.push_back(std::move(slice));
    }
    return true;
}

}  // namespace

const AR_TextureProcedure kVolumeProcedure = procedure_row(
    "Volume", kTable, calculate, TEXTURE_SOLID, false, eval_procedure_parameters, init_volume);

}  // namespace sky
