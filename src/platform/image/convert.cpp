// Conversions between image files: convertImageFile (any readable image into
// our own format, used for file textures that cannot be opened directly) and
// convert_image (the conversion tool's engine).
//
// Both go through FBopen/FBread/FBwrite a row at a time, so images of any size
// convert in the memory of one row.
#include "platform/image/convert.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/image/fb.h"
#include "platform/image/fb_internal.h"

namespace sky {
namespace {

bool has_qrl_extension(const char* name) {
    const char* slash = std::strrchr(name, '/');
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr || (slash != nullptr && dot < slash)) return false;
    std::string ext(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "qrl";
}

bool check_names(const char* input, const char* output) {
    if (input == nullptr || output == nullptr || input[0] == '\0' || output[0] == '\0') {
        fb_set_error("image conversion: missing file name");
        return false;
    }
    if (fb_same_file(input, output)) {
        fb_set_error("%s: the output would overwrite the input", output);
        return false;
    }
    return true;
}

// A half-written output is of no use and could be taken for a finished one.
// Only regular files are removed: the output may be a device or a pipe.
void remove_partial(const char* name) {
    struct stat info {};
    if (::stat(name, &info) == 0 && S_ISREG(info.st_mode)) oxFileDelete(name);
}

// Copies every row of `in` to `out`, closes both and cleans up on failure.
bool copy_rows(FBhandle* in, FBhandle* out, const char* output) {
    std::size_t pixel_bytes = in->sixteen_bit ? 8 : 4;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(in->width) * pixel_bytes);
    bool ok = true;
    for (int y = 0; y < in->height && ok; ++y) {
        ok = FBread(in, row.data()) == in->width && FBwrite(out, row.data()) != 0;
    }
    std::string error = ok ? "" : FBgetError();
    FBclose(in);
    if (FBclose(out) == 0 && ok) {
        ok = false;
        error = FBgetError();
    }
    if (!ok) {
        remove_partial(output);
        fb_set_error("%s", error.c_str());
    }
    return ok;
}

}  // namespace

int convertImageFile(const char* input, const char* output) {
    if (!check_names(input, output)) return 0;
    FBhandle* in = FBopen(input, FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return 0;
    FBhandle* out = FBopen(output, FB_WRITE_ROWS, FB_FORMAT_QRL, in->width, in->height,
                           in->channels, 0, 0, 90.0);
    if (out == nullptr) {
        std::string error = FBgetError();
        FBclose(in);
        fb_set_error("%s", error.c_str());
        return 0;
    }
    return copy_rows(in, out, output) ? 1 : 0;
}

bool convert_image(const char* input, const char* output) {
    if (!check_names(input, output)) return false;
    if (has_qrl_extension(output)) return convertImageFile(input, output) != 0;
    FBhandle* in = FBopen(input, FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    if (in == nullptr) return false;
    int bits = in->file_bits == 16 ? 16 : 8;
    FBtiff16_set(in, bits == 16);
    FBhandle* out = fb_open_by_extension(output, in->width, in->height, in->channels, bits);
    if (out == nullptr) {
        std::string error = FBgetError();
        FBclose(in);
        fb_set_error("%s", error.c_str());
        return false;
    }
    return copy_rows(in, out, output);
}

}  // namespace sky
