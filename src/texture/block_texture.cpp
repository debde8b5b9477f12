// Block-ordered textures and their shared block cache. See block_texture.h.
//
// The cache is set-associative: a block's key (the texture's id and the
// block's number) picks a set of four ways, each set under its own lock, so
// workers reading different parts of the textures rarely meet. A miss reads
// the block's record from its file into the least recently used way of the
// set while holding the set's lock.
#include "texture/block_texture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/options.h"
#include "platform/report.h"
#include "texture/image_pyramid.h"

namespace sky {
namespace {

constexpr int kSide = 32;  // texels across a block
constexpr std::size_t kBlockBytes = kSide * kSide * 4;
constexpr std::uint32_t kMagic = 0x54424b53;  // "SKBT"

// What precedes each block's texels in the file.
struct BlockHeader {
    std::uint32_t magic;
    std::uint32_t level;
    std::uint32_t index;  // the block's number within the texture
    std::uint32_t checksum;
};
constexpr std::size_t kRecordBytes = sizeof(BlockHeader) + kBlockBytes;

std::uint32_t checksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < count; ++i) h = (h ^ bytes[i]) * 16777619u;
    return h;
}

constexpr int kWays = 4;
constexpr std::uint64_t kEmpty = ~std::uint64_t{0};

struct Way {
    std::uint64_t key = kEmpty;
    std::uint64_t used = 0;
    std::uint8_t texels[kBlockBytes];
};

struct Set {
    std::mutex lock;
    std::uint64_t clock = 0;
    Way ways[kWays];
};

std::size_t wanted_bytes = 0;  // 0: texture_cache_size

struct BlockCache {
    std::unique_ptr<Set[]> sets;
    std::size_t count = 0;
    std::atomic<std::uint32_t> next_id{1};

    BlockCache() {
        std::size_t bytes = wanted_bytes;
        if (bytes == 0)
            bytes = static_cast<std::size_t>(std::max(render_options().texture_cache_size, 4))
                    << 20;
        count = std::max<std::size_t>(bytes / (kWays * kBlockBytes), 1);
        sets = std::make_unique<Set[]>(count);
    }
    Set& set_of(std::uint64_t key) {
        key ^= key >> 29;
        key *= 0xBF58476D1CE4E5B9u;
        key ^= key >> 32;
        return sets[key % count];
    }
};

BlockCache& cache() {
    static auto* c = new BlockCache;  // outlives the workers at exit
    return *c;
}

enum Failure { READ_FAILED, CORRUPTED, UNDECODABLE };

