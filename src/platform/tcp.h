// TCP sockets of the base library: addresses written "host:port", client
// and listening sockets, and whole writes and reads of bytes and of strings.
//
// A string travels as its byte count (a 32-bit big-endian integer) followed
// by its bytes, without a terminator (docs/link-protocol.md). Writes never
// raise SIGPIPE: a peer that went away is an error the caller sees.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <sys/socket.h>
#include <sys/uio.h>

namespace sky {

struct TcpAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};

// "host:port", "[v6 address]:port" or ":port" (the loopback address). False
// with the reason in `error` when the text is not an address or the host is
// unknown.
bool parse_tcp_address(std::string_view text, TcpAddress& address, std::string& error);
// The same endpoint: family, host and port.
bool same_tcp_address(const TcpAddress& a, const TcpAddress& b);
// "host:port" of an address (numeric host).
std::string tcp_address_text(const TcpAddress& address);

// A connected client socket, or -1 with the reason.
int tcp_connect(const TcpAddress& address, std::string& error);
// A listening socket (port 0: any free one), or -1 with the reason.
int tcp_listen(const TcpAddress& address, std::string& error);
// The address a socket is bound to.
bool tcp_local_address(int fd, TcpAddress& address);
// Waits at most `timeout_ms` for a connection (negative: for ever); -1 with
// the reason on failure or timeout.
int tcp_accept(int listener, int timeout_ms, std::string& error);

// Writes every byte of the parts, retrying short and interrupted writes.
bool tcp_write(int fd, const iovec* parts, int count, std::string& error);
bool tcp_write(int fd, const void* data, std::size_t size, std::string& error);
// Reads exactly `size` bytes; the end of the stream before that is an error.
bool tcp_read(int fd, void* data, std::size_t size, std::string& error);

bool tcp_write_string(int fd, std::string_view text, std::string& error);
// Refuses strings longer than `limit` bytes without reading them.
bool tcp_read_string(int fd, std::string& text, std::size_t limit, std::string& error);

// Byte order of the wire.
inline std::uint32_t to_big_endian(std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::big) return value;
    return __builtin_bswap32(value);
}
inline std::uint32_t from_big_endian(std::uint32_t value) {
    return to_big_endian(value);
}

}  // namespace sky
