// Reading the lists geometry bodies are made of. The parser leaves a list
// either packed (an array of floats, `stride` per item, when every item was
// a constant) or as a list node whose items are expressions; geometry reads
// both the same way through these helpers.
#pragma once

#include "sdl/body.h"

namespace sky {

// Items in `list` (packed or node), 0 for anything else.
inline int list_count(const Expr* list) {
    if (is_packed_list(list)) return packed_list(list)->count;
    if (is_packed_polygons(list)) return packed_polygons(list)->count;
    if (is_list(list)) return list_length(list);
    return 0;
}

// Calls visit(packed floats or null, node or null) for each item in order;
// stops early when visit returns false. False when stopped or not a list;
// an absent list is empty.
template <typename Visit>
bool for_each_item(const Expr* list, Visit visit) {
    if (list == nullptr) return true;
    if (is_packed_list(list)) {
        const PackedList* packed = packed_list(list);
        for (int i = 0; i < packed->count; ++i)
            if (!visit(packed->data + static_cast<std::ptrdiff_t>(i) * packed->stride,
                       static_cast<Expr*>(nullptr)))
                return false;
        return true;
    }
    if (!is_list(list)) return false;
    for (Expr* node = list_first(list); node; node = node->next)
        if (!visit(static_cast<const float*>(nullptr), node)) return false;
    return true;
}

}  // namespace sky
