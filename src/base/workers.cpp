// Worker count, worker start-up and the workers' loop.
//
// The main thread hands out passes, shared jobs and the stop request by
// moving the dispatch generation on; parked children wait for it to move.
// State written by the main thread (the worker count, the installed pass,
// the job) is written before the dispatch and changes only while no child
// can be reading it: a pass ends at the end barrier, a job once every child
// that joined it has left it. The dispatch mutex orders those writes before
// the children's reads, so none of it needs to be atomic.
#include "base/workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

#include "base/arena.h"
#include "base/barrier.h"
#include "base/options.h"
#include "base/tiles.h"
#include "platform/app.h"
#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {
namespace {

// Handed out one per thread; the main thread takes the first.
std::atomic<int> next_worker_index{0};
thread_local int this_worker = 0;
bool main_index_taken = false;

int count_of_workers = 1;
bool children_running = false;

enum class Order { pass, job, stop };

// Never destroyed: the children are still parked on it when the process
// exits, and destroying a condition variable that threads wait on blocks
// the exit for ever.
struct Dispatch {
    std::mutex mutex;
    std::condition_variable moved;     // the generation moved on
    std::condition_variable job_left;  // the last child left the open job
    std::uint64_t generation = 0;
    Order order = Order::pass;
    // The generation whose job children may still join (0: none), and the
    // children inside it.
    std::uint64_t open_job = 0;
    int in_job = 0;
};
Dispatch& dispatch = *new Dispatch;

RenderPass installed_pass;
std::atomic<bool> shadow_pass_flag{false};
// From handing a pass out to its end barrier; main thread only.
bool pass_running = false;
// The job of run_on_workers while it runs.
void (*shared_job)(void* context) = nullptr;
void* shared_job_context = nullptr;

// Main thread: hands `order` to the children; returns its generation.
std::uint64_t dispatch_order(Order order) {
    std::uint64_t generation;
    {
        std::lock_guard lock(dispatch.mutex);
        generation = ++dispatch.generation;
        dispatch.order = order;
        if (order == Order::job) dispatch.open_job = generation;
    }
    dispatch.moved.notify_all();
    return generation;
}

// A child's share of the job of `generation`, unless the main thread has
// finished it already: a child woken late, on a loaded machine, is not
// waited for, and must then not touch the job.
void join_job(std::uint64_t generation) {
    {
        std::lock_guard lock(dispatch.mutex);
        if (dispatch.open_job != generation) return;
        ++dispatch.in_job;
    }
    shared_job(shared_job_context);
    std::lock_guard lock(dispatch.mutex);
    if (--dispatch.in_job == 0) dispatch.job_left.notify_all();
}

void render_queued_tiles(const RenderPass& pass) {
    const ArenaId arena = tile_arena();
    while (Tile* tile = next_tile()) {
        if (pass.enter_geometry) pass.enter_geometry(*tile, pass.context);
        if (pass.render_tile) pass.render_tile(*tile, pass.context);
        if (pass.release_tile) pass.release_tile(*tile, pass.context);
        if (pass.tile_finished) pass.tile_finished();
        // Rewound, not released: the next tile needs the same blocks again.
        rewind_arena(arena);
    }
}

// `seen`: the dispatch generation when the child was started; it takes
// every order after it.
void worker_routine(WorkerInitialiser initialise, bool quiet, std::uint64_t seen) {
    this_worker = next_worker_index.fetch_add(1);
    SKY_CHECK(this_worker > 0 && this_worker < kMaxWorkers);
    if (!quiet) rptUser("%2d: child process is ALIVE\n", this_worker);
    pass_arena();
    tile_arena();
    if (initialise) initialise();

    for (;;) {
        Order order;
        {
            std::unique_lock lock(dispatch.mutex);
            dispatch.moved.wait(lock, [&] { return dispatch.generation != seen; });
            seen = dispatch.generation;
            order = dispatch.order;
        }
        if (order == Order::stop) return;
        if (order == Order::job) {
            join_job(seen);
            continue;
        }
        const RenderPass pass = installed_pass;
        const bool shadow = shadow_pass_flag.load(std::memory_order_relaxed);
        reset_scratch_pools();
        if (!shadow && pass.set_up) pass.set_up(pass.context);
        render_queued_tiles(pass);
        if (!shadow && pass.tear_down) pass.tear_down(pass.context);
        rewind_arena(pass_arena());
        barrier_wait(end_barrier(), count_of_workers);
        // The arenas keep their blocks for the next pass, as worker 0's do:
        // given back to the heap, they came back as fresh pages in every
        // pass, each growth of the thread's heap a call that stops the
        // other workers' page faults while it runs.
    }
}

// Starts the children; `threads` keeps them joinable, or they are detached
// when it is null.
void launch(std::int32_t count, WorkerInitialiser initialise, std::vector<std::thread>* threads) {
    SKY_CHECK(!children_running);
    SKY_CHECK(count >= 1 && count <= kMaxWorkers);
    if (!main_index_taken) {
        this_worker = next_worker_index.fetch_add(1);
        SKY_CHECK(this_worker == 0);
        main_index_taken = true;
    }
    SKY_CHECK(this_worker == 0);

    const bool quiet = render_options().quiet != 0;
    count_of_workers = count;
    std::uint64_t generation;
    {
        std::lock_guard lock(dispatch.mutex);
        generation = dispatch.generation;
    }
    try {
        if (threads) threads->reserve(static_cast<std::size_t>(count - 1));
        for (int i = 1; i < count; ++i) {
            std::thread child(worker_routine, initialise, quiet, generation);
            if (threads)
                threads->push_back(std::move(child));
            else
                child.detach();
        }
    } catch (const std::exception& error) {
        rptError("Skyweave cannot multi-thread:");
        rptError(" %s\n", error.what());
        run_cleanup_handlers();
        exit_process(-1);
    }
    children_running = count > 1;
    if (!quiet)
        rptUser("master process: Created %d child%s\n", count - 1, count == 2 ? "." : "ren.");
}

}  // namespace

