// The saved-geometry store and its records.
//
// A recorder takes space from the store in chunks (doubling per record, so
// a small object wastes little and a large one few extents) and writes the
// vertices straight into the mapped file; a triangle costs no heap call.
// Chunks come from the end of the newest segment under the store lock; a
// segment once mapped is never moved or unmapped during the run, so a
// published record's extents stay valid while other workers grow the store.
#include "geometry/saved_geometry.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/options.h"
#include "geometry/object_geometry.h"
#include "geometry/surface_point.h"
#include "platform/fatal.h"
#include "platform/memory.h"
#include "platform/report.h"
#include "scene/scene_objects.h"
#include "sdl/types.h"

namespace sky {

namespace {

// One vertex as the tessellator handed it. Single precision replays
// exactly: the entry sink narrows positions, normals and parameters to
// float before it does anything else with them.
struct SavedVertex {
    float position[3];
    float normal[3];
    float u, v;
    float colour[3];
    std::uint32_t has_colour;
};
static_assert(sizeof(SavedVertex) == 48);

// A run of saved vertices in one segment.
struct Extent {
    SavedVertex* first;
    std::size_t count;
};

enum RecordState : int {
    kEmpty = 0,         // nothing saved yet: the next tessellation may record
    kRecording = 1,     // one worker is recording it
    kComplete = 2,      // published: replay it
    kUnrecordable = 3,  // its tessellation failed: tessellate it as usual
};

constexpr std::size_t kFirstChunkVertices = 3 * 64;
constexpr std::size_t kLargestChunkVertices = 3 * 65536;

}  // namespace

struct SavedRecord {
    ~SavedRecord() { SKY_FREE(extents); }

