// The scene's matrices are those of base/vecmath.h; this header stays for
// the files that include it by this name.
#pragma once

#include "base/vecmath.h"
