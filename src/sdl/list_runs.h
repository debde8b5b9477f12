// Runs of list items, read straight from the scanner's buffer.
//
// Big scenes are mostly long lists of constants: a polyset's vertices and
// polygons, a patch's CV rows and knots. Read token by token, every number
// costs a token, a handful of grammar reductions and a node that packing.cpp
// then folds away again. So where the parser is about to read an item of
// such a list (and only there: the parser says so, see lexer.h), the scanner
// first reads as many whole items written in the plain form as follow -
// signed numbers, the item's keyword, punctuation, blanks and newlines - and
// hands them to the grammar as one token carrying their values.
//
// A run stops before the first item it cannot read whole: one holding a
// comment, a name, an expression or a cluster, one of another form than the
// run's first, one cut by the end of the scanner's buffer, one not followed
// by a comma or the list's closing parenthesis. That item is read token by
// token as it always was, and the next run may start after it. Every value
// is the one the tokens would have given (number_text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sky {

// The shapes of the items of a packed list (packing.cpp).
enum PackShape : std::int32_t {
    PACK_SCALAR,   // numbers: stride 1
    PACK_CV,       // cv((x, y, z), w): stride 4
    PACK_ST,       // st(s, t): stride 2
    PACK_NORMAL,   // norm(x, y, z): stride 3
    PACK_COLOUR,   // color(r, g, b): stride 3
    PACK_VERTEX,   // (cv, st, norm) with st and norm optional: stride 4, 6 or 9
    PACK_POLYGON,  // polygon(...): PackedPolygons
};

// The items of one run, all of one form. The pieces of a run are read by two
// threads at once, each writing its piece's counts and array ends at every
// item: a run keeps to cache lines of its own, so that neither thread's
// writes take the other's lines away.
struct alignas(64) ListRun {
    PackShape shape = PACK_SCALAR;
    std::int32_t count = 0;   // items
    std::int32_t stride = 0;  // floats per item (not polygons)
    std::vector<float> floats;
    // Polygons: each has `index_lists` index lists (vertices, then texture
    // vertices, then normals) of sizes[i] indices each, and a shader slot
    // (-1 when none was written).
    std::int32_t index_lists = 0;
    std::vector<std::int32_t> sizes;
    std::vector<std::int32_t> indices[3];
    std::vector<std::int32_t> shaders;
    // The items that follow, when the run was read in pieces (RunPieces).
    ListRun* next = nullptr;

    void clear();
};

// The items of a run and of the pieces chained to it.
std::int32_t run_item_count(const ListRun& run);

// Reads the run of `shape` items that starts at `text` into `run`: whole
// items, separated by commas, the last followed by a comma or a closing
// parenthesis (neither is read). Returns the end of the last item, or `text`
// when there is no run; adds the newlines read to `newlines`. The text ends
// at a NUL byte (the scanner's buffer always does), which no item holds.
//
// A run of numbers has at least two: `polygon((5), 3)` is polygon 5, 3, the
// lone number in parentheses an expression rather than an index list, and
// only the grammar, token by token, can tell.
const char* scan_list_run(PackShape shape, const char* text, ListRun& run, std::int32_t& newlines);

class ParseHelper;

// A long run is read in pieces by two threads at once. split_point finds
// where a piece may start in the text from `text` to `text_end`: just after a
// comma past the middle that is followed by a whole item of `shape`, or null.
// It is only a guess (the comma may sit in a comment): a piece is joined to
// the run only when the piece before it ended exactly at its start after
// plain items and it goes on as the run does (same stride, same index
// lists); otherwise the run ends where the last piece joined ends, which is
// where one scan ends it.
const char* split_point(PackShape shape, const char* text, const char* text_end);

// At most this many pieces to a run.
inline constexpr int kRunPieces = 16;

// The pieces' arrays, kept from run to run so that their room is reused.
// A run read in pieces holds its first items itself and chains the others
// (ListRun::next) to these.
struct RunPieces {
    ListRun runs[kRunPieces];
};

// scan_list_run with the run read in two pieces, from `text` and from
// `split`, which this thread and the helper take in turn (this one alone
// when `helper` is null or cannot start). The run, the end and the newlines
// are scan_list_run's; the items may be chained over `run` and `pieces`.
const char* scan_split_list_run(PackShape shape, const char* text, const char* split, ListRun& run,
                                RunPieces& pieces, std::int32_t& newlines, ParseHelper* helper);

// Work the helper does before it takes pieces, while this thread takes the
// first ones (the scanner reads its next buffer ahead so).
struct HelperFirst {
    void (*work)(void*) = nullptr;
    void* context = nullptr;
};

// scan_list_run for a run in a long text (to `text_end`): the run is read on
// this thread until it is `sure` bytes long, and the rest in pieces of about
// `piece` bytes (at least two, at most kRunPieces), which this thread and the
// helper take in turn until none is left, so that neither waits for the
// other while there is work. Short runs - most lists of most scenes - never
// wait on the helper. When the helper takes part it runs `first` before its
// pieces; otherwise `first` is not run at all.
const char* scan_long_list_run(PackShape shape, const char* text, const char* text_end,
                               std::size_t sure, std::size_t piece, ListRun& run, RunPieces& pieces,
                               std::int32_t& newlines, ParseHelper* helper, HelperFirst first = {});

// A polygon index written as `value`: truncated toward zero; values beyond
// the int range give the most negative int, as the processor's conversion
// does, which no list has an entry for.
inline std::int32_t list_index(float value) {
    if (!(value > -2147483904.0f && value < 2147483648.0f)) return INT32_MIN;
    return static_cast<std::int32_t>(value);
}

}  // namespace sky