    std::atomic<int> state{kEmpty};
    // Written by the recorder; read by others only once the state is
    // kComplete (published with release, read with acquire).
    std::uint64_t fingerprint = 0;
    Extent* extents = nullptr;
    std::size_t extent_count = 0;
    std::size_t extent_capacity = 0;
    std::size_t vertex_count = 0;
};

namespace {

// --- switches -----------------------------------------------------------------

SavedGeometrySwitches read_switches() {
    SavedGeometrySwitches s;
    s.debug = std::getenv("QUORL_DBG_SAVE_GEOM") != nullptr;
    s.measure = std::getenv("QUORL_MEASURE_SAVE_GEOM") != nullptr;
    return s;
}

bool debugging() {
    return saved_geometry_switches().debug;
}

// --- the store -----------------------------------------------------------------

struct Store {
    std::mutex lock;  // guards everything below but `off` and `warned`
    int fd = -1;
    std::vector<std::byte*> segments;
    std::size_t segment_bytes = kSavedSegmentBytes;  // of the segments mapped so far
    std::size_t used = 0;                            // bytes handed out of the newest segment
    std::size_t next_segment_bytes = kSavedSegmentBytes;
    std::size_t cap_bytes = kSavedCapBytes;
    std::atomic<bool> off{false};  // full, or could not be made: no more recording
    std::atomic<bool> warned{false};
};

Store& store() {
    static Store* s = new Store;  // outlives workers still replaying at exit
    return *s;
}

void turn_recording_off(Store& s) {
    s.off.store(true, std::memory_order_release);
    if (!s.warned.exchange(true))
        rptError("WARNING : Ran out of space - turning use saved geometry OFF\n");
}

// Creates the backing file: unlinked at once, so it goes with the process
// however the process ends. Store lock held.
bool InitMmappSegments(Store& s) {
    const char* dir = std::getenv("TMPDIR");
    std::string path =
        (dir && *dir ? std::string(dir) : std::string("/tmp")) + "/skyloom-saved-geometry-XXXXXX";
    const int fd = mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0) {
        rptError("SaveGeometry:mmap failed because %s\n", std::strerror(errno));
        return false;
    }
    unlink(path.c_str());
    s.fd = fd;
    s.segment_bytes = s.next_segment_bytes;
    s.segments.reserve(std::max<std::size_t>(1, s.cap_bytes / s.segment_bytes));
    if (debugging()) rptError("SaveGeometry: store opened in %s\n", path.c_str());
    return true;
}

// Maps one more segment. The blocks are allocated before the mapping is
// written, so a full disk is a message here and not a bus error later.
// Store lock held.
bool grow(Store& s) {
    if (s.fd < 0 && !InitMmappSegments(s)) return false;
    const std::size_t offset = s.segments.size() * s.segment_bytes;
    if (offset + s.segment_bytes > s.cap_bytes) return false;
    const int failed =
        posix_fallocate(s.fd, static_cast<off_t>(offset), static_cast<off_t>(s.segment_bytes));
    if (failed != 0) {
        rptError("SaveGeometry:grow mmap backing store fails because %s\n", std::strerror(failed));
        return false;
    }
    void* mapped = mmap(nullptr, s.segment_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd,
                        static_cast<off_t>(offset));
    if (mapped == MAP_FAILED) {
        rptError("SaveGeometry:mmap failed because %s\n", std::strerror(errno));
        return false;
    }
    s.segments.push_back(static_cast<std::byte*>(mapped));
    s.used = 0;
    if (debugging())
        rptError("SaveGeometry: segment %zu mapped, %zu bytes\n", s.segments.size(),
                 s.segment_bytes);
    return true;
}

struct Space {
    SavedVertex* first = nullptr;
    std::size_t count = 0;
};

// Room for up to `wanted` vertices (at least one), or none when the store
// is full; the first failure to grow turns recording off.
Space take_space(std::size_t wanted) {
    Store& s = store();
    std::lock_guard hold(s.lock);
    if (s.off.load(std::memory_order_acquire)) return {};
    if (s.segments.empty() || s.segment_bytes - s.used < sizeof(SavedVertex)) {
        if (!grow(s)) {
            turn_recording_off(s);
            return {};
        }
    }
    const std::size_t count = std::min(wanted, (s.segment_bytes - s.used) / sizeof(SavedVertex));
    auto* first = reinterpret_cast<SavedVertex*>(s.segments.back() + s.used);
    s.used += count * sizeof(SavedVertex);
    return {first, count};
}

// Returns the unused end of a chunk when nobody has taken space after it.
void give_back(SavedVertex* first_unused, std::size_t count) {
    if (count == 0) return;
    Store& s = store();
    std::lock_guard hold(s.lock);
    if (s.segments.empty()) return;
    auto* end = reinterpret_cast<SavedVertex*>(s.segments.back() + s.used);
    if (first_unused + count == end) s.used -= count * sizeof(SavedVertex);
}

// --- records -------------------------------------------------------------------

struct RecordKey {
    const void* definition;
    std::int32_t variant;  // a face's orientation sign, a polyset's shader slot
    bool operator==(const RecordKey&) const = default;
};

struct RecordKeyHash {
    std::size_t operator()(const RecordKey& k) const {
        return std::hash<const void*>()(k.definition) ^
               (static_cast<std::size_t>(static_cast<std::uint32_t>(k.variant)) *
                0x9e3779b97f4a7c15u);
    }
};

struct Records {
    std::mutex lock;
    std::unordered_map<RecordKey, std::unique_ptr<SavedRecord>, RecordKeyHash> by_key;
};

Records& records() {
    static Records* r = new Records;
    return *r;
}

SavedRecord* find_or_add(const RecordKey& key) {
    Records& r = records();
    std::lock_guard hold(r.lock);
    std::unique_ptr<SavedRecord>& slot = r.by_key[key];
    if (!slot) {
        slot.reset(new (std::nothrow) SavedRecord);
        if (!slot) {
            r.by_key.erase(key);
            rptError("There is not enough memory\n");
            return nullptr;
        }
    }
    return slot.get();
}

// --- fingerprints --------------------------------------------------------------

// A hash of the evaluated geometry the tessellator reads: cheap beside the
// tessellation it may save.
class Fingerprint {
public:
    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (; size >= 8; size -= 8, p += 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            mix(word);
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, p, size);
        mix(tail ^ (static_cast<std::uint64_t>(size) << 56));
    }
    template <typename T>
    void value(const T& v) {
        bytes(&v, sizeof v);
    }
    template <typename T>
    void values(const std::vector<T>& v) {
        value(v.size());
        if (!v.empty()) bytes(v.data(), v.size() * sizeof(T));
    }
    void values(const IndexSpan& v) {
        value(v.size());
        if (!v.empty()) bytes(v.begin(), v.size() * sizeof(std::int32_t));
    }
    // Float records as the arrays of doubles they once were.
    void records(const MeshRecords<float>& v, int size) {
        value(v.size());
        std::vector<double> wide;
        wide.reserve(v.size() * static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < v.size(); ++i) wide.insert(wide.end(), v[i], v[i] + size);
        if (!wide.empty()) bytes(wide.data(), wide.size() * sizeof(double));
    }
    std::uint64_t result() const { return hash_; }

private:
    void mix(std::uint64_t word) {
        hash_ ^= word;
        hash_ *= 0x100000001b3u;
        hash_ ^= hash_ >> 29;
    }
    std::uint64_t hash_ = 0xcbf29ce484222325u;
};

