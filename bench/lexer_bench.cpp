// The SDL scanner on the text that dominates big scenes: a polyset of tens of
// thousands of vertices (position, texture coordinate and normal per vertex)
// and the polygons over them. The text is read from a file, as a scene is.
#include <cstdio>
#include <random>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/input_stream.h"
#include "sdl/lexer.h"
#include "sdl/sdl_input.h"

namespace {

// About `bytes` of polyset text: two vertex lines to one polygon line.
std::string polyset_text(std::size_t bytes) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(-10.0f, 10.0f);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::string text = "polyset big (\n    active = ON,\n    vertices = (\n";
    char line[256];
    int vertices = 0;
    while (text.size() < bytes * 2 / 3) {
        std::snprintf(line, sizeof line,
                      "        (cv((%f,%f,%f),1),st(%d,%d),norm(%.5f,%.5f,%.5f)),\n",
                      coordinate(random), coordinate(random), coordinate(random), vertices % 2,
                      vertices % 3 == 0, unit(random), unit(random), unit(random));
        text += line;
        ++vertices;
    }
    text += "    ),\n    polygons = (\n";
    while (text.size() < bytes) {
        int first = static_cast<int>(random() % static_cast<unsigned>(vertices - 3));
        std::snprintf(line, sizeof line, "        polygon(%d,%d,%d),\n", first, first + 1,
                      first + 3);
        text += line;
    }
    text += "    )\n);\n";
    return text;
}

struct SceneFile {
    std::string path;
    std::size_t bytes;
};

// Written once per run; the page cache then serves every iteration.
const SceneFile& polyset_file() {
    static const SceneFile scene = [] {
        SceneFile file{"/tmp/skyloom_lexer_bench.sdl", 0};
        std::string text = polyset_text(20 << 20);
        FILE* out = std::fopen(file.path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
        file.bytes = text.size();
        return file;
    }();
    return scene;
}

void BM_ScanPolyset(benchmark::State& state) {
    const SceneFile& scene = polyset_file();
    std::size_t tokens = 0;
    for (auto _ : state) {
        std::string error;
        auto stream = sky::InputStream::open_file(scene.path, error);
        if (!stream) {
            state.SkipWithError(error.c_str());
            return;
        }
        sky::SdlInput input;
        input.bind(stream.get());
        input.probe();
        sky::sdl_bind_input(&input);
        tokens = 0;
        while (sdl_lex() != 0) ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.counters["tokens"] = static_cast<double>(tokens);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * scene.bytes));
}
BENCHMARK(BM_ScanPolyset)->Unit(benchmark::kMillisecond);

// One string token of 1, 4 and 16 MiB: the time per byte must not grow with
// the token (it once grew linearly, making the whole scan quadratic).
void BM_ScanLongToken(benchmark::State& state) {
    const std::size_t length = static_cast<std::size_t>(state.range(0)) << 20;
    const std::string path = "/tmp/skyloom_lexer_bench_long.sdl";
    {
        std::string text = "\"" + std::string(length, 's') + "\"";
        FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }
    for (auto _ : state) {
        std::string error;
        auto stream = sky::InputStream::open_file(path, error);
        sky::SdlInput input;
        input.bind(stream.get());
        input.probe();
        sky::sdl_bind_input(&input);
        while (sdl_lex() != 0) {
        }
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}
BENCHMARK(BM_ScanLongToken)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace
