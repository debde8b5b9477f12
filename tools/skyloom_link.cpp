// skyloom-link: plays the modelling application of link mode. It listens on
// a loopback or real address, starts skyloom with -A (or waits for one
// started elsewhere), answers the handshake, sends binary scene data and the
// scene, and receives file announcements, rows with their depths, progress
// and reports until the end message; the rows become an image file (PNG,
// EXR or any format OpenImageIO writes, by the name's extension).
//
// The wire format is docs/link-protocol.md; this program is also what the
// tests and benchmarks of link mode drive.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/tcp.h"

namespace {

const char* const kUsage =
    "usage: skyloom-link [options] SCENE [-- SKYLOOM_ARGUMENT ...]\n"
    "  SCENE                 the SDL file to send (- for standard input)\n"
    "  -o, --output FILE     write the received image; later images are FILE.2, ...\n"
    "                        before the extension (.png: 8 bits; .exr: floats with Z)\n"
    "  -b, --binary FILE     binary scene data (a packet file) sent before the scene\n"
    "  -l, --listen ADDRESS  host:port to listen on (default 127.0.0.1:0, any port)\n"
    "  -2, --two-sockets     receive the messages on a second connection\n"
    "  -w, --wait            start no renderer: print the address and wait for one\n"
    "  -s, --skyloom PATH    the renderer to start (default: skyloom beside this program)\n"
    "      --log FILE        write every message received, one line each\n"
    "  -q, --quiet           neither reports nor a progress bar\n";

struct Options {
    std::string scene, output, binary, listen = "127.0.0.1:0", skyloom, log;
    bool two_sockets = false, wait = false, quiet = false;
    std::vector<std::string> renderer_arguments;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "skyloom-link: %s\n", message.c_str());
    std::exit(1);
}

bool parse_options(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) fail("option " + a + " needs a value");
            into = argv[++i];
        };
        if (a == "--") {
            for (++i; i < argc; ++i) options.renderer_arguments.push_back(argv[i]);
        } else if (a == "-o" || a == "--output") {
            value(options.output);
        } else if (a == "-b" || a == "--binary") {
            value(options.binary);
        } else if (a == "-l" || a == "--listen") {
            value(options.listen);
        } else if (a == "-s" || a == "--skyloom") {
            value(options.skyloom);
        } else if (a == "--log") {
            value(options.log);
        } else if (a == "-2" || a == "--two-sockets") {
            options.two_sockets = true;
        } else if (a == "-w" || a == "--wait") {
            options.wait = true;
        } else if (a == "-q" || a == "--quiet") {
            options.quiet = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a.size() > 1 && a[0] == '-') {
            fail("unknown option " + a + "\n" + kUsage);
        } else if (options.scene.empty()) {
            options.scene = a;
        } else {
            fail("more than one scene\n" + std::string(kUsage));
        }
    }
    return !options.scene.empty();
}

std::string read_file(const std::string& name) {
    if (name == "-") return std::string(std::istreambuf_iterator<char>(std::cin.rdbuf()), {});
    std::ifstream in(name, std::ios::binary);
    if (!in) fail("cannot read " + name + ": " + std::strerror(errno));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int listen_on(const std::string& text, std::string& bound) {
    sky::TcpAddress address;
    std::string error;
    if (!sky::parse_tcp_address(text, address, error)) fail(text + ": " + error);
    int fd = sky::tcp_listen(address, error);
    if (fd < 0) fail("cannot listen on " + text + ": " + error);
    sky::tcp_local_address(fd, address);
    bound = sky::tcp_address_text(address);
    return fd;
}

pid_t start_renderer(const Options& options, const std::string& address, const char* self) {
    std::string program = options.skyloom;
    if (program.empty()) {
        std::string me = self;
        std::size_t slash = me.rfind('/');
        program = slash == std::string::npos ? "skyloom" : me.substr(0, slash + 1) + "skyloom";
    }
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), options.renderer_arguments.begin(),
                     options.renderer_arguments.end());
    arguments.push_back("-A");
    arguments.push_back(address);
    pid_t child = ::fork();
    if (child < 0) fail(std::string("cannot start the renderer: ") + std::strerror(errno));
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "skyloom-link: cannot run %s: %s\n", argv[0], std::strerror(errno));
        std::_Exit(127);
    }
    return child;
}

// One image being received: rows by their row number (0 = the lowest).
struct Picture {
    std::string announced;
    std::int32_t width = 0;
    std::map<std::int32_t, std::vector<float>> rows;  // 5 floats a pixel
};

std::string numbered(const std::string& name, int index) {
    if (index == 1) return name;
    std::size_t dot = name.rfind('.');
    std::size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + "." + std::to_string(index);
    return name.substr(0, dot) + "." + std::to_string(index) + name.substr(dot);
}

