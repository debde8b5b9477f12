// The link to the modelling application: the handshake, the messages on the
// status socket, the heartbeat thread and the close.
//
// The heartbeat sleeps by waiting on the status socket itself: a peer that
// has gone (a reset connection) wakes it at once, so the render ends within
// about a second of the application quitting, whatever the workers are
// doing; otherwise it writes a heartbeat every second, which is what finds
// out a peer that left without a reset.
#include "run/link.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "output/output_context.h"
#include "platform/fatal.h"
#include "platform/input_stream.h"
#include "platform/report.h"
#include "platform/tcp.h"

namespace sky {
namespace {

// How long the handshake waits for the application's status address.
constexpr int kHandshakeSeconds = 60;
constexpr int kHeartbeatMs = 1000;
// How long written bytes may go unacknowledged before the peer counts as
// gone (its machine switched off, the network cut): without it a send would
// wait for the system's retries, a quarter of an hour. An application that
// is alive but not reading still acknowledges, and is waited for.
constexpr unsigned kUnacknowledgedMs = 30000;

struct LinkState {
    int data_fd = -1;
    int status_fd = -1;  // the data socket's own descriptor with one socket
    int wake_fd = -1;    // tells the heartbeat to stop
    std::mutex mutex;    // the link mutex: one whole message at a time
    std::atomic<bool> failed{false};
    char error[256] = "";
    // The flags of the last file message, for the progress texts.
    bool image = false, depth = false, matte = false;
    std::thread heartbeat;
    std::vector<float> pixels;  // the byte-image senders' records
};

LinkState& link() {
    static LinkState state;
    return state;
}

// With the link mutex held.
void note_failure(LinkState& state, const std::string& error) {
    if (state.failed.load()) return;
    std::snprintf(state.error, sizeof state.error, "%s", error.c_str());
    state.failed.store(true);
}

// Writes the type and, when that went, the body: one message, whole.
bool write_message(LinkMessage type, const iovec* body, int parts) {
    LinkState& state = link();
    std::lock_guard lock(state.mutex);
    if (state.failed.load() || state.status_fd < 0) return false;
    std::uint32_t word = to_big_endian(type);
    iovec all[4] = {{&word, sizeof word}};
    for (int i = 0; i < parts; ++i) all[1 + i] = body[i];
    std::string error;
    if (!tcp_write(state.status_fd, all, 1 + parts, error)) {
        note_failure(state, error);
        return false;
    }
    return true;
}

bool write_text(LinkMessage type, std::string_view text) {
    std::uint32_t length = to_big_endian(static_cast<std::uint32_t>(text.size()));
    iovec body[2] = {{&length, sizeof length}, {const_cast<char*>(text.data()), text.size()}};
    return write_message(type, body, 2);
}

// Every report travels as a report message. One that cannot (the link is
// broken) is printed here instead: it may say why the render ends.
void send_report(const char* text) {
    if (!write_text(LINK_REPORT, text)) write_to_stderr(text);
}

void heartbeat_routine() {
    LinkState& state = link();
    for (;;) {
        pollfd waits[2] = {{state.status_fd, 0, 0}, {state.wake_fd, POLLIN, 0}};
        ::poll(waits, 2, kHeartbeatMs);
        if (waits[1].revents != 0) return;  // closing
        if ((waits[0].revents & (POLLERR | POLLHUP)) != 0) {
            std::lock_guard lock(state.mutex);
            note_failure(state, "the connection was reset");
        } else {
            write_message(LINK_HEARTBEAT, nullptr, 0);
        }
        if (state.failed.load()) end_with_broken_link("Lost the link to the modelling application");
    }
}

void close_descriptors(LinkState& state) {
    if (state.status_fd >= 0 && state.status_fd != state.data_fd) ::close(state.status_fd);
    if (state.data_fd >= 0) ::close(state.data_fd);
    state.status_fd = state.data_fd = -1;
}

// The output's stages. The link breaking while rows are sent is the
// application quitting, not a fault of the render: it ends as the heartbeat
// would end it, at once.
bool send_output_pixels(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t rows,
                        float* records) {
    if (!link_send_pixels(x, y, width, rows, records))
        end_with_broken_link("Problem sending image data");
    return true;
}

bool send_output_progress(char letter, std::int32_t done, std::int32_t total) {
    if (!link_send_progress(letter, done, total))
        end_with_broken_link("Problem sending status data");
    return true;
}

bool send_output_file(const char* name, bool image, bool depth, bool matte) {
    return link_send_file(name, image, depth, matte);
}

float wire_float(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    bits = to_big_endian(bits);
    std::memcpy(&value, &bits, sizeof bits);
    return value;
}

}  // namespace

std::unique_ptr<InputStream> link_connect(const std::string& address, std::string& error) {
    LinkState& state = link();
    TcpAddress data_address;
    if (!parse_tcp_address(address, data_address, error)) return nullptr;
    int data = tcp_connect(data_address, error);
    if (data < 0) return nullptr;

    // A peer that accepts and then says nothing must not hold the start-up for ever.
    timeval limit{kHandshakeSeconds, 0}, none{0, 0};
    ::setsockopt(data, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string status_text;
    if (!tcp_read_string(data, status_text, kLinkAddressLimit, error)) {
        if (error == std::strerror(EAGAIN)) error = "the application sent no status address";
        ::close(data);
        return nullptr;
    }
    ::setsockopt(data, SOL_SOCKET, SO_RCVTIMEO, &none, sizeof none);

    int status = data;
    TcpAddress status_address;
    if (status_text != address) {
        std::string why;
        if (!parse_tcp_address(status_text, status_address, why)) {
            error = "bad status address \"" + status_text + "\": " + why;
            ::close(data);
            return nullptr;
        }
        if (!same_tcp_address(status_address, data_address)) {
            status = tcp_connect(status_address, error);
            if (status < 0) {
                ::close(data);
                return nullptr;
            }
        }
    }
    for (int fd : {data, status})
        ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs,
                     sizeof kUnacknowledgedMs);
    // The scene stream reads its own descriptor of the data socket.
    int reading = ::fcntl(data, F_DUPFD_CLOEXEC, 0);
    state.wake_fd = ::eventfd(0, EFD_CLOEXEC);
    if (reading < 0 || state.wake_fd < 0) {
        error = std::strerror(errno);
        if (reading >= 0) ::close(reading);
        if (status != data) ::close(status);
        ::close(data);
        return nullptr;
    }
    state.data_fd = data;
    state.status_fd = status;
    state.failed = false;
    state.error[0] = '\0';

    rptSetUserCB(send_report);
    rptSetErrorCB(send_report);
    state.heartbeat = std::thread(heartbeat_routine);
    return InputStream::from_socket(reading, address);
}

bool link_connected() {
    return link().status_fd >= 0;
}

bool link_send_file(const char* name, bool image, bool depth, bool matte) {
    LinkState& state = link();
    state.image = image;
    state.depth = depth;
    state.matte = matte;
    return write_text(LINK_FILE, name);
}

bool link_send_pixels(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t rows,
                      float* records) {
    std::uint32_t header[4] = {to_big_endian(static_cast<std::uint32_t>(x)),
                               to_big_endian(static_cast<std::uint32_t>(y)),
                               to_big_endian(static_cast<std::uint32_t>(width)),
                               to_big_endian(static_cast<std::uint32_t>(rows))};
    const std::size_t count = static_cast<std::size_t>(width > 0 ? width : 0) *
                              static_cast<std::size_t>(rows > 0 ? rows : 0) * 5;
    for (std::size_t i = 0; i < count; ++i) records[i] = wire_float(records[i]);
    iovec body[2] = {{header, sizeof header}, {records, count * sizeof(float)}};
    return write_message(LINK_IMAGE, body, 2);
}

bool link_send_image_block(const std::uint8_t* image, std::int32_t x, std::int32_t y,
                           std::int32_t width, std::int32_t height) {
    LinkState& state = link();
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (state.pixels.size() != pixels * 5) state.pixels.assign(pixels * 5, 0.0f);
    float* records = state.pixels.data();
    for (std::size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 4; ++c) records[5 * i + c] = image[4 * i + c];
        records[5 * i + 4] = 0.0f;
    }
    return link_send_pixels(x, y, width, height, records);
}