WorkerCountDecision decide_worker_count(std::int32_t processors, int logical, int physical) {
    // Guard against a processor survey that contradicts itself (more cores
    // than logical processors, or none): there is always at least one.
    logical = std::max(logical, 1);
    physical = std::max(physical, 1);
    const std::int32_t machine = std::max((logical / physical) * physical, 1);

    std::int32_t count = machine;
    if (processors != -1) {
        if (processors < 1) {
            rptError("Error, minimum of 1 processor, you asked for %d.\n", processors);
            return {0, 1};
        }
        if (processors > machine) {
            rptError("Error, there are not %d processors, only %d.\n", processors, machine);
            return {0, 1};
        }
        count = processors;
    }
    if (count > kMaxWorkers) {
        rptError("WARNING: The maximum number of processors allowed is %d.\n", kMaxWorkers);
        rptError("%d of the %d processors on this computer will be used to render.\n", kMaxWorkers,
                 machine);
        count = kMaxWorkers;
    }
    return {count, 0};
}

std::int32_t expected_worker_count(std::int32_t processors) {
    const int logical = std::max(logical_processor_count(), 1);
    const int physical = std::max(physical_processor_count(), 1);
    const std::int32_t machine = std::max((logical / physical) * physical, 1);
    if (processors == -1) return std::min(machine, kMaxWorkers);
    if (processors < 1 || processors > machine) return 1;
    return std::min(processors, kMaxWorkers);
}

std::int32_t decide_worker_count() {
    WorkerCountDecision decision = decide_worker_count(
        render_options().processors, logical_processor_count(), physical_processor_count());
    if (decision.exit_status != 0) {
        run_cleanup_handlers();
        exit_process(decision.exit_status);
    }
    return decision.count;
}

int worker_index() {
    return this_worker;
}
int worker_count() {
    return count_of_workers;
}
bool is_master_worker() {
    return this_worker == 0;
}

void start_workers(std::int32_t count, WorkerInitialiser initialise) {
    launch(count, initialise, nullptr);
}

WorkerCrew::WorkerCrew(std::int32_t count, WorkerInitialiser initialise) {
    launch(count, initialise, &threads_);
}

WorkerCrew::~WorkerCrew() {
    if (!threads_.empty()) dispatch_order(Order::stop);
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    // The next crew's children take the same indices, and with them the
    // arenas and scratch pools these children warmed up.
    next_worker_index.store(1);
    count_of_workers = 1;
    children_running = false;
}

void install_render_pass(const RenderPass& pass) {
    installed_pass = pass;
}

void set_shadow_pass(bool on) {
    shadow_pass_flag.store(on, std::memory_order_relaxed);
}
bool in_shadow_pass() {
    return shadow_pass_flag.load(std::memory_order_relaxed);
}

void run_pass() {
    SKY_CHECK(this_worker == 0);
    const RenderPass pass = installed_pass;
    const int count = count_of_workers;
    pass_running = true;
    if (children_running) dispatch_order(Order::pass);
    const bool shadow = in_shadow_pass();
    if (!shadow && pass.set_up) pass.set_up(pass.context);
    render_queued_tiles(pass);
    if (!shadow && pass.tear_down) pass.tear_down(pass.context);
    barrier_wait(end_barrier(), count);
    pass_running = false;
}

void run_on_workers(void (*job)(void* context), void* context) {
    if (this_worker != 0 || !children_running || pass_running || shared_job != nullptr) {
        job(context);
        return;
    }
    // The children read the job once the dispatch has moved on, under the
    // mutex that orders these writes before their reads. The caller does
    // not wait for children to wake: it works on the job at once and then
    // waits only for the children that joined it, so a job the caller
    // finishes alone costs no wake-up on its path.
    shared_job = job;
    shared_job_context = context;
    dispatch_order(Order::job);
    job(context);
    {
        std::unique_lock lock(dispatch.mutex);
        dispatch.open_job = 0;
        dispatch.job_left.wait(lock, [] { return dispatch.in_job == 0; });
    }
    shared_job = nullptr;
    shared_job_context = nullptr;
}

}  // namespace sky
