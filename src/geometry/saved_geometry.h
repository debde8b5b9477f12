// Saved geometry (-G): the triangles a tessellator hands on for an object
// whose definition does not change, recorded the first time an object of
// that definition is tessellated and replayed in later tessellations (later
// frames, later cameras, other instances) instead of running the tessellator.
//
// Records hold object-space tessellator output, not screen triangles: a
// replay goes through the same sink as a fresh tessellation, so placement,
// view, clipping and entry still follow a moved object or camera. A record
// is keyed by the object's definition and what else makes its triangles
// differ (a face's orientation sign, which turns it over; a polyset's shader
// slot), and carries a fingerprint of the evaluated geometry it was made
// from: geometry that no longer matches is tessellated afresh, never
// replayed stale.
//
// The store is a chain of memory-mapped segments of an unlinked temporary
// file under $TMPDIR (or /tmp), grown a segment at a time up to a cap. Once
// the store cannot grow, recording stops for the rest of the run; records
// already complete go on replaying.
//
// Thread safety: any worker may call Ar_save_mode and Ar_check_save. Of the
// workers that tessellate objects of one definition at once, exactly one
// records; the others tessellate normally until the record is published,
// which happens only when it is complete.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sky {

class TriangleSink;
struct GeometryCommon;
struct RenderObject;
struct SavedRecord;

enum SaveMode : int {
    kSaveOff = 0,     // tessellate as usual
    kSaveRecord = 1,  // tessellate, and record what the tessellator makes
    kSaveReplay = 2,  // replay the record; the tessellator does not run
};

struct SaveTicket {
    int mode = kSaveOff;
    SavedRecord* record = nullptr;
};

// How this tessellation of `object` goes: off unless saved geometry is on,
// the object may reuse it and its vertices do not move (`moving`).
SaveTicket Ar_save_mode(const RenderObject& object, const GeometryCommon& geometry,
                        float orientation_sign, bool moving);

// The object's tessellator, run on `context`, handing its triangles to `sink`.
using TessellateFn = bool (*)(const void* context, TriangleSink& sink);

// Runs the tessellation the ticket asks for into `sink`. Returns what the
// tessellator returned (true for a replay). A record is published only when
// the tessellator succeeded and every triangle found room in the store.
bool Ar_check_save(const SaveTicket& ticket, const char* name, TriangleSink& sink,
                   TessellateFn tessellate, const void* context);

// End of a frame: with QUORL_MEASURE_SAVE_GEOM set, prints the time spent
// recording and replaying during the frame, then starts counting again.
void saved_geometry_end_frame();

// Debug printing (QUORL_DBG_SAVE_GEOM) and timing (QUORL_MEASURE_SAVE_GEOM),
// read from the environment on first use; tests may change them.
struct SavedGeometrySwitches {
    bool debug = false;
    bool measure = false;
};
SavedGeometrySwitches& saved_geometry_switches();

// The store's segment size and cap in bytes (the segment rounded up to
// whole pages). Applies to segments mapped from now on; for tests.
void set_saved_geometry_limits(std::size_t segment_bytes, std::size_t cap_bytes);
inline constexpr std::size_t kSavedSegmentBytes = std::size_t{64} << 20;
inline constexpr std::size_t kSavedCapBytes = std::size_t{4} << 30;

struct SavedGeometryCounts {
    int segments = 0;            // segments mapped
    std::int64_t records = 0;    // complete records
    std::int64_t triangles = 0;  // triangles in complete records
    bool recording_off = false;  // the store is full or could not be made
};
SavedGeometryCounts saved_geometry_counts();

// Forgets every record and the store, and allows recording again. No
// tessellation may be running; for tests.
void reset_saved_geometry();

}  // namespace sky
