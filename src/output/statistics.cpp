#include "output/statistics.h"

#include "base/counters.h"
#include "base/options.h"
#include "platform/memory.h"
#include "platform/report.h"

namespace sky {

void print_statistics(const char* stage, const char* object) {
    const unsigned long kilobytes = static_cast<unsigned long>(MA_get_memory_used() / 1024);
    if (render_options().quiet) {
        rptUser("    Memory(kb): %lu\n", kilobytes);
        return;
    }
    const RenderCounters& c = render_counters();
    rptUser("%s Stats for %s:\n", stage, object);
    rptUser("       Patches:                     %d\n", c.patches.load());
    rptUser("       Faces:                       %d\n", c.faces.load());
    rptUser("       Polysets:                    %d\n", c.polysets.load());
    rptUser("       Lights:                      %d\n", c.lights.load());
    rptUser("       Shaders:                     %d\n", c.shaders.load());
    rptUser("       Textures:                    %d\n", c.textures.load());
    rptUser("       Triangles:                   %d\n", c.triangles.load());
    rptUser("       Vertices:                    %d\n", c.vertices.load());
    rptUser("       uv-Vertices:                 %d\n", c.uv_vertices.load());
    rptUser("       motion-Vertices:             %d\n", c.motion_vertices.load());
    rptUser("       Memory(kb):                  ");
    rptUser("%lu\n", kilobytes);
}

}  // namespace sky
