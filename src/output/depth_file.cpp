#include "output/depth_file.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <unistd.h>

namespace sky {
namespace {

inline void put_u32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace

void encode_depth_header(std::uint8_t* header, bool integer, int width, int height) {
    put_u32(header, integer ? kDepthMagicInteger : kDepthMagicFloat);
    header[4] = static_cast<std::uint8_t>(width);
    header[5] = static_cast<std::uint8_t>(width >> 8);
    header[6] = static_cast<std::uint8_t>(height);
    header[7] = static_cast<std::uint8_t>(height >> 8);
}

std::int32_t integer_depth(float z, double near, double far) {
    // Not a number, or clipping planes without depth between them: the far plane.
    if (!(far > near) || std::isnan(z)) return 0;
    double clamped = z < near ? near : (z > far ? far : static_cast<double>(z));
    return static_cast<std::int32_t>(std::trunc((far - clamped) / (far - near) * 2147483647.0));
}

void encode_depth_row(const float* depth, int width, bool integer, double near, double far,
                      std::uint8_t* out) {
    for (int x = 0; x < width; ++x) {
        std::uint32_t bits;
        if (integer) {
            bits = static_cast<std::uint32_t>(integer_depth(depth[x], near, far));
        } else {
            std::memcpy(&bits, &depth[x], sizeof bits);
        }
        put_u32(out + 4 * x, bits);
    }
}

bool write_fully(int descriptor, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        ssize_t written = ::write(descriptor, next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) {
            errno = EIO;
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace sky
