// What the shading models share: their rows, the evaluation of their
// colour-or-scalar parameters, and the lit shading all three lit models run.
#pragma once

#include "shading/shader.h"

namespace sky::shading {

extern const AR_ShaderModel kBlinnModel;
extern const AR_ShaderModel kLightsourceModel;
extern const AR_ShaderModel kLambertModel;
extern const AR_ShaderModel kPhongModel;

// Which highlight a lit model adds.
enum class Highlight { NONE, PHONG, BLINN };

// The model's parameters as the lit shading reads them.
struct LitModel {
    Highlight highlight = Highlight::NONE;
    const ColourSlot* diffuse = nullptr;
    const ColourSlot* specular = nullptr;
    const ColourSlot* reflection = nullptr;
    const ColourSlot* reflectivity = nullptr;
    float specular_intensity = 0.0f;
    float gloss = 0.0f;
    std::int32_t shinyness = 0;     // Phong
    float c = 0.0f;                 // Blinn: 1/(eccentricity² − 1)
    float specular_rolloff = 0.0f;  // Blinn
};

// Lights, highlights, reflection and the finishing steps of one layer, for
// a model whose highlight is `kHighlight`.
template <Highlight kHighlight>
void shade_lit(const AR_ShaderInfo& shader, AR_ShadePoint& point, const LitModel& model);
// The light-source model: the surface colour, finished.
void shade_unlit(const AR_ShaderInfo& shader, AR_ShadePoint& point);

// The Phong and Blinn highlight factors of one light (before its colour).
float phong_highlight(const Triple& normal, const Triple& view, const Triple& to_light,
                      std::int32_t shinyness);
// `n_dot_v` already clamped into [−1, 1] and non-zero.
float blinn_highlight(const Triple& normal, const Triple& view, const Triple& to_light,
                      float n_dot_l, float n_dot_v, float c, float rolloff);

}  // namespace sky::shading
