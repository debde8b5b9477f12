// Images are copied a row at a time through the image library in the pieces'
// own format, so every byte of the result (headers, run-length coding,
// 16-bit samples) comes from the same writer a whole render uses. Depth files
// are copied value by value.
#include "output/assemble.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

#include "output/depth_file.h"
#include "platform/image/fb.h"
#include "platform/partial_names.h"

namespace sky {
namespace {

struct Grid {
    int columns = 0, rows = 0;
    std::vector<int> widths, heights;  // of each column and each row of pieces
    int width = 0, height = 0;         // of the whole
};

// Checks the pieces' sizes fit together into a grid; `sizes` by piece.
bool make_grid(const std::vector<std::string>& pieces,
               const std::vector<std::pair<int, int>>& sizes, int columns, Grid& grid,
               std::string& error) {
    grid.columns = columns;
    grid.rows = static_cast<int>(pieces.size()) / columns;
    grid.widths.assign(columns, 0);
    grid.heights.assign(grid.rows, 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const int column = static_cast<int>(i) % columns, row = static_cast<int>(i) / columns;
        const auto [width, height] = sizes[i];
        if (row == 0) grid.widths[column] = width;
        if (column == 0) grid.heights[row] = height;
        if (width != grid.widths[column] || height != grid.heights[row]) {
            error = pieces[i] + ": " + std::to_string(width) + "x" + std::to_string(height) +
                    " does not fit column " + std::to_string(column + 1) + " and row " +
                    std::to_string(row + 1) + " of the windows";
            return false;
        }
    }
    for (int w : grid.widths) grid.width += w;
    for (int h : grid.heights) grid.height += h;
    return true;
}

struct HandleCloser {
    void operator()(FBhandle* handle) const { FBclose(handle); }
};
using Handle = std::unique_ptr<FBhandle, HandleCloser>;

bool assemble_images(const std::vector<std::string>& pieces, int columns, const std::string& output,
                     const std::string& partial, std::string& error) {
    std::vector<Handle> in;
    std::vector<std::pair<int, int>> sizes;
    for (const std::string& piece : pieces) {
        FBhandle* handle = FBopen(piece.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
        if (handle == nullptr) {
            error = FBgetError();
            return false;
        }
        in.emplace_back(handle);
        sizes.emplace_back(handle->width, handle->height);
        const FBhandle& first = *in.front();
        if (handle->format != first.format || handle->channels != first.channels ||
            handle->file_bits != first.file_bits) {
            error = piece + ": not of the format of " + pieces.front();
            return false;
        }
    }
    Grid grid;
    if (!make_grid(pieces, sizes, columns, grid, error)) return false;

    const bool sixteen = in.front()->format == FB_FORMAT_TIFF16;
    const std::size_t pixel = sixteen ? 8 : 4;
    for (Handle& handle : in) FBtiff16_set(handle.get(), sixteen);
    FBhandle* written = FBopen(partial.c_str(), FB_WRITE_ROWS, in.front()->format, grid.width,
                               grid.height, in.front()->channels, 0, 0, 90.0);
    if (written == nullptr) {
        error = FBgetError();
        return false;
    }
    Handle out(written);
    FBtiff16_set(written, sixteen);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(grid.width) * pixel);
    for (int band = 0; band < grid.rows; ++band) {
        for (int y = 0; y < grid.heights[band]; ++y) {
            std::size_t offset = 0;
            for (int column = 0; column < columns; ++column) {
                FBhandle* piece = in[static_cast<std::size_t>(band * columns + column)].get();
                if (FBread(piece, row.data() + offset) != piece->width) {
                    error = FBgetError();
                    return false;
                }
                offset += static_cast<std::size_t>(piece->width) * pixel;
            }
            if (FBwrite(written, row.data()) == 0) {
                error = FBgetError();
                return false;
            }
        }
    }
    if (FBclose(out.release()) == 0) {
        error = FBgetError();
        return false;
    }
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string system_error(const std::string& name) {
    return name + ": " + std::strerror(errno);
}

bool assemble_depths(const std::vector<std::string>& pieces, int columns, const std::string& output,
                     const std::string& partial, std::string& error) {
    std::vector<File> in;
    std::vector<std::pair<int, int>> sizes;
    std::uint32_t magic = 0;
    for (const std::string& piece : pieces) {
        in.emplace_back(std::fopen(piece.c_str(), "rb"));
        std::uint8_t header[kDepthHeaderSize];
        if (!in.back()) {
            error = system_error(piece);
            return false;
        }
        if (std::fread(header, 1, sizeof header, in.back().get()) != sizeof header) {
            error = piece + ": not a depth file";
            return false;
        }
        const std::uint32_t piece_magic = header[0] | header[1] << 8 | header[2] << 16 |
                                          static_cast<std::uint32_t>(header[3]) << 24;
        if (in.size() == 1) magic = piece_magic;
        if (piece_magic != magic) {
            error = piece + ": not of the kind of depth file " + pieces.front() + " is";
            return false;
        }
        sizes.emplace_back(header[4] | header[5] << 8, header[6] | header[7] << 8);
    }
    Grid grid;
    if (!make_grid(pieces, sizes, columns, grid, error)) return false;
    if (grid.width > 65535 || grid.height > 65535) {
        error = output + ": " + std::to_string(grid.width) + "x" + std::to_string(grid.height) +
                " is too large for a depth file";
        return false;
    }

    File out(std::fopen(partial.c_str(), "wb"));
    if (!out) {
        error = system_error(output);
        return false;
    }
    std::uint8_t header[kDepthHeaderSize];
    encode_depth_header(header, magic == kDepthMagicInteger, grid.width, grid.height);
    bool ok = std::fwrite(header, 1, sizeof header, out.get()) == sizeof header;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(grid.width) * 4);
    for (int band = 0; ok && band < grid.rows; ++band) {
        for (int y = 0; ok && y < grid.heights[band]; ++y) {
            std::size_t offset = 0;
            for (int column = 0; column < columns; ++column) {
                const std::size_t bytes = static_cast<std::size_t>(grid.widths[column]) * 4;
                std::FILE* piece = in[static_cast<std::size_t>(band * columns + column)].get();
                if (std::fread(row.data() + offset, 1, bytes, piece) != bytes) {
                    error = pieces[static_cast<std::size_t>(band * columns + column)] +
                            ": rows are missing";
                    return false;
                }
                offset += bytes;
            }
            ok = std::fwrite(row.data(), 1, row.size(), out.get()) == row.size();
        }
    }
    if (!ok || std::fflush(out.get()) != 0 || ::fsync(fileno(out.get())) != 0 ||
        std::fclose(out.release()) != 0) {
        error = system_error(output);
        return false;
    }
    return true;
}

bool is_depth_file(const std::string& name) {
    File file(std::fopen(name.c_str(), "rb"));
    std::uint8_t magic[4];
    if (!file || std::fread(magic, 1, 4, file.get()) != 4) return false;
    const std::uint32_t value =
        magic[0] | magic[1] << 8 | magic[2] << 16 | static_cast<std::uint32_t>(magic[3]) << 24;
    return value == kDepthMagicFloat || value == kDepthMagicInteger;
}

}  // namespace

bool assemble_windows(const std::vector<std::string>& pieces, int columns,
                      const std::string& output, std::string& error) {
    if (columns < 1 || pieces.empty() || pieces.size() % static_cast<std::size_t>(columns) != 0) {
        error = output + ": " + std::to_string(pieces.size()) + " windows do not make rows of " +
                std::to_string(columns);
        return false;
    }
    const std::string partial = partial_name_of(output, static_cast<long>(::getpid()));
    const bool ok = is_depth_file(pieces.front())
                        ? assemble_depths(pieces, columns, output, partial, error)
                        : assemble_images(pieces, columns, output, partial, error);
    if (ok && std::rename(partial.c_str(), output.c_str()) == 0) return true;
    if (ok) error = system_error(output);
    ::unlink(partial.c_str());
    return false;
}

}  // namespace sky
