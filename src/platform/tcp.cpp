#include "platform/tcp.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace sky {
namespace {

// The longest address text a socket call needs; longer ones are refused.
constexpr std::size_t kLongestHost = 1024;

void set_error(std::string& error) {
    error = std::strerror(errno);
}

}  // namespace

bool parse_tcp_address(std::string_view text, TcpAddress& address, std::string& error) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 >= text.size() || colon > kLongestHost) {
        error = "not an address of the form host:port";
        return false;
    }
    std::string host(text.substr(0, colon));
    const std::string port(text.substr(colon + 1));
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty()) host = "127.0.0.1";
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 ||
        std::stoul(port) > 65535) {
        error = "bad port number";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (int status = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); status != 0) {
        error = ::gai_strerror(status);
        return false;
    }
    std::memcpy(&address.storage, found->ai_addr, found->ai_addrlen);
    address.length = found->ai_addrlen;
    ::freeaddrinfo(found);
    return true;
}

bool same_tcp_address(const TcpAddress& a, const TcpAddress& b) {
    if (a.storage.ss_family != b.storage.ss_family) return false;
    if (a.storage.ss_family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a.storage);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b.storage);
        return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
    }
    if (a.storage.ss_family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a.storage);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b.storage);
        return x.sin6_port == y.sin6_port &&
               std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
    }
    return a.length == b.length && std::memcmp(&a.storage, &b.storage, a.length) == 0;
}

std::string tcp_address_text(const TcpAddress& address) {
    char host[INET6_ADDRSTRLEN] = "";
    char port[16] = "";
    ::getnameinfo(reinterpret_cast<const sockaddr*>(&address.storage), address.length, host,
                  sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
    if (address.storage.ss_family == AF_INET6) return std::string("[") + host + "]:" + port;
    return std::string(host) + ":" + port;
}

int tcp_connect(const TcpAddress& address, std::string& error) {
    int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        set_error(error);
        return -1;
    }
    int status;
    do {
        status = ::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length);
    } while (status != 0 && errno == EINTR);
    if (status != 0) {
        set_error(error);
        ::close(fd);
        return -1;
    }
    return fd;
}

int tcp_listen(const TcpAddress& address, std::string& error) {
    int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        set_error(error);
        return -1;
    }
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) != 0 ||
        ::listen(fd, 4) != 0) {
        set_error(error);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool tcp_local_address(int fd, TcpAddress& address) {
    address.length = sizeof address.storage;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length) == 0;
}

int tcp_accept(int listener, int timeout_ms, std::string& error) {
    pollfd waiting{listener, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&waiting, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        error = "no connection came";
        return -1;
    }
    if (ready < 0) {
        set_error(error);
        return -1;
    }
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) set_error(error);
    return fd;
}

bool tcp_write(int fd, const iovec* parts, int count, std::string& error) {
    iovec left[8];
    if (count > 8) {
        error = "too many parts";
        return false;
    }
    std::memcpy(left, parts, sizeof(iovec) * static_cast<std::size_t>(count));
    iovec* next = left;
    while (count > 0) {
        msghdr message{};
        message.msg_iov = next;
        message.msg_iovlen = static_cast<std::size_t>(count);
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            set_error(error);
            return false;
        }
        auto done = static_cast<std::size_t>(sent);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

bool tcp_write(int fd, const void* data, std::size_t size, std::string& error) {
    iovec part{const_cast<void*>(data), size};
    return tcp_write(fd, &part, 1, error);
}

bool tcp_read(int fd, void* data, std::size_t size, std::string& error) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            set_error(error);
            return false;
        }
        if (got == 0) {
            error = "the connection was closed";
            return false;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool tcp_write_string(int fd, std::string_view text, std::string& error) {
    std::uint32_t length = to_big_endian(static_cast<std::uint32_t>(text.size()));
    iovec parts[2] = {{&length, sizeof length}, {const_cast<char*>(text.data()), text.size()}};
    return tcp_write(fd, parts, 2, error);
}

bool tcp_read_string(int fd, std::string& text, std::size_t limit, std::string& error) {
    std::uint32_t length = 0;
    if (!tcp_read(fd, &length, sizeof length, error)) return false;
    length = from_big_endian(length);
    if (length > limit) {
        error = "a string of " + std::to_string(length) + " bytes (at most " +
                std::to_string(limit) + " expected)";
        return false;
    }
    text.assign(length, '\0');
    return tcp_read(fd, text.data(), length, error);
}

}  // namespace sky
