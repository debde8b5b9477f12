// The statistics report printed after every image and depth map.
#pragma once

namespace sky {

// "<stage> Stats for <object>:" and the counters (base/counters.h), then the
// memory in use; with `quiet` only the memory line, in its short form.
void print_statistics(const char* stage, const char* object);

}  // namespace sky
