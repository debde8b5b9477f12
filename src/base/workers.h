// The worker threads of a render: how many there are, which one the calling
// thread is, and the loop each of them runs pass after pass.
//
// The main thread is worker 0; the others are started once, after start-up,
// and spend their lives parked between passes, waiting for the main thread's
// next order (a pass, a shared job, or the end). A pass
// is described by a RenderPass, a record of routines that the frame loop
// installs before releasing the workers: the depth-map pass and the camera
// pass plug different routines into the same machinery. Every per-worker
// table is indexed by worker_index() and sized for kMaxWorkers.
//
// A pass from the main thread's side:
//
//     install_render_pass(pass);            // routines for this kind of pass
//     make_tiles();
//     give_tile_buffers(0, 0, worker_count());
//     queue_tiles();
//     run_pass();                           // hand out, tiles, end barrier
//     rewind_arena(pass_arena());           // the tile buffers are done with
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace sky {

struct Tile;

inline constexpr int kMaxWorkers = 512;

// --- worker count ------------------------------------------------------------

struct WorkerCountDecision {
    std::int32_t count = 1;
    int exit_status = 0;  // not 0: the run must end with this status
};

// The decision for a `processors` setting (-1: every processor) on a machine
// with the given logical and physical processor counts. Reports refusals and
// the cap on the error channel.
WorkerCountDecision decide_worker_count(std::int32_t processors, int logical, int physical);

// The decision for the render options on this machine; ends the program
// with status 1 when -n asked for an impossible count.
std::int32_t decide_worker_count();

// The count decide_worker_count() will settle on for a `processors` setting,
// known before the scene is read and without its messages: what may run
// beside the main thread until then (the parse's helper, the image module's
// loading). 1 for a count the run will refuse.
std::int32_t expected_worker_count(std::int32_t processors);

// --- worker identity ---------------------------------------------------------

// 0 on the main thread (and on any thread that is not a worker).
int worker_index();
// The workers taking part in every pass: 1 until workers are started.
int worker_count();
bool is_master_worker();

// Runs once on every child as it starts, before its first pass: where the
// per-worker state of the sampling and ray-cast stages is set up.
using WorkerInitialiser = void (*)();

// Starts worker_count − 1 children and prints the master line unless quiet.
// Once per process: the children are detached and never end; they are still
// parked, waiting for the next order, when the process exits. A thread that
// cannot be started ends the program with status −1.
void start_workers(std::int32_t count, WorkerInitialiser initialise = nullptr);

// The same workers, but ending with the crew: the destructor orders the
// children to end and joins them. For tests and
// tools that must not leave threads behind; one crew (or start_workers) at a
// time, made and destroyed on the main thread outside any pass.
class WorkerCrew {
public:
    explicit WorkerCrew(std::int32_t count, WorkerInitialiser initialise = nullptr);
    ~WorkerCrew();
    WorkerCrew(const WorkerCrew&) = delete;
    WorkerCrew& operator=(const WorkerCrew&) = delete;

private:
    std::vector<std::thread> threads_;
};

// --- render passes -----------------------------------------------------------

// The routines of one kind of pass; any of them may be null. Every worker,
// the main thread included, calls them for its own share of the pass with
// the record's context.
struct RenderPass {
    // At the start of the pass, unless in the shadow pass.
    void (*set_up)(void* context) = nullptr;
    // For each tile taken from the queue, in this order.
    void (*enter_geometry)(Tile& tile, void* context) = nullptr;
    void (*render_tile)(Tile& tile, void* context) = nullptr;
    void (*release_tile)(Tile& tile, void* context) = nullptr;
    // After the last tile, unless in the shadow pass.
    void (*tear_down)(void* context) = nullptr;
    void* context = nullptr;
    // After each tile, on the worker that rendered it (the progress display).
    void (*tile_finished)() = nullptr;
};

// Main thread, outside any pass: the workers read the record once the pass
// is handed out.
void install_render_pass(const RenderPass& pass);

// Set while the workers render depth maps: the per-pass set-up and tear-down
// of the camera render are skipped then. Main thread, outside any pass.
void set_shadow_pass(bool on);
bool in_shadow_pass();

// Worker 0's share of a pass: hands the pass to the children, then tiles until the queue
// is empty (rewinding worker 0's tile arena after each), then the end
// barrier. Returns when every worker has finished its tiles. Worker 0's
// scratch pools and pass arena are left alone: the frame loop made its
// preparations in them and resets them itself.
void run_pass();

// --- work shared outside passes ----------------------------------------------

// Main thread, outside any pass: the caller calls job(context) at once, and
// so does every child that wakes before the caller's call has returned;
// this returns when every call has. A child woken later does not call it,
// so the job must be done whole by whoever calls it (share_ranges). Called
// anywhere else (inside a pass, on a child, before the workers start) the
// calling thread runs the job alone. For work the frame does before its
// passes, such as evaluating a large mesh, that splits into independent
// pieces.
void run_on_workers(void (*job)(void* context), void* context);

// Calls run(first, last) for consecutive ranges of [0, count), each at most
// `chunk` long, on whichever worker takes it next (run_on_workers). Every
// range is run exactly once; which worker runs it must not matter.
template <typename Run>
void share_ranges(std::size_t count, std::size_t chunk, Run&& run) {
    if (count == 0) return;
    chunk = chunk == 0 ? 1 : chunk;
    struct Shared {
        Run* run;
        std::size_t count, chunk;
        std::atomic<std::size_t> next{0};
    } shared{&run, count, chunk};
    // A single range is not worth waking anybody for.
    if (count <= chunk) {
        run(std::size_t{0}, count);
        return;
    }
    run_on_workers(
        [](void* context) {
            auto& s = *static_cast<Shared*>(context);
            for (;;) {
                const std::size_t first = s.next.fetch_add(s.chunk, std::memory_order_relaxed);
                if (first >= s.count) return;
                (*s.run)(first, std::min(first + s.chunk, s.count));
            }
        },
        &shared);
}

}  // namespace sky
