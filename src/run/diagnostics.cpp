#include "run/diagnostics.h"

#include "platform/report.h"

namespace sky {
namespace {

bool printed = false;

void user(const char* const* lines) {
    for (; *lines; ++lines) rptUser("%s", *lines);
}

}  // namespace

void print_diagnostics(const RenderOptions& options, float pixel_aspect, bool scene_has_lights) {
    if (printed) return;
    printed = true;
    rptError("\n\nPERFORMING DIAGNOSITICS...\n");
    if (options.motion_blur && !options.animation) {
        rptError("\tMotion blur is turned on but anim is not.\n");
        rptError("\tNo blurring will occur.\n\n");
    }
    if (options.fields && !options.animation) {
        static const char* const kLines[] = {"\tField rendering is specified with no animation.\n",
                                             "\tIs this what you really want?\n\n", nullptr};
        user(kLines);
    }
    if (pixel_aspect > 1) {
        static const char* const kLines[] = {
            "\tThe current pixel aspect may result in black \n",
            "\tregions for your render outside the viewport.  If\n",
            "\tthis is undesirable, use the -v option.\n\n",
            "\tSince the pixel aspect is non-zero, the squeeze\n",
            "\tmight not be completely correct, unless your \n",
            "\tcamera setting for the Aspect Ratio Fit is on \n",
            "\tVERTICAL.\n\n",
            nullptr};
        user(kLines);
    }
    if (!options.textures_active) {
        static const char* const kLines[] = {
            "\tThe textures_active flag is turned off.  Be warned\n",
            "\tthat no textures, background textures, textured\n",
            "\tlights, or image planes will be rendered.\n\n", nullptr};
        user(kLines);
    }
    if (options.quiet) {
        static const char* const kLines[] = {
            "\tYou have the quiet flag turned on, so there won't \n",
            "\tbe any feedback or statistics.\n\n", nullptr};
        user(kLines);
    }
    if (options.composite_rendering) {
        static const char* const kLines[] = {
            "\tYou have set the composite rendering option.  The\n",
            "\trendering will not produce anti-aliased images.\n",
            "\tIt will be useful for compositing purposes only.\n\n", nullptr};
        user(kLines);
    }
    if (scene_has_lights) {
        static const char* const kLines[] = {
            "\tPlease note that only spotlights cast shadows in\n",
            "\tthe raycaster.  The raytracer produces shadows for\n", "\tall lights.\n\n", nullptr};
        user(kLines);
    } else {
        rptUser("\tWarning: there are no lights in this scene.\n\n");
    }
    static const char* const kSavedGeometry[] = {
        "\tBe careful.  The saved geometry flag is no longer\n",
        "\tsupported.  If you really want to use it, use the\n", "\t-G option.\n\n", nullptr};
    user(kSavedGeometry);
}

}  // namespace sky
