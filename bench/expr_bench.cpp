// Expression evaluation: a frame-dependent arithmetic tree and an animate
// call over a keyed curve, the two shapes scene values take most often. Both
// run per object per frame, and must not allocate once warmed up.
#include <benchmark/benchmark.h>

#include "sdl/body.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"

namespace {

using namespace sky;

Expr* call(int code, Expr* a, Expr* b = nullptr) {
    a->next = b;
    return make_function(code, a, 1);
}

void BM_ScalarTree(benchmark::State& state) {
    reset_symbol_table();
    register_predefined_symbols();
    // sind(frame * 3) * 10 + fmod(frame, 7)
    Expr* tree = call(100,
                      call(102,
                           call(532, call(102, Rr_make_variable_reference("frame", 1),
                                          make_scalar_literal(3, 1))),
                           make_scalar_literal(10, 1)),
                      call(524, Rr_make_variable_reference("frame", 1), make_scalar_literal(7, 1)));
    float frame = 0;
    for (auto _ : state) {
        set_system_scalar("frame", frame += 1);
        float value = 0;
        benchmark::DoNotOptimize(evaluate_scalar(tree, value));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_ScalarTree);

void BM_AnimateCurve(benchmark::State& state) {
    reset_symbol_table();
    register_predefined_symbols();
    static Body curve;
    curve.type = SDL_PARAM_CV_CURVE;
    curve.items = {};
    Expr* first = nullptr;
    Expr* last = nullptr;
    for (int i = 0; i < state.range(0); ++i) {
        Expr* values[6] = {make_scalar_literal(i * 4, 1), make_scalar_literal(i % 5, 1),
                           make_scalar_literal(-1, 1),    make_scalar_literal(0, 1),
                           make_scalar_literal(1, 1),     make_scalar_literal(0.5, 1)};
        Expr* key = make_param_vertex(2, values, 6, 0, 1);
        if (last)
            last->next = key;
        else
            first = key;
        last = key;
    }
    append_body_item(curve, BodyItem{"cvs", make_list(first, 1), FORM_LIST, 1});
    Declare("bench_curve", SDL_PARAM_CV_CURVE, make_object(SDL_PARAM_CV_CURVE, &curve, 1));
    Expr* animate = call(540, Rr_make_variable_reference("bench_curve", 1),
                         Rr_make_variable_reference("frame", 1));
    float frame = 0;
    for (auto _ : state) {
        set_system_scalar("frame", frame = frame > 4.0f * state.range(0) ? 0 : frame + 0.5f);
        float value = 0;
        benchmark::DoNotOptimize(evaluate_scalar(animate, value));
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_AnimateCurve)->Arg(4)->Arg(64);

}  // namespace