void add_curve(Fingerprint& f, const NurbsCurve& c) {
    f.value(c.degree);
    f.value(c.form);
    f.values(c.knots);
    f.values(c.cvs);
}

std::uint64_t fingerprint_of(std::int32_t type, const GeometryCommon& geometry) {
    Fingerprint f;
    f.value(type);
    switch (type) {
        case SDL_PATCH: {
            const auto& p = static_cast<const PatchGeometry&>(geometry);
            const NurbsSurface& s = p.surface;
            for (std::int32_t v : {s.udegree, s.vdegree, s.ucount, s.vcount, s.uform, s.vform})
                f.value(v);
            f.values(s.uknots);
            f.values(s.vknots);
            f.values(s.cvs);
            f.value(p.trims.size());
            for (const TrimRegion& region : p.trims) {
                f.value(region.loops.size());
                for (const TrimLoop& loop : region.loops) f.values(loop.points);
            }
            f.value(p.tessellator_path);
            f.value(p.adaptive);
            f.value(p.limit_edge_length);
            for (std::int32_t v : {p.udivisions, p.vdivisions, p.displacement_detail, p.fixed_grid})
                f.value(v);
            for (float v : {p.curvature, p.surface_smoothness, p.max_edge_length}) f.value(v);
            break;
        }
        case SDL_FACE: {
            const auto& face = static_cast<const FaceGeometry&>(geometry);
            f.value(face.divisions);
            f.value(face.boundaries.size());
            for (const NurbsCurve& c : face.boundaries) add_curve(f, c);
            break;
        }
        case SDL_POLYSET: {
            const auto& polyset = static_cast<const PolysetGeometry&>(geometry);
            f.value(polyset.shader_slot);
            if (const PolysetMesh* mesh = polyset.mesh.get()) {
                // Field by field, in double precision as the key always was.
                f.value(mesh->vertex_count());
                for (std::size_t i = 0; i < mesh->vertex_count(); ++i) {
                    const PolysetVertex v = mesh->vertex(i);
                    f.bytes(v.position, sizeof v.position);
                    f.bytes(v.colour, sizeof v.colour);
                    f.bytes(v.normal, sizeof v.normal);
                    f.value(static_cast<std::uint8_t>(v.has_colour | v.has_normal << 1));
                }
                f.records(mesh->texture_vertices, 2);
                f.records(mesh->normals, 3);
                f.value(mesh->polygon_count);
                for (std::size_t k = 0; k < mesh->polygon_count; ++k) {
                    const PolygonView polygon = mesh->polygon(k);
                    f.value(polygon.shader);
                    f.values(polygon.vertices);
                    f.values(polygon.texture_vertices);
                    f.values(polygon.normals);
                }
            }
            break;
        }
        default:
            break;
    }
    return f.result();
}

// --- timing --------------------------------------------------------------------

struct Timing {
    std::atomic<std::int64_t> record_ns{0}, replay_ns{0};
    std::atomic<std::int32_t> recorded{0}, replayed{0};
};

Timing& timing() {
    static Timing t;
    return t;
}

class Measure {
public:
    Measure(std::atomic<std::int64_t>& total, std::atomic<std::int32_t>& count)
        : total_(total), count_(count), on_(saved_geometry_switches().measure) {
        if (on_) started_ = std::chrono::steady_clock::now();
    }
    ~Measure() {
        if (!on_) return;
        const auto spent = std::chrono::steady_clock::now() - started_;
        total_.fetch_add(std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count(),
                         std::memory_order_relaxed);
        count_.fetch_add(1, std::memory_order_relaxed);
    }

private:
    std::atomic<std::int64_t>& total_;
    std::atomic<std::int32_t>& count_;
    bool on_;
    std::chrono::steady_clock::time_point started_;
};

// --- recording and replay ------------------------------------------------------

