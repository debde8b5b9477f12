// libFuzzer harness for the packet reader: any bytes are read as binary
// scene data, from memory and through a source that hands them over in
// small irregular pieces as a socket would; what reads must write back to
// the same bytes and read again to the same contents.
// Build and run: docs/fuzzing.md.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/packets.h"

namespace {

bool same(const sky::PacketFile& a, const sky::PacketFile& b) {
    if (a.meshes.size() != b.meshes.size() || a.images.size() != b.images.size() ||
        a.lighting.size() != b.lighting.size() || a.channels.size() != b.channels.size())
        return false;
    for (std::size_t i = 0; i < a.meshes.size(); ++i) {
        const sky::PacketMesh &x = a.meshes[i], &y = b.meshes[i];
        if (x.name != y.name || x.sizes != y.sizes || x.indices != y.indices ||
            x.positions.size() != y.positions.size() || x.normals.size() != y.normals.size() ||
            x.st.size() != y.st.size())
            return false;
    }
    for (std::size_t i = 0; i < a.channels.size(); ++i)
        if (a.channels[i].name != b.channels[i].name ||
            a.channels[i].keys.size() != b.channels[i].keys.size())
            return false;
    for (int kind = 0; kind < 2; ++kind) {
        const auto& p = kind == 0 ? a.images : a.lighting;
        const auto& q = kind == 0 ? b.images : b.lighting;
        for (std::size_t i = 0; i < p.size(); ++i)
            if (p[i].name != q[i].name || p[i].data != q[i].data || p[i].width != q[i].width)
                return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sky::PacketFile file;
    std::string error;
    std::size_t used = 0;
    const bool read = sky::parse_packets(data, size, file, error, &used);
    if (!read && error.empty()) std::abort();

    // The same bytes in pieces of 1 to 7 bytes, after the magic.
    if (size >= 4 && std::memcmp(data, sky::kPacketMagic, 4) == 0) {
        std::size_t at = 4, turn = 0;
        sky::PacketSource pieces = [&](void* out, std::size_t n) {
            auto* to = static_cast<std::uint8_t*>(out);
            while (n > 0) {
                std::size_t piece = std::min({n, size - at, std::size_t{1 + turn++ % 7}});
                if (piece == 0) return false;
                std::memcpy(to, data + at, piece);
                to += piece;
                at += piece;
                n -= piece;
            }
            return true;
        };
        sky::PacketFile streamed;
        std::string streamed_error;
        if (sky::read_packets(pieces, streamed, streamed_error) != read) std::abort();
        if (read && (at != used || !same(file, streamed))) std::abort();
    }

    // The writer puts the sections in its own order: the same size, and
    // the same contents when read again.
    if (read) {
        std::vector<std::uint8_t> written;
        if (!sky::write_packets(file, written, error)) std::abort();
        sky::PacketFile again;
        if (written.size() != used ||
            !sky::parse_packets(written.data(), written.size(), again, error))
            std::abort();
        std::vector<std::uint8_t> rewritten;
        if (!sky::write_packets(again, rewritten, error) || rewritten != written) std::abort();
    }
    return 0;
}
