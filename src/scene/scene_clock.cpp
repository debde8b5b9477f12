#include "scene/scene_clock.h"

namespace sky {

SceneClock& scene_clock() {
    static SceneClock clock;
    return clock;
}

}  // namespace sky
