// The objects declared geometry variables stand for, made again after each
// walk of the scene (docs/architecture.md, the scene hooks).
#include "geometry/declared_geometry.h"

#include <memory>
#include <unordered_map>
#include <vector>

#include "scene/scene_hooks.h"
#include "scene/scene_objects.h"
#include "sdl/expr.h"
#include "sdl/symbols.h"
#include "sdl/types.h"

namespace sky {
namespace {

struct Declared {
    // Per declared body: the object the walk made first from its variable,
    // or null and the variable, evaluated when first asked for.
    struct Entry {
        const RenderObject* placed = nullptr;
        Symbol* variable = nullptr;
    };
    std::unordered_map<const Body*, Entry> by_body;
    // The unplaced variables' objects evaluated in this evaluation; not in
    // the frame's list, so nothing renders them.
    std::vector<std::unique_ptr<RenderObject>> unplaced;
};

Declared& declared() {
    static Declared state;
    return state;
}

void release_unplaced() {
    SceneHooks& hooks = scene_hooks();
    for (auto& object : declared().unplaced)
        if (hooks.release_geometry) hooks.release_geometry(*object);
    declared().unplaced.clear();
}

std::unique_ptr<RenderObject> evaluate_unplaced(Symbol& symbol) {
    SceneHooks& hooks = scene_hooks();
    auto object = std::make_unique<RenderObject>();
    object->type = symbol.type;
    object->definition = symbol.initialiser;
    object->variable = &symbol;
    object->name = symbol.name;
    object->moving = false;
    if (hooks.evaluate_geometry == nullptr ||
        !AR_evaluate(symbol.type, &object->value, symbol.initialiser, nullptr) ||
        object->value.body == nullptr)
        return nullptr;
    if (!hooks.evaluate_geometry(*object) || object->geometry == nullptr) {
        if (hooks.release_geometry) hooks.release_geometry(*object);
        return nullptr;
    }
    return object;
}

}  // namespace

void evaluate_declared_geometry() {
    release_unplaced();
    declared().by_body.clear();
    // The first object of each variable the walk placed, in one pass.
    std::unordered_map<const Symbol*, const RenderObject*> placed;
    ObjectList& objects = frame_objects();
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const RenderObject& object = objects[i];
        if (object.variable && object.shader_slot == 0 && object.geometry)
            placed.emplace(object.variable, &object);
    }
    for (std::int32_t type : {SDL_PATCH, SDL_FACE, SDL_POLYSET}) {
        for_each_declared(type, [&](Symbol& symbol) {
            const auto* value = static_cast<const ObjectValue*>(symbol.value);
            if (value == nullptr || value->body == nullptr) return;
            auto it = placed.find(&symbol);
            declared().by_body[value->body] = {it == placed.end() ? nullptr : it->second, &symbol};
        });
    }
}

const RenderObject* declared_object(const Body* body) {
    auto it = declared().by_body.find(body);
    if (it == declared().by_body.end()) return nullptr;
    Declared::Entry& entry = it->second;
    // An unplaced variable is evaluated only when something reads it: a
    // declaration nothing uses costs nothing and cannot end the run.
    if (entry.placed == nullptr && entry.variable != nullptr) {
        if (std::unique_ptr<RenderObject> made = evaluate_unplaced(*entry.variable)) {
            entry.placed = made.get();
            declared().unplaced.push_back(std::move(made));
        }
        entry.variable = nullptr;  // asked once per evaluation
    }
    return entry.placed;
}

}  // namespace sky
