// The command-line scans and the option table.
#include "run/option_pass.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/fatal.h"
#include "platform/report.h"
#include "run/getopt.h"
#include "run/usage.h"

namespace sky {
namespace {

// Decimal integer as atoi reads it, but saturating instead of overflowing.
std::int32_t to_int(const char* text) {
    errno = 0;
    long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<std::int32_t>(value);
}

float to_float(const char* text) {
    return static_cast<float>(std::strtod(text, nullptr));
}

constexpr std::int32_t kMaxExtensionSize = 20;

}  // namespace

FirstScan first_scan(int argc, char* argv[]) {
    FirstScan scan;
    getopt_reset();
    int option;
    while ((option = getopt(argc, argv, kOptionString)) != -1) {
        switch (option) {
            case 'H':
                usage();
            case 'A':
                scan.link_mode = true;
                break;
            case 'i':
                rptUser("%s Version %s%s\n", kProductTitle, kVersionText, kBuildStamp);
                exit_process(0);
            default:
                break;  // acted on in the second scan
        }
    }
    // Rejects "--" and a last option word with an unknown letter. The separate
    // argument of an option ("-s -10") is a value, not an option word.
    if (optind > 1 && !getopt_last_was_option_argument()) {
        const char* last = argv[optind - 1];
        if (last[0] == '-' && std::strchr(kOptionString, last[1]) == nullptr) usage();
    }
    scan.positional = optind;
    return scan;
}

SecondScan second_scan(int argc, char* argv[], RenderOptions& options) {
    SecondScan scan;
    options.motion_byframe = 0.0f;
    options.link_mode = false;
    options.delete_input = false;
    getopt_reset();
    int option;
    while ((option = getopt(argc, argv, kOptionString)) != -1) {
        const char* arg = optarg;
        switch (option) {
            case 'A':
                options.link_mode = true;
                break;
            case 'a':
                options.aalevelmax = to_int(arg);
                break;
            case 'B':
                options.byextension = to_int(arg);
                scan.byextension_given = true;
                break;
            case 'b':
                options.byframe = to_float(arg);
                break;
            case 'C':
                options.colour_map_file = arg;
                break;
            case 'c':
                options.quantize_output_file = arg;
                break;
            case 'd':
                options.depth_name = arg;
                break;
            case 'E':
                options.extensionsize = to_int(arg);
                if (options.extensionsize > kMaxExtensionSize) {
                    rptError("The extension size is too large, capping to 20.\n");
                    options.extensionsize = kMaxExtensionSize;
                }
                break;
            case 'e':
                options.endframe = to_float(arg);
                break;
            case 'f':
                options.post_program = arg;
                break;
            case 'G':
                options.saved_geometry = true;
                break;
            case 'g':
                options.gamma = to_float(arg);
                options.gamma_correction_on = true;
                break;
            case 'H':
                usage();
            case 'h':
                options.yhigh = to_int(arg);
                scan.height_given = true;
                break;
            case 'I':
                break;
            case 'J':
                options.timing_depth = true;
                options.depth_name = "depth/timing";
                options.use_lumenfold_depth = false;
                break;
            case 'j':
                break;  // the tracer's refraction attenuation
            case 'K':
                options.spot_depth = to_int(arg);
                break;
            case 'k':
                options.spot_memory = true;
                break;
            case 'L':
                options.scale_background = true;
                break;
            case 'l':
                options.texture_map_megabytes = to_int(arg);
                break;
            case 'm':
                options.matte_name = arg;
                break;
            case 'N':
                options.diagnostics = true;
                break;
            case 'n':
                options.processors = to_int(arg);
                break;
            case 'O':
                options.motion_byframe = 1.0f;
                break;
            case 'o':
                options.motion_byframe = to_float(arg);
                break;
            case 'P':
                options.keep_noglow = true;
                break;
            case 'p':
                options.image_name = arg;
                break;
            case 'Q':
                scan.scale.x_given = true;
                scan.scale.x =
                    static_cast<float>(to_int(arg)) /
                    static_cast<float>(options.xresolution > 0 ? options.xresolution : 1);
                break;
            case 'q':
                options.quiet = to_int(arg);
                break;
            case 'R':
                scan.scale.y_given = true;
                scan.scale.y =
                    static_cast<float>(to_int(arg)) /
                    static_cast<float>(options.yresolution > 0 ? options.yresolution : 1);
                break;
            case 'r':
                options.aspect_ratio_given = true;
                options.aspect_ratio = to_float(arg);
                break;
            case 'S':
                options.startextension = to_int(arg);
                scan.startextension_given = true;
                break;
            case 's':
                options.startframe = to_float(arg);
                break;
            case 'T':
                options.tile_rows = to_int(arg);
                break;
            case 't':
                options.aathreshold = to_float(arg);
                break;
            case 'u':
                options.glow_jitter = false;
                break;
            case 'V':
                fatal("parallel renderers cannot perform hidden line\n");
            case 'v':
                options.ignore_filmgate = true;
                break;
            case 'W':
                options.background_ylow = to_int(arg);
                break;
            case 'w':
                options.xright = to_int(arg);
                scan.width_given = true;
                break;
            case 'X':
                options.file_type_extension = to_int(arg);
                break;
            case 'x':
                options.xleft = to_int(arg);
                break;
            case 'Y':
                options.background_yhigh = to_int(arg);
                break;
            case 'y':
                options.ylow = to_int(arg);
                break;
            case 'Z':
                break;
            case 'z':
                if (options.link_mode) options.delete_input = true;
                break;
            default:
                usage();  // '?', ':' and letters without an entry
        }
    }
    return scan;
}

void finish_window(RenderOptions& options, const SecondScan& scan) {
    // The offsets saturate rather than overflow on absurd values.
    auto add = [](std::int32_t a, std::int32_t b) {
        long long sum = static_cast<long long>(a) + b;
        return static_cast<std::int32_t>(sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : sum);
    };
    if (scan.height_given) options.yhigh = add(options.yhigh, options.ylow);
    if (scan.width_given) options.xright = add(options.xright, options.xleft);
    if (const char* error = window_error(options)) fatal("%s", error);
    if (const char* error = scale_resolution(options, scan.scale)) fatal("%s", error);
}

}  // namespace sky
