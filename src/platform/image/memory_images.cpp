#include "platform/image/memory_images.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/image/image_io.h"

namespace sky {
namespace {

struct MemoryImage {
    int width = 0, height = 0, channels = 0;
    std::vector<std::uint8_t> samples;
};

struct Registry {
    std::mutex mutex;  // textures may be opened from any worker
    std::map<std::string, std::shared_ptr<const MemoryImage>> images;
};

Registry& registry() {
    static Registry r;
    return r;
}

class MemoryReader final : public ImageReader {
public:
    explicit MemoryReader(std::shared_ptr<const MemoryImage> image) : image_(std::move(image)) {}
    int width() const override { return image_->width; }
    int height() const override { return image_->height; }
    int channels() const override { return image_->channels; }
    int bits() const override { return 8; }
    const char* format_name() const override { return "memory"; }
    bool read_row(std::uint8_t* samples) override {
        if (row_ >= image_->height) {
            error_ = "no rows left in the image";
            return false;
        }
        const std::size_t size = static_cast<std::size_t>(image_->width) * image_->channels;
        std::memcpy(samples, image_->samples.data() + size * row_++, size);
        return true;
    }
    const std::string& error() const override { return error_; }

private:
    std::shared_ptr<const MemoryImage> image_;
    int row_ = 0;
    std::string error_;
};

}  // namespace

void register_memory_image(const std::string& name, int width, int height, int channels,
                           std::vector<std::uint8_t> samples) {
    auto image = std::make_shared<MemoryImage>();
    image->width = width;
    image->height = height;
    image->channels = channels;
    image->samples = std::move(samples);
    std::lock_guard lock(registry().mutex);
    registry().images[name] = std::move(image);
}

void clear_memory_images() {
    std::lock_guard lock(registry().mutex);
    registry().images.clear();
}

bool has_memory_image(const std::string& name) {
    std::lock_guard lock(registry().mutex);
    return registry().images.count(name) != 0;
}

std::unique_ptr<ImageReader> open_memory_image(const char* name) {
    std::lock_guard lock(registry().mutex);
    auto found = registry().images.find(name);
    if (found == registry().images.end()) return nullptr;
    return std::make_unique<MemoryReader>(found->second);
}

}  // namespace sky
