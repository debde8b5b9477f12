#include "texture/procedure_names.h"

#include <cstring>

namespace sky {
namespace {

constexpr const char* kProcedureNames[] = {
    "Ball",      "Bulge",    "Checker",    "Chrome",   "Cloth",    "Cube",     "Curvature",
    "Directional", "Fractal", "Geometric", "Granite",  "Grid",     "Highlight", "Leather",
    "Marble",    "Mount",    "Mountain",   "Noise",    "Projection", "Ramp",   "Sky",
    "Snow",      "Sphere",   "Stencil",    "Volume",   "Water",    "file",     "sCloud",
    "sFile",     "sFractal", "sMarble",    "sRock",    "sWood",
    // Names that select a procedure and set one of its parameters.
    "Gaussian",  "Mean",     "PrincMin",   "PrincMax", "SnowBW",   "SnowDepthRGB",
};

}  // namespace

bool texture_procedure_exists(const char* name) {
    if (name == nullptr) return false;
    for (const char* known : kProcedureNames)
        if (std::strcmp(known, name) == 0) return true;
    return false;
}

}  // namespace sky
