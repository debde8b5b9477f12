// The renderer's side of the OpenImageIO module: finds and loads
// libskyloom_oiio.so the first time a file needs OpenImageIO, and forwards
// every call to it. The module is looked for, in order, at the path in
// $SKYLOOM_OIIO_MODULE, beside the executable, in ../lib/skyloom next to the
// executable, and where the build put it.
#include "platform/image/oiio_backend.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#include "platform/image/oiio_api.h"

#ifndef SKYLOOM_OIIO_MODULE_PATH
#define SKYLOOM_OIIO_MODULE_PATH ""
#endif

namespace sky {
namespace {

std::string executable_directory() {
    std::vector<char> path(4096);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    std::string exe(path.data(), static_cast<std::size_t>(length));
    return exe.substr(0, exe.find_last_of('/'));
}

struct Module {
    const oiio_api::Table* table = nullptr;
    std::string error;
};

// Never destroyed: a thread that started loading may still be at it when
// the process ends.
Module& loaded = *new Module;

const Module& module() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<std::string> candidates;
        if (const char* explicit_path = std::getenv("SKYLOOM_OIIO_MODULE");
            explicit_path && *explicit_path)
            candidates.push_back(explicit_path);
        std::string dir = executable_directory();
        if (!dir.empty()) {
            candidates.push_back(dir + "/" + oiio_api::kModuleName);
            candidates.push_back(dir + "/../lib/skyloom/" + oiio_api::kModuleName);
        }
        if (*SKYLOOM_OIIO_MODULE_PATH) candidates.push_back(SKYLOOM_OIIO_MODULE_PATH);

        std::string reasons;
        for (const std::string& path : candidates) {
            if (::access(path.c_str(), F_OK) != 0) continue;
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                reasons += std::string("; ") + ::dlerror();
                continue;
            }
            using Entry = const oiio_api::Table* (*)();
            auto entry = reinterpret_cast<Entry>(::dlsym(handle, oiio_api::kTableSymbol));
            const oiio_api::Table* table = entry ? entry() : nullptr;
            if (table == nullptr || table->version != oiio_api::kVersion) {
                reasons += "; " + path + " is not a matching module";
                ::dlclose(handle);
                continue;
            }
            loaded.table = table;  // kept loaded for the life of the process
            return;
        }
        loaded.error = std::string("cannot load the OpenImageIO module ") + oiio_api::kModuleName +
                       (reasons.empty() ? " (not found; set SKYLOOM_OIIO_MODULE)" : reasons);
    });
    return loaded;
}

const oiio_api::Table* table_or_error(std::string* error) {
    const Module& m = module();
    if (m.table == nullptr && error != nullptr) *error = m.error;
    return m.table;
}

}  // namespace

bool write_exr_image(const std::string& name, const oiio_api::ExrImage& image, std::string* error) {
    const oiio_api::Table* table = table_or_error(error);
    return table != nullptr && table->write_exr(name, image, error);
}

void start_loading_oiio_module() {
    std::thread([] { module(); }).detach();
}

namespace {
std::atomic<bool> module_wanted{false};
}

void want_oiio_module() {
    module_wanted.store(true, std::memory_order_relaxed);
}
bool oiio_module_wanted() {
    return module_wanted.load(std::memory_order_relaxed);
}

inline namespace renderer {

struct OiioReader::Impl {
    const oiio_api::Table* table;
    void* reader;
    oiio_api::ReaderInfo info;
};

OiioReader::OiioReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OiioReader::~OiioReader() {
    if (impl_) impl_->table->destroy_reader(impl_->reader);
}

std::unique_ptr<OiioReader> OiioReader::open(const std::string& name, std::string* error) {
    const oiio_api::Table* table = table_or_error(error);
    if (table == nullptr) return nullptr;
    void* reader = table->open_reader(name, error);
    if (reader == nullptr) return nullptr;
    auto impl = std::make_unique<Impl>(Impl{table, reader, {}});
    table->reader_info(reader, &impl->info);
    return std::unique_ptr<OiioReader>(new OiioReader(std::move(impl)));
}

int OiioReader::width() const {
    return impl_->info.width;
}
int OiioReader::height() const {
    return impl_->info.height;
}
int OiioReader::channels() const {
    return impl_->info.channels;
}
int OiioReader::bits() const {
    return impl_->info.bits;
}
const char* OiioReader::format_name() const {
    return impl_->info.format_name;
}

bool OiioReader::read_row(int y, void* samples, std::string* error) {
    return impl_->table->read_row(impl_->reader, y, samples, error);
}

bool OiioReader::read_row_float(int y, float* samples, std::string* error) {
    return impl_->table->read_row_float(impl_->reader, y, samples, error);
}

struct OiioWriter::Impl {
    const oiio_api::Table* table;
    void* writer;
    int channels;
    int bits;
};

OiioWriter::OiioWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
OiioWriter::~OiioWriter() {
    if (impl_) impl_->table->destroy_writer(impl_->writer);
}

namespace {

std::unique_ptr<OiioWriter::Impl> wrap_writer(const oiio_api::Table* table, void* writer) {
    if (writer == nullptr) return nullptr;
    auto impl = std::make_unique<OiioWriter::Impl>(OiioWriter::Impl{table, writer, 0, 0});
    table->writer_info(writer, &impl->channels, &impl->bits);
    return impl;
}

}  // namespace

std::unique_ptr<OiioWriter> OiioWriter::create_by_extension(const std::string& name, int width,
                                                            int height, int channels, int bits,
                                                            std::string* error) {
    const oiio_api::Table* table = table_or_error(error);
    if (table == nullptr) return nullptr;
    auto impl = wrap_writer(
        table, table->create_writer_by_extension(name, width, height, channels, bits, error));
    return impl ? std::unique_ptr<OiioWriter>(new OiioWriter(std::move(impl))) : nullptr;
}

int OiioWriter::channels() const {
    return impl_->channels;
}
int OiioWriter::bits() const {
    return impl_->bits;
}

bool OiioWriter::write_row(const void* samples, std::string* error) {
    return impl_->table->write_row(impl_->writer, samples, error);
}

bool OiioWriter::close(std::string* error) {
    return impl_->table->close_writer(impl_->writer, error);
}

}  // namespace renderer
}  // namespace sky