bool link_send_image_rows(const std::uint8_t* image, std::int32_t first_row, std::int32_t width,
                          std::int32_t rows) {
    if (width <= 0) return true;
    const std::int32_t per_message = std::max(1, kLinkPixelsPerMessage / width);
    for (std::int32_t done = 0; done < rows;) {
        const std::int32_t group = std::min(per_message, rows - done);
        const std::uint8_t* from = image + static_cast<std::size_t>(done) * width * 4;
        if (!link_send_image_block(from, 0, first_row + done, width, group)) return false;
        done += group;
    }
    return true;
}

bool link_send_progress(char letter, std::int32_t done, std::int32_t total) {
    LinkState& state = link();
    char text[96];
    std::snprintf(text, sizeof text, "%c %d %d %d %d of %d\n", letter, state.image ? 1 : 0,
                  state.depth ? 1 : 0, state.matte ? 1 : 0, done, total);
    return write_text(LINK_PROGRESS, text);
}

const char* link_error_text() {
    LinkState& state = link();
    return state.failed.load() ? state.error : "";
}

bool link_close() {
    LinkState& state = link();
    if (state.heartbeat.joinable()) {
        std::uint64_t one = 1;
        if (::write(state.wake_fd, &one, sizeof one) < 0) {
            // The heartbeat then ends the process at its next beat instead.
        }
        state.heartbeat.join();
    }
    if (state.wake_fd >= 0) ::close(state.wake_fd);
    state.wake_fd = -1;
    write_message(LINK_END, nullptr, 0);
    rptSetUserCB(nullptr);
    rptSetErrorCB(nullptr);
    std::lock_guard lock(state.mutex);
    // Shut down, not only closed: the scene stream holds a descriptor of
    // the data socket too, and the application must see the end now.
    if (state.status_fd >= 0) ::shutdown(state.status_fd, SHUT_RDWR);
    if (state.data_fd >= 0) ::shutdown(state.data_fd, SHUT_RDWR);
    close_descriptors(state);
    return !state.failed.load();
}

void end_with_broken_link(const char* what) {
    rptSetUserCB(nullptr);
    rptSetErrorCB(nullptr);
    std::fprintf(stderr, "%s: %s\n", what, link().error[0] ? link().error : "the link is broken");
    std::fprintf(stderr, "The modelling application has gone: the render ends.\n");
    run_cleanup_handlers();
    exit_process(0);
}

void install_link_stages() {
    OutputStages& stages = output_stages();
    stages.send_file = send_output_file;
    stages.send_pixels = send_output_pixels;
    stages.send_progress = send_output_progress;
    stages.link_error = link_error_text;
}

}  // namespace sky
