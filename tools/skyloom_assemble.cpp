// skyloom-assemble: joins the windows of a split frame into the frame's image,
// matte or depth file, byte for byte the file a whole render writes
// (docs/farm.md). skyloom-farm runs it in the job that follows a split render.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "output/assemble.h"

namespace {

const char* const kUsage =
    "usage: skyloom-assemble --columns C OUTPUT WINDOW...\n"
    "\n"
    "Joins the files of the windows of a split frame into OUTPUT, the file a\n"
    "render of the whole frame writes. The windows are given row by row from\n"
    "the top left, C to a row; they are image or matte files of any format\n"
    "skyloom writes, or depth files, all of one kind. OUTPUT takes its name\n"
    "only once it is complete. Exits 0 on success, 1 on failure.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    char* end = nullptr;
    const long columns =
        argc > 2 && std::strcmp(argv[1], "--columns") == 0 ? std::strtol(argv[2], &end, 10) : 0;
    if (argc < 5 || end == argv[2] || *end != '\0' || columns < 1) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    std::vector<std::string> windows(argv + 4, argv + argc);
    std::string error;
    if (!sky::assemble_windows(windows, static_cast<int>(columns), argv[3], error)) {
        std::fprintf(stderr, "skyloom-assemble: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
