// The outputs of one camera render, and the stages around them: the post
// filter between the ordered rows and the files, and the link that carries
// rows to the modelling application. Both are installed by the modules that
// provide them; a stage not installed is skipped.
//
// Open and close run on the main thread outside the tile phase; rows arrive
// from any worker through output_scanline (image_output.h), which holds the
// context's lock for the whole call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "output/image_output.h"
#include "output/pixel_bytes.h"
#include "platform/memory.h"

namespace sky {

struct CameraRecord;
struct FBhandle;

[[noreturn]] void fatal_out_of_output_memory(std::size_t bytes);

// A block from the tracked allocator that only grows.
template <typename T>
class OutputBuffer {
public:
    OutputBuffer() = default;
    ~OutputBuffer() { release(); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // At least `count` elements; the contents are not kept when it grows.
    void reserve(std::size_t count);
    void release();
    void swap(OutputBuffer& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
    }
    T* data() const { return data_; }

private:
    T* data_ = nullptr;
    std::size_t capacity_ = 0;
};

// A row that arrived before its turn. Its byte and colour buffers change
// hands with the context's instead of being copied.
struct PendingRow {
    PendingRow* next = nullptr;
    std::int32_t row = 0;  // in the files' numbering (see output_scanline)
    bool has_depth = false, has_coverage = false, has_colour = false;
    OutputBuffer<std::uint8_t> bytes;
    OutputBuffer<float> colour;
    OutputBuffer<float> depth;
    OutputBuffer<std::uint8_t> coverage;
};

struct OutputContext {
    OutputContext() = default;
    // Frees the rows kept for reuse and the depth block; the files must be closed.
    ~OutputContext();
    OutputContext(const OutputContext&) = delete;
    OutputContext& operator=(const OutputContext&) = delete;

    // The window, inclusive.
    std::int32_t xleft = 0, xright = 0, ylow = 0, yhigh = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;   // rows in the files: of one field when rendering fields
    std::int32_t top_row = 0;  // the first row written: yhigh, or the top field row
    bool fields = false;

    // The files as written (in link mode moved into the temporary rendering
    // directory); empty when not wanted.
    std::string image_name, matte_name, depth_name;
    // The hidden names they are written under until complete (partial_files.h);
    // empty for a file written in place.
    std::string image_partial, matte_partial, depth_partial;
    FBhandle* image = nullptr;
    FBhandle* matte = nullptr;
    int depth_fd = -1;
    // The depth rows of a depth name in temporary storage, kept for depth of
    // field instead of a file: width x height floats in shared memory.
    float* depth_block = nullptr;
    std::size_t depth_block_bytes = 0;
    bool integer_depth = false;
    double near = 0, far = 0;

    std::int32_t format = 1;
    ByteConversion conversion;
    std::int32_t quiet = 0;
    bool filter = false;  // rows pass through the post filter
    bool link_mode = false;
    bool stereo_eye = false;      // one eye of a stereo pair (link row numbering)
    bool files_for_link = false;  // link mode: the files are written (post effects read them)
    bool open = false;

    std::int32_t next_row = 0;      // the row whose turn it is
    std::int32_t rows_written = 0;  // rows that reached write_row
    PendingRow* pending = nullptr;  // descending rows
    PendingRow* spare = nullptr;    // entries kept for reuse

    // The row being handled, and write_row's scratch.
    OutputBuffer<std::uint8_t> bytes;
    OutputBuffer<float> colour;
    OutputBuffer<float> no_depth;  // 1e8 everywhere, for rows handed without depths
    OutputBuffer<std::uint8_t> depth_bytes;
    OutputBuffer<float> link_pixels;

    std::mutex lock;  // the output lock
};

// Opens the image, matte and depth files of `camera` for the window, once the
// view is final (near and far are the integer depths' range). Failures are
// fatal.
void open_outputs(OutputContext& context, const CameraRecord& camera, std::int32_t xleft,
                  std::int32_t xright, std::int32_t ylow, std::int32_t yhigh, std::int32_t quiet);

// The row that is next in order, as the post filter (or the output queue
// without one) hands it on: into the files, or over the link. `depth` may be
// null (the depth file then records nothing seen). Failures are fatal.
void write_row(OutputContext& context, const std::uint8_t* bytes, const float* colour,
               const float* depth, std::int32_t width, std::int32_t height);

// Flushes the post filter, closes every file and prints "Completed %s file"
// for each. A file missing rows is never reported complete: fatal.
void close_outputs(OutputContext& context);

// Rows still pending go back to the spare entries (a render that ended early);
// and the spare entries themselves, with their buffers, back to the heap.
void recycle_pending_rows(OutputContext& context);
void release_pending_rows(OutputContext& context);

// Releases the shared-memory depth rows (depth of field does, once read).
void release_depth_block(OutputContext& context);

struct OutputStages {
    // The post filter: set up for the row width when the outputs open; fed
    // every row in order with its bytes (4 or 8 a pixel), depths, coverage
    // and colours; hands its rows on to write_row, one row behind. A call
    // with null bytes at close hands on the row it holds.
    void (*post_filter_set_up)(std::int32_t width) = nullptr;
    void (*post_filter_row)(OutputContext& context, const std::uint8_t* bytes, const float* depth,
                            const std::uint8_t* coverage, const float* colour, std::int32_t width,
                            std::int32_t height) = nullptr;
    // Whether glow (of lights or shaders) will reread this camera's image.
    bool (*glow_will_run)(const CameraRecord& camera) = nullptr;

    // The link to the modelling application. Pixel records are five floats
    // (red, green, blue, alpha 0..255, depth); each send returns success.
    bool (*send_file)(const char* name, bool image, bool depth, bool matte) = nullptr;
    bool (*send_pixels)(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t rows,
                        float* records) = nullptr;
    bool (*send_progress)(char letter, std::int32_t done, std::int32_t total) = nullptr;
    const char* (*link_error)() = nullptr;
};

OutputStages& output_stages();

// The temporary rendering directory: the temporary path + "/QuorlRenderer".
std::string temporary_rendering_directory();

// Installs the outputs into the frame loop's passes.
void install_output_passes();

template <typename T>
void OutputBuffer<T>::reserve(std::size_t count) {
    if (count <= capacity_) return;
    release();
    data_ = static_cast<T*>(SKY_MALLOC(count * sizeof(T)));
    if (data_ == nullptr) fatal_out_of_output_memory(count * sizeof(T));
    capacity_ = count;
}

template <typename T>
void OutputBuffer<T>::release() {
    if (data_ != nullptr) SKY_FREE(data_);
    data_ = nullptr;
    capacity_ = 0;
}

}  // namespace sky
