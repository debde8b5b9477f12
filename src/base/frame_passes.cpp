#include "base/frame_passes.h"

namespace sky {

FramePasses& frame_passes() {
    static FramePasses passes;
    return passes;
}

}  // namespace sky
