// What displacement, image-based lighting and fillets cost: a sphere of
// about 100 000 triangles tessellated plain, with a constant height and with
// a Noise height (triangles per second); the precomputation of a
// 1024 × 512 light probe with one specular map; the fillet of three blends
// between a sphere and a plane, as a frame rebuilds it.
#include <cmath>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "geometry/displacement.h"
#include "geometry/fillet_test_support.h"
#include "geometry/nurbs_test_support.h"
#include "geometry/tessellate.h"
#include "scene/transform.h"
#include "sdl/body.h"
#include "sdl/parse_test_support.h"
#include "sdl/symbols.h"
#include "shading/image_lighting.h"
#include "shading/shader.h"
#include "texture/texture.h"

namespace {

using namespace sky;

// A unit sphere of 2 × around × around/2 triangles.
PolysetGeometry sphere(int around) {
    auto mesh = std::make_shared<PolysetMesh>();
    const int rings = around / 2;
    for (int r = 0; r <= rings; ++r)
        for (int k = 0; k < around; ++k) {
            const double theta = M_PI * r / rings, phi = 2 * M_PI * k / around;
            PolysetVertex v;
            v.position[0] = v.normal[0] = std::sin(theta) * std::cos(phi);
            v.position[1] = v.normal[1] = std::cos(theta);
            v.position[2] = v.normal[2] = std::sin(theta) * std::sin(phi);
            v.has_normal = true;
            mesh->add_vertex(v);
            mesh->add_texture_vertex(static_cast<double>(k) / around,
                                     static_cast<double>(r) / rings);
        }
    for (int r = 0; r < rings; ++r)
        for (int k = 0; k < around; ++k) {
            const int a = r * around + k, b = r * around + (k + 1) % around;
            PolysetPolygon p, q;
            p.vertices = {a, a + around, b + around};
            q.vertices = {a, b + around, b};
            p.texture_vertices = p.vertices;
            q.texture_vertices = q.vertices;
            mesh->add_polygon(p);
            mesh->add_polygon(q);
        }
    PolysetGeometry g;
    g.type = SDL_POLYSET;
    g.mesh = mesh;
    return g;
}

// A Noise texture evaluated for the frame, for textured heights.
const AR_TextureInfo* noise() {
    install_texture_hooks();
    install_shading_hooks();
    reset_front_end();
    parse_scene_text(
        "DEFINITION\nshader s (model = lambert, displacement = environment (procedure = Noise,"
        " amult = 0.1));\nMODEL\n");
    const Body* body = static_cast<ObjectValue*>(find_symbol("s")->value)->body;
    auto* shader = static_cast<RR_Shader*>(const_cast<void*>(body->definition));
    if (shader == nullptr) return nullptr;
    Rr_evaluate_shader(*shader);
    return shader->info->displacement.texture;
}

void tessellate(benchmark::State& state, const Displacement* displacement) {
    const PolysetGeometry g = sphere(static_cast<int>(state.range(0)));
    test::CountingSink counted;
    TransformValue placement;
    for (auto _ : state) {
        if (displacement) {
            DisplacingSink sink(*displacement, placement, counted);
            tessellate_polyset(g, "sphere", sink);
        } else {
            tessellate_polyset(g, "sphere", counted);
        }
    }
    benchmark::DoNotOptimize(counted.checksum);
    state.counters["triangles"] =
        benchmark::Counter(static_cast<double>(counted.count), benchmark::Counter::kIsRate);
}

// 2 × 316 × 158 = 99 856 triangles.
constexpr int kAround = 316;

void BM_SpherePlain(benchmark::State& state) {
    tessellate(state, nullptr);
}
BENCHMARK(BM_SpherePlain)->Arg(kAround)->Unit(benchmark::kMillisecond);

void BM_SphereDisplacedConstant(benchmark::State& state) {
    Displacement d;
    d.constant = 0.1f;
    d.limit = 0.1f;
    tessellate(state, &d);
}
BENCHMARK(BM_SphereDisplacedConstant)->Arg(kAround)->Unit(benchmark::kMillisecond);

void BM_SphereDisplacedNoise(benchmark::State& state) {
    Displacement d;
    d.texture = noise();
    d.limit = 1.0f;
    if (d.texture == nullptr) state.SkipWithError("no texture");
    tessellate(state, &d);
}
BENCHMARK(BM_SphereDisplacedNoise)->Arg(kAround)->Unit(benchmark::kMillisecond);

void BM_LightProbePrecompute(benchmark::State& state) {
    LightProbe probe;
    probe.width = 1024;
    probe.height = 512;
    probe.rgb.resize(3 * 1024 * 512);
    for (std::size_t i = 0; i < probe.rgb.size(); ++i)
        probe.rgb[i] = static_cast<float>((i * 2654435761u) % 1000) / 1000.0f;
    for (auto _ : state) {
        use_light_probe(probe);
        want_specular_map(20);
    }
    reset_image_lighting();
}
BENCHMARK(BM_LightProbePrecompute)->Unit(benchmark::kMillisecond);

void BM_FilletThreeBlends(benchmark::State& state) {
    const FilletSequences sequences = test::three_pairs(false);
    for (auto _ : state) benchmark::DoNotOptimize(multi_fillet(sequences));
}
BENCHMARK(BM_FilletThreeBlends)->Unit(benchmark::kMillisecond);

}  // namespace
