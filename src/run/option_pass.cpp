// The command-line scans and the option table.
#include "run/option_pass.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

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

// The options that do nothing but store their argument in one field (or, for
// those without an argument, switch one setting on). The others, which note
// more or check their value, are cases of second_scan's switch.
template <typename T>
struct StoringOption {
    char letter;
    T RenderOptions::*field;
};

constexpr StoringOption<std::int32_t> kIntegerOptions[] = {
    {'a', &RenderOptions::aalevelmax},
    {'K', &RenderOptions::spot_depth},
    {'l', &RenderOptions::texture_map_megabytes},
    {'n', &RenderOptions::processors},
    {'q', &RenderOptions::quiet},
    {'T', &RenderOptions::tile_rows},
    {'W', &RenderOptions::background_ylow},
    {'X', &RenderOptions::file_type_extension},
    {'x', &RenderOptions::xleft},
    {'Y', &RenderOptions::background_yhigh},
    {'y', &RenderOptions::ylow},
};

constexpr StoringOption<float> kNumberOptions[] = {
    {'b', &RenderOptions::byframe},        {'e', &RenderOptions::endframe},
    {'o', &RenderOptions::motion_byframe}, {'s', &RenderOptions::startframe},
    {'t', &RenderOptions::aathreshold},
};

// -C and -c are accepted and kept; this program does not quantize images.
constexpr StoringOption<std::string> kTextOptions[] = {
    {'C', &RenderOptions::colour_map_file}, {'c', &RenderOptions::quantize_output_file},
    {'d', &RenderOptions::depth_name},      {'f', &RenderOptions::post_program},
    {'m', &RenderOptions::matte_name},      {'p', &RenderOptions::image_name},
};

constexpr StoringOption<bool> kSwitchOptions[] = {
    {'A', &RenderOptions::link_mode},       {'G', &RenderOptions::saved_geometry},
    {'k', &RenderOptions::spot_memory},     {'L', &RenderOptions::scale_background},
    {'N', &RenderOptions::diagnostics},     {'P', &RenderOptions::keep_noglow},
    {'v', &RenderOptions::ignore_filmgate},
};

template <typename T, std::size_t N>
T* stored_field(const StoringOption<T> (&table)[N], int letter, RenderOptions& options) {
    for (const StoringOption<T>& option : table)
        if (option.letter == letter) return &(options.*option.field);
    return nullptr;
}

// Applies `letter` when it is a storing option; false when it is not one.
bool store_option(int letter, const char* arg, RenderOptions& options) {
    if (std::int32_t* field = stored_field(kIntegerOptions, letter, options)) {
        *field = to_int(arg);
    } else if (float* number = stored_field(kNumberOptions, letter, options)) {
        *number = to_float(arg);
    } else if (std::string* text = stored_field(kTextOptions, letter, options)) {
        *text = arg;
    } else if (bool* on = stored_field(kSwitchOptions, letter, options)) {
        *on = true;
    } else {
        return false;
    }
    return true;
}

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
            case 'n':
                scan.processors = to_int(optarg);
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
        if (store_option(option, arg, options)) continue;
        switch (option) {
            case 'B':
                options.byextension = to_int(arg);
                scan.byextension_given = true;
                break;
            case 'E':
                options.extensionsize = to_int(arg);
                if (options.extensionsize > kMaxExtensionSize) {
                    rptError("The extension size is too large, capping to 20.\n");
                    options.extensionsize = kMaxExtensionSize;
                }
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
            case 'j':  // the tracer's refraction attenuation
            case 'Z':
                break;
            case 'J':
                options.timing_depth = true;
                options.depth_name = "depth/timing";
                options.use_lumenfold_depth = false;
                break;
            case 'O':
                options.motion_byframe = 1.0f;
                break;
            case 'Q':
                scan.scale.x_given = true;
                scan.scale.x =
                    static_cast<float>(to_int(arg)) /
                    static_cast<float>(options.xresolution > 0 ? options.xresolution : 1);
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
            case 'u':
                options.glow_jitter = false;
                break;
            case 'V':
                options.hidden_line = true;
                break;
            case 'w':
                options.xright = to_int(arg);
                scan.width_given = true;
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