bool write_picture(const Picture& picture, const std::string& name) {
    if (picture.rows.empty() || picture.width <= 0) return true;
    const int height = picture.rows.rbegin()->first + 1;
    const int width = picture.width;
    auto out = OIIO::ImageOutput::create(name);
    if (!out) {
        std::fprintf(stderr, "skyloom-link: %s: %s\n", name.c_str(), OIIO::geterror().c_str());
        return false;
    }
    const bool floats = name.ends_with(".exr");
    const int channels = floats ? 5 : 4;
    OIIO::ImageSpec spec(width, height, channels,
                         floats ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
    spec.channelnames = {"R", "G", "B", "A"};
    if (floats) {
        spec.channelnames.push_back("Z");
        spec.z_channel = 4;
    }
    spec.alpha_channel = 3;
    // The values are the renderer's own: written as they are, not divided by alpha.
    spec.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<float> values(static_cast<std::size_t>(width) * height * channels, 0.0f);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(width) * height * 4, 0);
    for (const auto& [y, records] : picture.rows) {
        const int top_down = height - 1 - y;  // the row numbers count up from the bottom
        for (int x = 0; x < width && 5 * (x + 1) <= static_cast<int>(records.size()); ++x) {
            const float* r = &records[5 * static_cast<std::size_t>(x)];
            const std::size_t at = static_cast<std::size_t>(top_down) * width + x;
            for (int c = 0; c < 4; ++c) {
                // 0..255 as the renderer's files store them: whole parts.
                float v = std::min(std::max(r[c], 0.0f), 255.0f);
                bytes[at * 4 + c] = static_cast<unsigned char>(v);
                values[at * channels + c] = r[c] / 255.0f;
            }
            if (floats) values[at * channels + 4] = r[4];
        }
    }
    bool done = out->open(name, spec) &&
                (floats ? out->write_image(OIIO::TypeDesc::FLOAT, values.data())
                        : out->write_image(OIIO::TypeDesc::UINT8, bytes.data())) &&
                out->close();
    if (!done)
        std::fprintf(stderr, "skyloom-link: %s: %s\n", name.c_str(), out->geterror().c_str());
    return done;
}

class Receiver {
public:
    Receiver(int fd, const Options& options) : fd_(fd), options_(options) {
        if (!options.log.empty()) {
            log_ = std::fopen(options.log.c_str(), "w");
            if (log_ == nullptr) fail("cannot write " + options.log);
        }
        bar_ = !options.quiet && ::isatty(2);
    }
    ~Receiver() {
        if (log_) std::fclose(log_);
    }

    // Reads messages until the end message; false when the link closes first.
    bool run() {
        for (;;) {
            std::uint32_t type = 0;
            if (!read(&type, 4)) return false;
            switch (sky::from_big_endian(type)) {
                case 0:
                    note("end\n");
                    finish_picture();
                    return true;
                case 1:
                    if (!image()) return false;
                    break;
                case 2:
                case 3:
                case 4:
                    if (!text(sky::from_big_endian(type))) return false;
                    break;
                case 5:
                    note("heartbeat\n");
                    break;
                default:
                    std::fprintf(stderr, "skyloom-link: unknown message type %u\n",
                                 sky::from_big_endian(type));
                    return false;
            }
        }
    }
    bool images_written() const { return images_ok_; }

private:
    bool read(void* data, std::size_t size) {
        std::string error;
        if (sky::tcp_read(fd_, data, size, error)) return true;
        if (!options_.quiet)
            std::fprintf(stderr, "skyloom-link: the link closed: %s\n", error.c_str());
        return false;
    }

    void note(const std::string& line) {
        if (log_) std::fputs(line.c_str(), log_);
    }

    bool image() {
        std::int32_t header[4];
        if (!read(header, sizeof header)) return false;
        for (std::int32_t& h : header) h = static_cast<std::int32_t>(sky::from_big_endian(h));
        const auto [x, y, width, rows] = std::tie(header[0], header[1], header[2], header[3]);
        // A renderer's window is at most 65535 pixels either way.
        if (width < 0 || rows < 0 || x < 0 || y < 0 || x + std::int64_t{width} > 65535 ||
            y + std::int64_t{rows} > 2 * 65535 ||
            static_cast<std::int64_t>(width) * rows > (1 << 26)) {
            std::fprintf(stderr, "skyloom-link: an image message of %d x %d pixels\n", width, rows);
            return false;
        }
        std::vector<float> records(static_cast<std::size_t>(width) * rows * 5);
        if (!read(records.data(), records.size() * sizeof(float))) return false;
        for (float& f : records) {
            std::uint32_t bits;
            std::memcpy(&bits, &f, 4);
            bits = sky::from_big_endian(bits);
            std::memcpy(&f, &bits, 4);
        }
        char line[96];
        std::snprintf(line, sizeof line, "image %d %d %d %d\n", x, y, width, rows);
        note(line);
        // A block lands in its rows, whatever their width so far.
        picture_.width = std::max(picture_.width, x + width);
        for (std::int32_t r = 0; r < rows; ++r) {
            std::vector<float>& row = picture_.rows[y + r];
            if (row.size() < static_cast<std::size_t>(picture_.width) * 5)
                row.resize(static_cast<std::size_t>(picture_.width) * 5, 0.0f);
            std::copy_n(&records[static_cast<std::size_t>(r) * width * 5],
                        static_cast<std::size_t>(width) * 5, &row[static_cast<std::size_t>(x) * 5]);
        }
        return true;
    }

