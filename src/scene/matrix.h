// The matrix operations live in base/vecmath.h, below every layer that uses
// them; files that include this header get them, and the SDL values, here.
#pragma once

#include "base/vecmath.h"
#include "sdl/values.h"