// Passes each triangle on to the entry sink and saves it.
class GeometryRecorder final : public TriangleSink {
public:
    GeometryRecorder(SavedRecord& record, TriangleSink& target)
        : record_(record), target_(target) {}

    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        target_.add_triangle(a, b, c);
        if (!failed_) Ar_save_geometry(a, b, c);
    }

    // Publishes the record, or lets it go: a failed tessellation is not
    // tried again (the definition does not change), a record that found no
    // room may be when room is found.
    void finish(bool tessellated, const char* name) {
        give_back(next_, left_);
        SavedRecord& r = record_;
        if (tessellated && !failed_) {
            r.vertex_count = saved_;
            if (debugging())
                rptError("SaveGeometry: recorded %s, %zu triangles\n", name, saved_ / 3);
            r.state.store(kComplete, std::memory_order_release);
            r.state.notify_all();
            return;
        }
        SKY_FREE(r.extents);
        r.extents = nullptr;
        r.extent_count = r.extent_capacity = 0;
        if (debugging())
            rptError("SaveGeometry: nothing recorded for %s (%s)\n", name,
                     tessellated ? "no room" : "tessellation failed");
        r.state.store(tessellated ? kEmpty : kUnrecordable, std::memory_order_release);
        r.state.notify_all();
    }

private:
    void Ar_save_geometry(const SurfacePoint& a, const SurfacePoint& b, const SurfacePoint& c) {
        const SurfacePoint* corners[3] = {&a, &b, &c};
        for (int i = 0; i < 3; ++i) {
            if (ar_save_vertex(*corners[i]) == nullptr) {
                if (debugging()) rptError("ar_save_vertex(v%d.. returns NULL\n", i);
                failed_ = true;
                return;
            }
        }
    }

    SavedVertex* ar_save_vertex(const SurfacePoint& p) {
        if (left_ == 0 && !take_chunk()) return nullptr;
        SavedVertex* v = next_++;
        --left_;
        for (int k = 0; k < 3; ++k) {
            v->position[k] = static_cast<float>(p.position[k]);
            v->normal[k] = static_cast<float>(p.normal[k]);
            v->colour[k] = p.colour[k];
        }
        v->u = static_cast<float>(p.u);
        v->v = static_cast<float>(p.v);
        v->has_colour = p.has_colour ? 1 : 0;
        ++record_.extents[record_.extent_count - 1].count;
        ++saved_;
        return v;
    }

    bool take_chunk() {
        const Space space = take_space(chunk_);
        if (space.count == 0) return false;
        chunk_ = std::min(chunk_ * 2, kLargestChunkVertices);
        SavedRecord& r = record_;
        if (r.extent_count > 0) {
            Extent& last = r.extents[r.extent_count - 1];
            if (last.first + last.count == space.first) {
                next_ = space.first, left_ = space.count;
                return true;
            }
        }
        if (r.extent_count == r.extent_capacity) {
            const std::size_t capacity = r.extent_capacity ? 2 * r.extent_capacity : 8;
            void* grown = SKY_REALLOC(r.extents, capacity * sizeof(Extent));
            if (grown == nullptr) {
                rptError("There is not enough memory\n");
                give_back(space.first, space.count);
                return false;
            }
            r.extents = static_cast<Extent*>(grown);
            r.extent_capacity = capacity;
        }
        r.extents[r.extent_count++] = Extent{space.first, 0};
        next_ = space.first, left_ = space.count;
        return true;
    }

    SavedRecord& record_;
    TriangleSink& target_;
    SavedVertex* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t chunk_ = kFirstChunkVertices;
    std::size_t saved_ = 0;
    bool failed_ = false;
};

// Hands the record's triangles to the sink in the order they were made.
std::size_t Ar_output_geometry(const SavedRecord& record, TriangleSink& sink) {
    SurfacePoint corner[3];
    int k = 0;
    std::size_t made = 0;
    for (std::size_t e = 0; e < record.extent_count; ++e) {
        const Extent& extent = record.extents[e];
        for (const SavedVertex* v = extent.first; v != extent.first + extent.count; ++v) {
            SurfacePoint& p = corner[k];
            for (int i = 0; i < 3; ++i) {
                p.position[i] = v->position[i];
                p.normal[i] = v->normal[i];
                p.colour[i] = v->colour[i];
            }
            p.u = v->u;
            p.v = v->v;
            p.has_colour = v->has_colour != 0;
            if (++k == 3) {
                sink.add_triangle(corner[0], corner[1], corner[2]);
                k = 0;
                ++made;
            }
        }
    }
    return made;
}

}  // namespace

SavedGeometrySwitches& saved_geometry_switches() {
    static SavedGeometrySwitches switches = read_switches();
    return switches;
}