    bool text(std::uint32_t type) {
        std::string body, error;
        if (!sky::tcp_read_string(fd_, body, 1 << 20, error)) {
            std::fprintf(stderr, "skyloom-link: %s\n", error.c_str());
            return false;
        }
        std::string shown = body;
        for (std::size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2)
            shown.replace(at, 1, "\\n");
        if (type == 2) {
            note("progress " + shown + "\n");
            progress(body);
        } else if (type == 3) {
            note("report " + shown + "\n");
            if (!options_.quiet) {
                clear_bar();
                std::fputs(body.c_str(), stdout);
                std::fflush(stdout);
            }
        } else {
            note("file " + shown + "\n");
            finish_picture();
            picture_.announced = body;
        }
        return true;
    }

    void progress(const std::string& body) {
        char letter = 0;
        int image = 0, depth = 0, matte = 0, done = 0, total = 0;
        if (std::sscanf(body.c_str(), "%c %d %d %d %d of %d", &letter, &image, &depth, &matte,
                        &done, &total) != 6 ||
            !bar_ || total <= 0)
            return;
        const int width = 40, filled = std::min(width, width * done / total);
        std::fprintf(stderr, "\r%c [%s%s] %d/%d", letter, std::string(filled, '#').c_str(),
                     std::string(width - filled, '.').c_str(), done, total);
        shown_bar_ = true;
    }

    void clear_bar() {
        if (shown_bar_) std::fputs("\r\033[K", stderr);
        shown_bar_ = false;
    }

    void finish_picture() {
        clear_bar();
        if (!picture_.rows.empty() && !options_.output.empty())
            images_ok_ =
                write_picture(picture_, numbered(options_.output, ++pictures_)) && images_ok_;
        picture_ = Picture{};
    }

    int fd_;
    const Options& options_;
    std::FILE* log_ = nullptr;
    bool bar_ = false, shown_bar_ = false, images_ok_ = true;
    int pictures_ = 0;
    Picture picture_;
};

int exit_status(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::string scene = read_file(options.scene);
    std::string binary = options.binary.empty() ? std::string() : read_file(options.binary);

    std::string data_address, status_address;
    int listener = listen_on(options.listen, data_address);
    int status_listener = -1;
    if (options.two_sockets) {
        std::string host = options.listen.substr(0, options.listen.rfind(':'));
        status_listener = listen_on(host + ":0", status_address);
    } else {
        status_address = data_address;
    }

    pid_t child = -1;
    if (options.wait) {
        std::printf("skyloom-link: waiting for skyloom -A %s\n", data_address.c_str());
        std::fflush(stdout);
    } else {
        child = start_renderer(options, data_address, argv[0]);
    }
    std::string error;
    // A renderer that died before connecting must not leave us waiting.
    int data = -1;
    while (data < 0) {
        data = sky::tcp_accept(listener, 500, error);
        if (data < 0 && child > 0) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (data < 0 && error != "no connection came") fail("accept: " + error);
    }
    if (!sky::tcp_write_string(data, status_address, error)) fail("handshake: " + error);
    int status = data;
    if (options.two_sockets) {
        status = sky::tcp_accept(status_listener, 60000, error);
        if (status < 0) fail("the renderer did not open the status connection: " + error);
    }

    // The scene goes out while the messages come in.
    std::thread sender([&] {
        std::string why;
        if (!sky::tcp_write(data, binary.data(), binary.size(), why) ||
            !sky::tcp_write(data, scene.data(), scene.size(), why)) {
            if (!options.quiet)
                std::fprintf(stderr, "skyloom-link: sending the scene: %s\n", why.c_str());
        }
        // The scene ends where we stop writing.
        ::shutdown(data, SHUT_WR);
    });
    Receiver receiver(status, options);
    bool ended = receiver.run();
    sender.join();
    ::close(data);
    if (status != data) ::close(status);
    ::close(listener);
    if (status_listener >= 0) ::close(status_listener);

    int result = ended ? 0 : 1;
    if (child > 0) result = exit_status(child);
    if (!receiver.images_written() && result == 0) result = 1;
    return result;
}
