// Until the files are written, finished rows go nowhere.
#include "output/image_output.h"

namespace sky {

struct OutputContext {};

OutputContext& camera_output() {
    static OutputContext context;
    return context;
}

void output_scanline(std::int32_t, OutputContext&, const float*, const float*,
                     const std::uint8_t*) {}

}  // namespace sky
