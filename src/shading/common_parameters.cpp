// The common parameters of shaders and lights: name lookup, colours and
// particle numbers.
#include "shading/common_parameters.h"

#include "shading/particle_parameters.h"
#include "texture/texture.h"

namespace sky {

int common_slot(std::span<const Parameter> rows, int particle_first, const char* name) {
    int row = find_parameter(rows, name);
    if (row >= 0) return slot_of(rows, row);
    row = find_parameter(kParticleParameters, name);
    return row >= 0 ? particle_first + slot_of(kParticleParameters, row) : -1;
}

bool evaluate_common_colour(const Parameter& row, Expr* expression, void* record) {
    char* field = static_cast<char*>(record) + row.store.offset;
    if (row.type == ParameterType::TEXTURED)
        return Ar_evaluate_textured_colour(expression, row.value,
                                           *reinterpret_cast<TexturedColour*>(field));
    if (row.type != ParameterType::COLOUR) return false;
    TexturedColour colour;
    if (!Ar_evaluate_textured_colour(expression, row.value, colour)) return false;
    *reinterpret_cast<Triple*>(field) = colour.colour;
    return true;
}

bool evaluate_particle_numbers(Expr* const* expressions, float* values) {
    for (int i = 0; i < kParticleParameterCount; ++i) {
        Expr* e = expressions[i];
        values[i] = 0.0f;
        if (e && e->type == SDL_SCALAR && !AR_evaluate(SDL_SCALAR, &values[i], e, nullptr))
            return false;
    }
    return true;
}

}  // namespace sky