// Writes all of `bytes` at `offset`; false with errno set.
bool write_at(int fd, off_t offset, const std::uint8_t* bytes, std::size_t count, bool& seek) {
    seek = ::lseek(fd, offset, SEEK_SET) != offset;
    if (seek) return false;
    while (count > 0) {
        ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

void set_block_cache_bytes(std::size_t bytes) {
    wanted_bytes = bytes;
}

std::unique_ptr<BlockTexture> BlockTexture::convert(const std::string& name,
                                                    const ImagePyramid& pyramid) {
    std::unique_ptr<BlockTexture> t(new BlockTexture);
    t->name_ = name;
    std::uint32_t blocks = 0;
    for (int i = 0; i < pyramid.levels(); ++i) {
        const PyramidLevel& level = pyramid.level(i);
        int across = (level.width + kSide - 1) / kSide, down = (level.height + kSide - 1) / kSide;
        t->levels_.push_back(Level{level.width, level.height, across, blocks});
        blocks += static_cast<std::uint32_t>(across * down);
    }
    if (pyramid.levels() > 0)
        std::memcpy(t->mean_, pyramid.level(pyramid.levels() - 1).texels(), 4);

    const char* directory = std::getenv("TMPDIR");
    std::string path =
        std::string(directory && *directory ? directory : "/tmp") + "/skyloom-blocks-XXXXXX";
    int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        rptError("Warning: Can't use block ordered texture - write error for file %s: %s\n",
                 name.c_str(), std::strerror(errno));
        return nullptr;
    }
    auto give_up = [&](const char* what) {
        rptError("Warning: Can't use block ordered texture - %s error for file %s: %s\n", what,
                 name.c_str(), std::strerror(errno));
        ::close(fd);
        ::unlink(path.c_str());
        return nullptr;
    };
    std::uint8_t record[kRecordBytes];
    for (int i = 0; i < pyramid.levels(); ++i) {
        const PyramidLevel& level = pyramid.level(i);
        const Level& l = t->levels_[static_cast<std::size_t>(i)];
        const std::uint8_t* texels = level.texels();
        for (int by = 0; by * kSide < level.height; ++by)
            for (int bx = 0; bx < l.blocks_across; ++bx) {
                std::uint8_t* payload = record + sizeof(BlockHeader);
                std::memset(payload, 0, kBlockBytes);
                int columns = std::min(kSide, level.width - bx * kSide);
                for (int y = 0; y < kSide && by * kSide + y < level.height; ++y)
                    std::memcpy(payload + static_cast<std::size_t>(y) * kSide * 4,
                                texels + (static_cast<std::size_t>(by * kSide + y) * level.width +
                                          static_cast<std::size_t>(bx * kSide)) *
                                             4,
                                static_cast<std::size_t>(columns) * 4);
                BlockHeader header{
                    kMagic, static_cast<std::uint32_t>(i),
                    l.first_block + static_cast<std::uint32_t>(by * l.blocks_across + bx),
                    checksum(payload, kBlockBytes)};
                std::memcpy(record, &header, sizeof header);
                bool seek = false;
                if (!write_at(fd, static_cast<off_t>(header.index) * kRecordBytes, record,
                              kRecordBytes, seek))
                    return give_up(seek ? "seek" : "write");
            }
    }
    if (::close(fd) != 0) {
        fd = -1;
        rptError("Warning: Can't use block ordered texture - write error for file %s: %s\n",
                 name.c_str(), std::strerror(errno));
        ::unlink(path.c_str());
        return nullptr;
    }
    t->fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ::unlink(path.c_str());
    if (t->fd_ < 0) {
        rptError("Warning: can't reopen converted texture file %s\n", name.c_str());
        return nullptr;
    }
    t->id_ = cache().next_id.fetch_add(1);
    return t;
}

BlockTexture::~BlockTexture() {
    if (fd_ >= 0) ::close(fd_);
    // Its blocks stay in the cache until other blocks push them out: their
    // keys are never asked for again (ids are not reused).
}

void BlockTexture::report(int kind, const char* detail) const {
    if (reported_.exchange(true)) return;
    switch (kind) {
        case READ_FAILED:
            rptError("Error: read error in block ordered texture file %s: %s\n", name_.c_str(),
                     detail);
            break;
        case CORRUPTED:
            rptError("Error: Corrupted data found in block ordered texture file %s: %s\n",
                     name_.c_str(), detail);
            break;
        default:
            rptError("Error: Decode error in block ordered texture file %s\n", name_.c_str());
            break;
    }
}

bool BlockTexture::texel(int level, int x, int y, std::uint8_t rgba[4]) const {
    const Level& l = levels_[static_cast<std::size_t>(level)];
    const std::uint32_t index =
        l.first_block + static_cast<std::uint32_t>((y / kSide) * l.blocks_across + x / kSide);
    const std::size_t at = (static_cast<std::size_t>(y % kSide) * kSide + x % kSide) * 4;
    const std::uint64_t key = (std::uint64_t{id_} << 32) | index;
    Set& set = cache().set_of(key);
    std::lock_guard<std::mutex> hold(set.lock);
    Way* victim = &set.ways[0];
    for (Way& way : set.ways) {
        if (way.key == key) {
            way.used = ++set.clock;
            std::memcpy(rgba, way.texels + at, 4);
            return true;
        }
        if (way.used < victim->used) victim = &way;
    }
    // A miss: the record straight into the way, its header checked first.
    BlockHeader header;
    victim->key = kEmpty;
    const off_t offset = static_cast<off_t>(index) * static_cast<off_t>(kRecordBytes);
    const ssize_t head = ::pread(fd_, &header, sizeof header, offset);
    const ssize_t body =
        head == static_cast<ssize_t>(sizeof header)
            ? ::pread(fd_, victim->texels, kBlockBytes, offset + static_cast<off_t>(sizeof header))
            : 0;
    bool failed = true;
    if (head < 0 || body < 0)
        report(READ_FAILED, std::strerror(errno));
    else if (head != static_cast<ssize_t>(sizeof header) ||
             body != static_cast<ssize_t>(kBlockBytes))
        report(READ_FAILED, "the file ends early");
    else if (header.magic != kMagic || header.level != static_cast<std::uint32_t>(level) ||
             header.index != index)
        report(UNDECODABLE, nullptr);
    else if (checksum(victim->texels, kBlockBytes) != header.checksum)
        report(CORRUPTED, "a block's checksum does not match its texels");
    else
        failed = false;
    if (failed) {
        std::memcpy(rgba, mean_, 4);
        return false;
    }
    victim->key = key;
    victim->used = ++set.clock;
    std::memcpy(rgba, victim->texels + at, 4);
    return true;
}

}  // namespace sky
