// Reading file textures and keeping their pyramids. See texture_cache.h.
#include "texture/texture_cache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "base/options.h"
#include "platform/fatal.h"
#include "platform/image/fb.h"
#include "platform/image/memory_images.h"
#include "platform/report.h"
#include "texture/block_texture.h"

namespace sky {
namespace {

// Pixels of the finest level of a texture's pyramid: 256 MB, the whole
// pyramid a third more. A larger image is halved while it is read, as its
// pyramid would halve it, until it fits: the texture looks the same wherever
// a lookup's footprint covers a texel of the reduced image or more, and no
// single texture can take more memory than this, whatever its file's size.
constexpr std::uint64_t kMaxTexturePixels = std::uint64_t{8192} * 8192;

// How many halvings bring a width x height image within the limit.
int halvings_to_fit(int width, int height, std::uint64_t max_pixels) {
    int halvings = 0;
    auto halved = [&](int size) {
        return (static_cast<std::uint64_t>(size) + (1u << halvings) - 1) >> halvings;
    };
    while (halved(width) * halved(height) > max_pixels) ++halvings;
    return halvings;
}

struct CacheEntry {
    std::shared_ptr<const ImagePyramid> pyramid;  // null: the file failed
    bool keep = true;
    std::uint64_t last_use = 0;
};

struct Cache {
    std::mutex lock;
    std::unordered_map<std::string, CacheEntry> entries;
    std::uint64_t clock = 0;
    std::size_t limit = 0;  // 0: from the render options
    bool limit_set = false;
    std::uint64_t max_pixels = kMaxTexturePixels;
};

Cache& cache() {
    static auto* c = new Cache;  // outlives the workers at exit
    return *c;
}

std::size_t limit_bytes(const Cache& c) {
    if (c.limit_set) return c.limit;
    std::int32_t megabytes = render_options().texture_cache_size;
    if (megabytes <= 0) megabytes = 32;
    return static_cast<std::size_t>(megabytes) << 20;
}

std::string temporary_directory() {
    const char* directory = std::getenv("TMPDIR");
    return directory && *directory ? directory : "/tmp";
}

// A file of our own format converted from one the library cannot open directly.
std::string temporary_conversion(const std::string& name) {
    std::string pattern = temporary_directory() + "/skyloom-texture-XXXXXX.qrl";
    int fd = ::mkstemps(pattern.data(), 4);
    if (fd < 0) return {};
    ::close(fd);
    if (!convertImageFile(name.c_str(), pattern.c_str())) {
        ::unlink(pattern.c_str());
        return {};
    }
    return pattern;
}

class RemoveOnExit {
public:
    explicit RemoveOnExit(std::string name) : name_(std::move(name)) {}
    ~RemoveOnExit() {
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    std::string name_;
};

// --- the disk cache ---------------------------------------------------------------
//
// With texture caching on, each pyramid moves once built into a file of
// the temporary directory mapped into memory, so textures larger than the
// memory they may take are paged in from disk as lookups need them rather
// than held (or swapped). The files are unlinked as soon as they are made:
// they go with the process however it ends. Their blocks are allocated
// before anything is written to them, so a disk that fills up is a message
// here and the pyramid stays in memory, never a bus error while rendering.

std::atomic<std::uint64_t> disk_bytes{0};

void disk_released(std::size_t bytes) {
    disk_bytes.fetch_sub(bytes);
}

struct DiskPolicy {
    bool on = false;
    std::uint64_t limit = 0;      // bytes the files may take together (0: no limit)
    std::uint64_t keep_free = 0;  // bytes of the disk that must stay free
};

// The command line's -l (megabytes of disk to use, or when negative to leave
// free) before the scene's texture_caching and texture_cache_disk_limit.
DiskPolicy disk_policy() {
    const RenderOptions& o = render_options();
    constexpr std::uint64_t kMegabyte = 1u << 20;
    if (o.texture_map_megabytes > 0)
        return {true, static_cast<std::uint64_t>(o.texture_map_megabytes) * kMegabyte, 0};
    if (o.texture_map_megabytes < 0)
        return {true, 0,
                static_cast<std::uint64_t>(-static_cast<std::int64_t>(o.texture_map_megabytes)) *
                    kMegabyte};
    if (o.texture_caching != 0)
        return {true,
                static_cast<std::uint64_t>(std::max(o.texture_cache_disk_limit, 1)) * kMegabyte, 0};
    return {};
}

// Whether `size` more bytes fit the limit and leave the disk room enough.
bool disk_has_room(const DiskPolicy& policy, const std::string& directory, std::uint64_t size) {
    if (policy.limit > 0 && disk_bytes.load() + size > policy.limit) return false;
    if (policy.keep_free == 0) return true;
    struct statvfs disk {};
    if (::statvfs(directory.c_str(), &disk) != 0) return false;
    const std::uint64_t available = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    return available >= size && available - size >= policy.keep_free;
}

void move_to_disk(const std::string& name, ImagePyramid& pyramid, const DiskPolicy& policy) {
    const std::size_t size = pyramid.bytes();
    const std::string directory = temporary_directory();
    auto stay_in_memory = [&] {
        rptError(
            "Warning: Not enough disk space or limit exceeded for mmaping texture %s. Will use "
            "swap space instead.\n",
            name.c_str());
    };
    if (!disk_has_room(policy, directory, size)) return stay_in_memory();
    std::string path = directory + "/skyloom-texture-cache-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        rptError("Error: can't open mmap file for texture %s. %s\n", name.c_str(),
                 std::strerror(errno));
        return;
    }
    ::unlink(path.c_str());
    if (::posix_fallocate(fd, 0, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return stay_in_memory();
    }
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapping_error = errno;
    ::close(fd);
    if (mapped == MAP_FAILED) {
        rptError("Error: can't mmap texture %s. %s\n", name.c_str(), std::strerror(mapping_error));
        return;
    }
    disk_bytes.fetch_add(size);
    pyramid.move_to(
        std::make_unique<MappedLevels>(static_cast<std::uint8_t*>(mapped), size, disk_released));
    // Shared by every worker from now on: nothing may write it.
    ::mprotect(mapped, size, PROT_READ);
}

std::shared_ptr<const ImagePyramid> load(const std::string& name, std::uint64_t max_pixels) {
    struct stat info {};
    if (!has_memory_image(name) && (::stat(name.c_str(), &info) != 0 || S_ISDIR(info.st_mode))) {
        rptError("Warning: Couldn't find texture file '%s'\n", name.c_str());
        return nullptr;
    }
    FBhandle* file = FBopen(name.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
    std::string converted;
    if (file == nullptr) {
        converted = temporary_conversion(name);
        if (converted.empty()) {
            rptError("Warning: Couldn't open texture file '%s'\n", name.c_str());
            return nullptr;
        }
        file = FBopen(converted.c_str(), FB_READ_ROWS, FB_FORMAT_ANY, 0, 0, 0, 0, 0, 90.0);
        if (file == nullptr) {
            ::unlink(converted.c_str());
            rptError("Error: Can't open texture file '%s'\n", name.c_str());
            return nullptr;
        }
    }
    RemoveOnExit remove_converted(converted);
    int width = file->width, height = file->height, channels = file->channels;
    if (width < 1 || height < 1 || channels < 1 || channels > 4) {
        FBclose(file);
        rptError("Error: Texture file %s is corrupt\n", name.c_str());
        return nullptr;
    }
    ReducedImage image;
    TrackedBlock line;
    const int halvings = halvings_to_fit(width, height, max_pixels);
    if (!image.start(width, height, halvings) ||
        !line.resize(static_cast<std::size_t>(width) * 4, __LINE__, __FILE__)) {
        FBclose(file);
        rptError("Error: can't allocate memory for texture %s\n", name.c_str());
        return nullptr;
    }
    if (halvings > 0)
        rptError(
            "Warning: Texture file %s reduced from %dx%d to %dx%d pixels: textures are "
            "limited to %llu pixels\n",
            name.c_str(), width, height, image.width(), image.height(),
            static_cast<unsigned long long>(max_pixels));
    for (int row = 0; row < height; ++row) {
        if (FBread(file, line.data()) != width) {
            FBclose(file);
            fatal("Error: Could not read the scanline from file %s\n", name.c_str());
        }
        // A one-channel image brings its value in the fourth byte.
        if (channels == 1)
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = line.data() + 4 * x;
                p[0] = p[1] = p[2] = p[3];
                p[3] = 255;
            }
        if (!image.add_row(line.data())) {
            FBclose(file);
            rptError("Error: can't allocate memory for texture %s\n", name.c_str());
            return nullptr;
        }
    }
    FBclose(file);
    auto pyramid = std::make_shared<ImagePyramid>();
    if (!pyramid->build(image.width(), image.height(), image.take())) {
        rptError("Error: can't allocate element for texture %s\n", name.c_str());
        return nullptr;
    }
    // The block-ordered cache takes every texture larger than one of its
    // blocks; what it cannot take, and the rest, go to the disk cache.
    if (render_options().texture_caching == 2 &&
        (pyramid->level(0).width > 32 || pyramid->level(0).height > 32))
        if (auto blocks = BlockTexture::convert(name, *pyramid)) {
            pyramid->use_blocks(std::move(blocks));
            return pyramid;
        }
    if (DiskPolicy policy = disk_policy(); policy.on) move_to_disk(name, *pyramid, policy);
    return pyramid;
}

void evict(Cache& c) {
    std::size_t held = 0;
    for (auto& [name, entry] : c.entries)
        if (entry.pyramid) held += entry.pyramid->bytes();
    std::size_t limit = limit_bytes(c);
    for (;;) {
        // The least recently used pyramid that nobody holds, or that is not
        // to be kept once unused.
        auto victim = c.entries.end();
        for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
            const CacheEntry& entry = it->second;
            if (!entry.pyramid || entry.pyramid.use_count() > 1) continue;
            if (held <= limit && entry.keep) continue;
            if (victim == c.entries.end() || entry.last_use < victim->second.last_use) victim = it;
        }
        if (victim == c.entries.end()) return;
        held -= victim->second.pyramid->bytes();
        c.entries.erase(victim);
    }
}

}  // namespace

std::shared_ptr<const ImagePyramid> texture_image(const std::string& name, bool keep) {
    if (name.empty()) return nullptr;
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    auto it = c.entries.find(name);
    if (it == c.entries.end())
        it = c.entries.emplace(name, CacheEntry{load(name, c.max_pixels), keep, 0}).first;
    it->second.last_use = ++c.clock;
    it->second.keep = it->second.keep && keep;
    return it->second.pyramid;
}

void texture_cache_new_frame() {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    evict(c);
}

void set_texture_cache_limit(std::size_t bytes) {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    c.limit = bytes;
    c.limit_set = true;
}

void set_texture_pixel_limit(std::uint64_t pixels) {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    c.max_pixels = pixels > 0 ? pixels : kMaxTexturePixels;
}

std::size_t texture_cache_bytes() {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    std::size_t held = 0;
    for (auto& [name, entry] : c.entries)
        if (entry.pyramid) held += entry.pyramid->bytes();
    return held;
}

void clear_texture_cache() {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    c.entries.clear();
    c.limit_set = false;
    c.max_pixels = kMaxTexturePixels;
}

}  // namespace sky
