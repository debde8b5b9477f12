// Whether a camera render's files are finished, for runs that resume a job
// (docs/farm.md). A file carries its final name only once it was closed
// complete (partial_files.h); what is checked here besides is that it still
// reads back whole: every row of an image passes its format's end check, a
// depth file holds every value its header promises, and both have the size
// of the window being rendered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sky {

struct CameraRecord;

enum class FileState { missing, incomplete, complete };

// "missing", "incomplete" or "complete".
const char* file_state_name(FileState state);

// An image or matte file (any format the image library reads) of `width` x `height`.
FileState image_file_state(const std::string& name, int width, int height);
// A depth file of `width` x `height` values.
FileState depth_file_state(const std::string& name, int width, int height);

// Whether the image carries the matte as its fourth channel in `format`:
// SGI, TIFF and RLA do, the native format keeps it in a file of its own.
bool matte_rides_in_image(std::int32_t format);

struct CameraFile {
    const char* kind;  // "image", "matte" or "depth"
    std::string name;
};

// The files a camera render writes under the names it forms (the image; the
// matte unless it rides in the image; the depth file unless it is depth of
// field's own temporary one). None in link mode, whose files stay in the
// temporary rendering directory.
std::vector<CameraFile> camera_files(const CameraRecord& camera);

// The state of one of them for the current window (the rows of one field when
// rendering fields).
FileState camera_file_state(const CameraFile& file);

}  // namespace sky
