#include "platform/image/oiio_formats.h"

#include "platform/image/oiio_backend.h"

namespace sky {
namespace {

class OiioImageWriter final : public ImageWriter {
public:
    explicit OiioImageWriter(std::unique_ptr<OiioWriter> writer) : writer_(std::move(writer)) {}

    // OpenImageIO offers no way to push a row to the disk.
    bool write_row(const std::uint8_t* samples, bool) override {
        error_.clear();
        return writer_->write_row(samples, &error_);
    }
    bool close() override {
        error_.clear();
        return writer_->close(&error_);
    }
    const std::string& error() const override { return error_; }

private:
    std::unique_ptr<OiioWriter> writer_;
    std::string error_;
};

class OiioImageReader final : public ImageReader {
public:
    explicit OiioImageReader(std::unique_ptr<OiioReader> reader) : reader_(std::move(reader)) {}

    int width() const override { return reader_->width(); }
    int height() const override { return reader_->height(); }
    int channels() const override { return reader_->channels(); }
    int bits() const override { return reader_->bits(); }
    const char* format_name() const override { return reader_->format_name(); }

    bool read_row(std::uint8_t* samples) override {
        error_.clear();
        if (!reader_->read_row(next_row_, samples, &error_)) return false;
        ++next_row_;
        return true;
    }
    const std::string& error() const override { return error_; }

private:
    std::unique_ptr<OiioReader> reader_;
    int next_row_ = 0;  // OpenImageIO numbers rows from the top, as we do
    std::string error_;
};

}  // namespace

std::unique_ptr<ImageReader> open_oiio_reader(const char* file, std::string* error) {
    auto reader = OiioReader::open(file, error);
    if (!reader) return nullptr;
    return std::make_unique<OiioImageReader>(std::move(reader));
}

std::unique_ptr<ImageWriter> open_oiio_writer_by_extension(const char* file, int width, int height,
                                                           int channels, int bits,
                                                           int* file_channels, std::string* error) {
    auto writer = OiioWriter::create_by_extension(file, width, height, channels, bits, error);
    if (!writer) return nullptr;
    *file_channels = writer->channels();
    return std::make_unique<OiioImageWriter>(std::move(writer));
}

}  // namespace sky
