// Parsing a big scene: a polyset of a million triangles whose vertices carry
// texture coordinates and normals, written the way modelling applications
// write them. Reports the parse rate (bytes per second) and the memory the
// parse keeps, against the file size.
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>

#include "platform/input_stream.h"
#include "platform/memory.h"
#include "sdl/lexer.h"
#include "sdl/reader.h"
#include "sdl/sdl_input.h"

namespace {

// A (rows × columns) grid of vertices bent into a wave: 2 triangles a cell.
std::string write_scene(int rows, int columns) {
    std::string path = "/tmp/skyloom_parse_bench_" + std::to_string(rows) + ".sdl";
    FILE* file = std::fopen(path.c_str(), "w");
    std::fprintf(
        file,
        "DEFINITION\nversion = 9.5;\nshader grey (model = lambert, color = (200, 200, 200));\n");
    std::fprintf(file, "MODEL\npolyset (\n  shader = (grey),\n  vertices = (\n");
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            double x = c * 0.01, z = r * 0.01, y = 0.1 * std::sin(x * 7) * std::cos(z * 5);
            double nx = -0.07 * std::cos(x * 7) * std::cos(z * 5),
                   nz = 0.05 * std::sin(x * 7) * std::sin(z * 5);
            double length = std::sqrt(nx * nx + 1 + nz * nz);
            std::fprintf(file, "(cv((%.6f,%.6f,%.6f),1),st(%.5f,%.5f),norm(%.5f,%.5f,%.5f))%s\n", x,
                         y, z, c / double(columns - 1), r / double(rows - 1), nx / length,
                         1 / length, nz / length, r == rows - 1 && c == columns - 1 ? "" : ",");
        }
    std::fprintf(file, "),\n  polygons = (\n");
    for (int r = 0; r + 1 < rows; ++r)
        for (int c = 0; c + 1 < columns; ++c) {
            int a = r * columns + c, b = a + 1, d = a + columns, e = d + 1;
            bool last = r + 2 == rows && c + 2 == columns;
            std::fprintf(file, "polygon(%d,%d,%d),\npolygon(%d,%d,%d)%s\n", a, d, b, b, d, e,
                         last ? "" : ",");
        }
    std::fprintf(file, ")\n);\n");
    std::fclose(file);
    return path;
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ParseMillionTrianglePolyset(benchmark::State& state) {
    int side = static_cast<int>(state.range(0));
    std::string path = write_scene(side, side);
    std::string error;
    long size = 0;
    long before = peak_rss_kb();
    std::size_t tracked_before = sky::MA_get_memory_used();
    for (auto _ : state) {
        state.PauseTiming();
        sky::reset_front_end();
        auto stream = sky::InputStream::open_file(path, error);
        sky::SdlInput input;
        input.bind(stream.get());
        input.probe();
        state.ResumeTiming();
        int errors = sky::parse_scene(input);
        if (errors != 0) state.SkipWithError("the generated scene did not parse");
    }
    FILE* file = std::fopen(path.c_str(), "r");
    std::fseek(file, 0, SEEK_END);
    size = std::ftell(file);
    std::fclose(file);
    long triangles = 2L * (side - 1) * (side - 1);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["triangles"] = static_cast<double>(triangles);
    state.counters["file_MB"] = size / 1e6;
    state.counters["peak_rss_growth_MB"] = (peak_rss_kb() - before) / 1e3;
    state.counters["tracked_MB"] = (sky::MA_get_memory_used() - tracked_before) / 1e6;
    std::remove(path.c_str());
}
BENCHMARK(BM_ParseMillionTrianglePolyset)->Arg(708)->Iterations(3)->Unit(benchmark::kMillisecond);

// The scene file named by SKYLOOM_PARSE_FILE (a knot scene, say), with long
// runs read on one thread (argument 0) or in pieces on two (1), with the
// memory settings the program starts with (large blocks mapped, so that a
// growing list is moved rather than copied). Real time,
// and the processor time of the parse's own thread: on a loaded machine the
// steadier measure of its critical path (with the helper starved, it takes
// the halves back and this time grows).
void BM_ParseSceneFile(benchmark::State& state) {
    const char* path = std::getenv("SKYLOOM_PARSE_FILE");
    if (path == nullptr) {
        state.SkipWithError("SKYLOOM_PARSE_FILE names no scene");
        return;
    }
    sky::return_large_blocks();
    sky::set_list_run_split(state.range(0) ? sky::kListRunSplit : 0);
    std::string error;
    double faults = 0, processor = 0;
    auto seconds = [](const rusage& usage) {
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    for (auto _ : state) {
        state.PauseTiming();
        sky::reset_front_end();
        auto stream = sky::InputStream::open_file(path, error);
        if (!stream) {
            state.SkipWithError(error.c_str());
            break;
        }
        sky::SdlInput input;
        input.bind(stream.get());
        input.probe();
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        state.ResumeTiming();
        if (sky::parse_scene(input) != 0) state.SkipWithError("the scene did not parse");
        state.PauseTiming();
        getrusage(RUSAGE_SELF, &after);
        faults += static_cast<double>(after.ru_minflt - before.ru_minflt);
        processor += seconds(after) - seconds(before);
        state.ResumeTiming();
    }
    // The page faults and the processor time (ms) of a parse, both threads'.
    const auto parses = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["faults"] = faults / parses;
    state.counters["processor_ms"] = processor * 1e3 / parses;
    sky::set_list_run_split(sky::kListRunSplit);
    FILE* file = std::fopen(path, "r");
    std::fseek(file, 0, SEEK_END);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::ftell(file));
    std::fclose(file);
}
BENCHMARK(BM_ParseSceneFile)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
