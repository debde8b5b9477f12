// The shading code's vector arithmetic on Triples, from base/vecmath.h,
// under the names it has always used in the shading namespace.
#pragma once

#include "base/vecmath.h"

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