SaveTicket Ar_save_mode(const RenderObject& object, const GeometryCommon& geometry,
                        float orientation_sign, bool moving) {
    // The body holds the geometry's definition and is shared by every
    // instance of a variable; the statement's own expression is not.
    const void* definition = object.value.body ? static_cast<const void*>(object.value.body)
                                               : static_cast<const void*>(object.definition);
    if (!render_options().saved_geometry || !object.saved_geometry ||
        !geometry.saved_geometry_allowed || moving || definition == nullptr)
        return {};
    RecordKey key{definition, 0};
    if (object.type == SDL_FACE) key.variant = orientation_sign < 0 ? -1 : 1;
    if (object.type == SDL_POLYSET)
        key.variant = static_cast<const PolysetGeometry&>(geometry).shader_slot;
    SavedRecord* record = find_or_add(key);
    if (record == nullptr) return {};

    int state = record->state.load(std::memory_order_acquire);
    for (;;) {
        // Another instance of the definition is being recorded by another
        // worker: its record is moments away, and taking it makes what a
        // frame does independent of which worker got there first.
        if (state == kRecording) {
            record->state.wait(kRecording, std::memory_order_acquire);
            state = record->state.load(std::memory_order_acquire);
            continue;
        }
        if (state != kEmpty || store().off.load(std::memory_order_acquire)) break;
        if (record->state.compare_exchange_strong(state, kRecording, std::memory_order_acq_rel)) {
            record->fingerprint = fingerprint_of(object.type, geometry);
            return {kSaveRecord, record};
        }
    }
    if (state == kComplete && record->fingerprint == fingerprint_of(object.type, geometry))
        return {kSaveReplay, record};
    return {};
}

bool Ar_check_save(const SaveTicket& ticket, const char* name, TriangleSink& sink,
                   TessellateFn tessellate, const void* context) {
    name = name ? name : "";
    switch (ticket.mode) {
        case kSaveOff:
            return tessellate(context, sink);
        case kSaveRecord: {
            Measure measure(timing().record_ns, timing().recorded);
            if (debugging()) rptError("SaveGeometry: recording %s\n", name);
            GeometryRecorder recorder(*ticket.record, sink);
            const bool made = tessellate(context, recorder);
            recorder.finish(made, name);
            return made;
        }
        case kSaveReplay: {
            Measure measure(timing().replay_ns, timing().replayed);
            const std::size_t made = Ar_output_geometry(*ticket.record, sink);
            if (debugging()) rptError("SaveGeometry: replayed %s, %zu triangles\n", name, made);
            return true;
        }
        default:
            fatal("Ar_check_save: Unknown save mode, logical error.");
    }
}

void saved_geometry_end_frame() {
    if (!saved_geometry_switches().measure) return;
    Timing& t = timing();
    const std::int32_t recorded = t.recorded.exchange(0), replayed = t.replayed.exchange(0);
    const std::int64_t record_ns = t.record_ns.exchange(0), replay_ns = t.replay_ns.exchange(0);
    if (!render_options().saved_geometry && recorded == 0 && replayed == 0) return;
    rptUser(
        "SaveGeometry: recording %d objects took %.6f seconds, replaying %d objects took %.6f "
        "seconds\n",
        recorded, static_cast<double>(record_ns) * 1e-9, replayed,
        static_cast<double>(replay_ns) * 1e-9);
}

void set_saved_geometry_limits(std::size_t segment_bytes, std::size_t cap_bytes) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    Store& s = store();
    std::lock_guard hold(s.lock);
    s.next_segment_bytes = std::max(page, (segment_bytes + page - 1) / page * page);
    s.cap_bytes = cap_bytes;
}

SavedGeometryCounts saved_geometry_counts() {
    SavedGeometryCounts counts;
    {
        Store& s = store();
        std::lock_guard hold(s.lock);
        counts.segments = static_cast<int>(s.segments.size());
        counts.recording_off = s.off.load();
    }
    Records& r = records();
    std::lock_guard hold(r.lock);
    for (const auto& [key, record] : r.by_key) {
        if (record->state.load(std::memory_order_acquire) != kComplete) continue;
        ++counts.records;
        counts.triangles += static_cast<std::int64_t>(record->vertex_count / 3);
    }
    return counts;
}

void reset_saved_geometry() {
    {
        Records& r = records();
        std::lock_guard hold(r.lock);
        r.by_key.clear();
    }
    Store& s = store();
    std::lock_guard hold(s.lock);
    for (std::byte* segment : s.segments) munmap(segment, s.segment_bytes);
    s.segments.clear();
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
    s.used = 0;
    s.off.store(false);
    s.warned.store(false);
}

}  // namespace sky
