// The usage text, shared with the sibling ray tracer: printed line by line on
// the error channel, after which the process exits with status 1.
#include "run/usage.h"

#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {
namespace {

// One report per entry; blank lines of the text travel with the line before.
constexpr const char* kUsageLines[] = {
    "Usage:\n",
    "skyweave|skyloom [-H] [-j] [-a#] [-b#] [-e#] [-f script] [-h#]\n",
    "                   [-m filename] [-p filename] [-d filename]\n",
    "                   [-C color_map_filename] [-c quantized_output_file]\n",
    "                   [-q#] [-s#] [-S#] [-B#] [-E#] [-r#] [-W#] [-Y#]\n",
    "                   [-k] [-K] [-l#] [-O] [-o#] [-P] [-g#]\n",
    "                   [-t#] [-w#] [-X#] [-x#] [-y#] [-n#] [-T#] [filename]\n\n",
    "     -a#         Use the integer '#' as the aalevel\n",
    "     -t#         Use the float '#' as the aathreshold\n",
    "     -s#         Use the float '#' as the starting frame number\n",
    "     -b#         Use the float '#' as the by frame number\n",
    "     -e#         Use the float '#' as the ending frame number\n",
    "     -S#         Use the integer '#' as the start extension\n",
    "     -B#         Use the integer '#' as the by extension\n",
    "     -E#         Use the integer '#' as the size extension\n",
    "     -X#         Add file type extension to image file names? (default is 0: no)\n",
    "                     1: `image.rgb.001' 2: `image.001.rgb'  else: `image.001'\n",
    "     -f STRING   invoke the program 'STRING' after each frame\n",
    // clang-format off
    "     -l#         Use '#' to turn mmapping of textures: 0:off, >0:on, use up to '#' Mb of disk space, <0: on, leave -'#' Mb of free disk space\n",
    // clang-format on
    "     -m STRING   Produce a matte file and Use 'STRING' as the filename\n",
    "     -p STRING   Use 'STRING' as the pix filename\n",
    "     -d STRING   Use 'STRING' as the depth file name\n",
    "     -O          Use byframe of 1.0 as applied to motion-blur and fields\n",
    "     -o#         Use byframe of # as applied to motion-blur and fields\n",
    "     -q#         Set the quiet flag to '#'; 0 or 1 \n",
    "     -h#         Use the integer '#' as the image height\n",
    "     -w#         Use the integer '#' as the image width\n",
    "     -x#         Use the integer '#' as the xleft\n",
    "     -y#         Use the integer '#' as the ylow\n",
    "     -Q#         Use the integer '#' as the x resolution\n",
    "     -R#         Use the integer '#' as the y resolution\n",
    "     -r#         Use the float '#' as the aspect ratio\n",
    "     filename    Use 'filename' as the SDL filename\n",
    "                 If no filename is present standard input will be used\n",
    "     -g#         Use the float '#' as the gamma correction value\n\n",
    "     -k          Keep depth maps in memory after reading (read them once) *\n",
    "     -K#         Turn depth maps on disk usage to '#'. 0:off, non-zero:on. **\n\n",
    "     -W#         Use '#' as the 'ylow' for backgrounds\n",
    "     -Y#         Use '#' as the 'yhigh' for backgrounds\n",
    "     -L          Porportionally scale the background\n\n",
    "     -C STRING   Use the SGI imagelib image format file to quantize to after each frame\n",
    "     -c STRING   Output the quantized image to the file STRING after each frame\n",
    "     -P          Preserve the non-glowed image (unless DOF or Quantize are on)\n\n",
    "     -n#         Use the integer '#' as the number of processors to Skyweave on.\n",
    "     -T#         Use the integer '#' as the number of Y pixels in a tile.\n",
    "     -j          Ray trace refractions without attenuation\n",
    "     -u          turn off jittering of glows\n",
    "     -v          Render normally outside of viewport region\n",
    "     -V          Render image with hidden-lines\n",
    "     -J          creates a depth file called 'timing' representing time per pixel\n\n",
    "     -H          Print this Usage message\n\n",
    "*  Note on -k option: if used, a depth map file will be read ONCE, or if depth\n",
    "    map saving is not turned on, the map will be created ONCE and used for all\n",
    "subsequent frames.\n",
    "** Note on -K option: if used, a depth map file named the same as the light will\n",
    "be created if it doesn't exist, and used if it does exist.\n\n",
    "The flags -o and -O are meaningful only with the renderer/skyloom.\n",
};

}  // namespace

void print_usage_text() {
    for (const char* line : kUsageLines) rptError("%s", line);
}

void usage() {
    print_usage_text();
    exit_process(1);
}

}  // namespace sky
