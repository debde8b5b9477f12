// Link throughput: pixel records per second from the renderer's link sends
// through loopback to an application that reads them as fast as it can, one
// image message per row as camera renders send them (645-pixel rows, the
// width of the knot scenes), and whole post-effect images in 200000-pixel
// blocks. The application here is a thread of the benchmark: it answers the
// handshake with its own address and drains the socket.
#include <benchmark/benchmark.h>

#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "platform/input_stream.h"
#include "platform/tcp.h"
#include "run/link.h"

namespace sky {
namespace {

constexpr int kWidth = 645;

struct Application {
    int listener = -1;
    std::thread reader;
    std::unique_ptr<InputStream> scene;

    Application() {
        std::string error;
        TcpAddress any;
        parse_tcp_address("127.0.0.1:0", any, error);
        listener = tcp_listen(any, error);
        TcpAddress bound;
        tcp_local_address(listener, bound);
        const std::string address = tcp_address_text(bound);
        reader = std::thread([this, address] {
            std::string why;
            int data = tcp_accept(listener, 10000, why);
            if (data < 0) return;
            tcp_write_string(data, address, why);
            std::vector<char> sink(1 << 20);
            while (::read(data, sink.data(), sink.size()) > 0) {
            }
            ::close(data);
        });
        scene = link_connect(address, error);
    }
    ~Application() {
        link_close();
        reader.join();
        ::close(listener);
    }
};

Application& application() {
    static Application app;  // one link for the process, as in a render
    return app;
}

void BM_LinkRows(benchmark::State& state) {
    application();
    std::vector<float> row(kWidth * 5);
    for (auto _ : state) {
        for (int i = 0; i < kWidth * 5; ++i) row[i] = static_cast<float>(i % 255);
        if (!link_send_pixels(0, 0, kWidth, 1, row.data())) state.SkipWithError("link broken");
    }
    state.SetItemsProcessed(state.iterations() * kWidth);
    state.SetBytesProcessed(state.iterations() * (kWidth * 20 + 20));
}
BENCHMARK(BM_LinkRows)->UseRealTime();

void BM_LinkImageRows(benchmark::State& state) {
    application();
    const int height = 486;
    std::vector<std::uint8_t> image(kWidth * height * 4, 128);
    for (auto _ : state)
        if (!link_send_image_rows(image.data(), 0, kWidth, height))
            state.SkipWithError("link broken");
    state.SetItemsProcessed(state.iterations() * kWidth * height);
}
BENCHMARK(BM_LinkImageRows)->UseRealTime();

}  // namespace
}  // namespace sky
