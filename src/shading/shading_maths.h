// The vector arithmetic on Triples of base/vecmath.h, under the names the
// shading namespace calls it by.
#pragma once

#include "base/vecmath.h"
#include "sdl/values.h"

namespace sky::shading {

using sky::add;
using sky::clamp01;
using sky::cross;
using sky::dot;
using sky::length;
using sky::luminance;
using sky::mul;
using sky::normalise;
using sky::reflect;
using sky::scale;
using sky::sub;

}  // namespace sky::shading
