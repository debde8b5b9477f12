// The link to the modelling application (option -A): the scene arrives over
// a TCP connection, and every file announcement, rendered row, progress step
// and report goes back as a message on the status socket, one socket or two
// (docs/link-protocol.md gives the wire format).
//
// Every message is written whole under the link mutex, so that the workers,
// the main thread and the heartbeat thread never interleave. A write that
// fails leaves the link error set; the heartbeat thread then ends the
// process with status 0 (the application going away is the user's cancel),
// after saying so on standard error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sky {

class InputStream;

enum LinkMessage : std::uint32_t {
    LINK_END = 0,
    LINK_IMAGE = 1,
    LINK_PROGRESS = 2,
    LINK_REPORT = 3,
    LINK_FILE = 4,
    LINK_HEARTBEAT = 5,
};

// The longest status address the application may send at the handshake.
inline constexpr std::size_t kLinkAddressLimit = 1024;
// Rows of an image message from the byte-image senders, at most this many pixels.
inline constexpr std::int32_t kLinkPixelsPerMessage = 200000;

// Connects to the application at "host:port", reads the status address and
// opens the status socket, then sends every report over the link and starts
// the heartbeat. Returns the scene stream over the data socket, or null with
// the reason in `error` (nothing is left open then).
std::unique_ptr<InputStream> link_connect(const std::string& address, std::string& error);
bool link_connected();

// Each returns success (the link error not set).
bool link_send_file(const char* name, bool image, bool depth, bool matte);
// Pixel records are five floats (red, green, blue, alpha 0..255, depth); the
// records are turned to the wire's byte order in place.
bool link_send_pixels(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t rows,
                      float* records);
// An RGBA byte image (4 bytes a pixel, rows from `first_row` on) as image
// messages of depth 0: rows in groups of at most 200000 pixels, or one block.
bool link_send_image_rows(const std::uint8_t* image, std::int32_t first_row, std::int32_t width,
                          std::int32_t rows);
bool link_send_image_block(const std::uint8_t* image, std::int32_t x, std::int32_t y,
                           std::int32_t width, std::int32_t height);
bool link_send_progress(char letter, std::int32_t done, std::int32_t total);
// The text of the link error; empty while the link is sound.
const char* link_error_text();

// Stops the heartbeat, sends the end message and closes the sockets.
bool link_close();

// Ends the process as the application's leaving does: the reason on
// standard error, clean-up, status 0.
[[noreturn]] void end_with_broken_link(const char* what);

// The output's link stages (file announcements, rows, row progress).
void install_link_stages();

}  // namespace sky
