// The output queue: rows arrive from the workers in whatever order their
// tiles finish and leave strictly top to bottom. A row whose turn it is goes
// straight on; an early one waits in the pending list, which is kept in
// descending row order so that its head is always the next candidate.
//
// Entries and their buffers are reused from camera to camera, so that once the
// list has grown to its working length no row allocates anything.
#include "output/image_output.h"

#include <cstring>
#include <new>

#include "output/output_context.h"
#include "platform/fatal.h"
#include "platform/report.h"

namespace sky {
namespace {

void pass_on(OutputContext& context, const std::uint8_t* bytes, const float* colour,
             const float* depth, const std::uint8_t* coverage) {
    if (context.filter)
        output_stages().post_filter_row(context, bytes, depth, coverage, colour, context.width,
                                        context.height);
    else
        write_row(context, bytes, colour, depth, context.width, context.height);
    --context.next_row;
}

PendingRow* take_spare(OutputContext& context) {
    PendingRow* entry = context.spare;
    if (entry != nullptr) {
        context.spare = entry->next;
    } else {
        void* block = SKY_MALLOC(sizeof(PendingRow));
        if (block == nullptr) fatal_out_of_output_memory(sizeof(PendingRow));
        entry = new (block) PendingRow;
    }
    entry->next = nullptr;
    return entry;
}

// The entry takes over the row's bytes and colours, and copies what the
// caller keeps.
void queue_row(OutputContext& context, std::int32_t row, const float* depth,
               const std::uint8_t* coverage) {
    PendingRow** link = &context.pending;
    while (*link != nullptr && (*link)->row > row) link = &(*link)->next;
    if (*link != nullptr && (*link)->row == row) {
        // The copy already waiting is the one written; a second copy would
        // push every later row of the files down by one.
        rptUser("Error, outputting the same scanline twice\n");
        return;
    }
    PendingRow* entry = take_spare(context);
    const std::size_t pixels = static_cast<std::size_t>(context.width);
    entry->row = row;
    entry->bytes.reserve(pixels * bytes_per_output_pixel(context.conversion));
    entry->bytes.swap(context.bytes);
    entry->colour.reserve(pixels * 4);
    entry->colour.swap(context.colour);
    entry->has_colour = true;
    entry->has_depth = depth != nullptr;
    if (depth != nullptr) {
        entry->depth.reserve(pixels);
        std::memcpy(entry->depth.data(), depth, pixels * sizeof(float));
    }
    entry->has_coverage = coverage != nullptr;
    if (coverage != nullptr) {
        entry->coverage.reserve(pixels * 8);
        std::memcpy(entry->coverage.data(), coverage, pixels * 8);
    }
    entry->next = *link;
    *link = entry;
}

void drain_pending(OutputContext& context) {
    while (context.pending != nullptr && context.pending->row == context.next_row) {
        PendingRow* entry = context.pending;
        context.pending = entry->next;
        pass_on(context, entry->bytes.data(), entry->colour.data(),
                entry->has_depth ? entry->depth.data() : nullptr,
                entry->has_coverage ? entry->coverage.data() : nullptr);
        entry->next = context.spare;
        context.spare = entry;
    }
}

}  // namespace

OutputContext& camera_output() {
    static OutputContext context;
    return context;
}

void output_scanline(std::int32_t y, OutputContext& context, const float* colour_row,
                     const float* depth_row, const std::uint8_t* coverage_row) {
    std::lock_guard lock(context.lock);
    SKY_CHECK(context.open);
    SKY_CHECK(y >= context.ylow && y <= context.yhigh);
    // With fields, image rows 2k and 2k + 1 above ylow are both row k of the
    // field: only one of them belongs to the field being rendered.
    const std::int32_t row = context.fields ? context.ylow + (y - context.ylow) / 2 : y;

    convert_output_row(colour_row, context.width, context.conversion, context.bytes.data(),
                       context.colour.data());
    if (row == context.next_row) {
        pass_on(context, context.bytes.data(), context.colour.data(), depth_row, coverage_row);
        drain_pending(context);
    } else if (row > context.next_row) {
        // Written already: the files hold one copy of every row.
        rptUser("Error, outputting the same scanline twice\n");
    } else {
        queue_row(context, row, depth_row, coverage_row);
    }
}

void recycle_pending_rows(OutputContext& context) {
    while (context.pending != nullptr) {
        PendingRow* entry = context.pending;
        context.pending = entry->next;
        entry->next = context.spare;
        context.spare = entry;
    }
}

OutputContext::~OutputContext() {
    release_pending_rows(*this);
    release_depth_block(*this);
}

void release_pending_rows(OutputContext& context) {
    recycle_pending_rows(context);
    while (context.spare != nullptr) {
        PendingRow* entry = context.spare;
        context.spare = entry->next;
        entry->~PendingRow();
        SKY_FREE(entry);
    }
}

}  // namespace sky
