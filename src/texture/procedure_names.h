// The names of the texture procedures, as scenes write them after
// `procedure =` (or `Curvature =`).
#pragma once

namespace sky {

// True for a procedure the renderer has, a synonym of one (`Directional`,
// `Mountain`, `Projection`), or a name that selects one with a setting
// (`Gaussian`, `Mean`, `PrincMin` and `PrincMax` select `Curvature`;
// `SnowBW` and `SnowDepthRGB` select `Snow`).
bool texture_procedure_exists(const char* name);

// The number of rows of the procedure table (synonyms have rows of their own).
int texture_procedure_count();

}  // namespace sky
