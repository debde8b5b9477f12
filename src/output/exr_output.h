// OpenEXR for compositing: a render's image, matte and depth file in one EXR
// (docs/images.md). Colour and alpha become 0..1 values; depths stay eye
// distances in scene units, and "nothing seen" (1e8) becomes infinity or a
// chosen far value, as compositing programs expect of a Z channel.
#pragma once

#include <optional>
#include <string>

namespace sky {

struct ExrRequest {
    std::string image;         // an image, a matte or a depth file, by its content
    std::string matte;         // optional: a matte file for the alpha channel
    std::string depth;         // optional: a depth file for the Z channel
    std::string output;        // the .exr file
    bool half = true;          // colour and alpha as half floats (Z is always 32-bit)
    std::optional<float> far;  // what "nothing seen" becomes; infinity without it
};

// Writes the EXR under a hidden name and renames it when complete. False with
// the reason (naming the file) in `error`; no output is left then.
bool write_exr(const ExrRequest& request, std::string& error);

}  // namespace sky
