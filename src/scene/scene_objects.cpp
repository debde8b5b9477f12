#include "scene/scene_objects.h"

#include "scene/scene_hooks.h"

namespace sky {

RenderObject& ObjectList::append() {
    objects_.push_back(std::make_unique<RenderObject>());
    return *objects_.back();
}

void ObjectList::clear() {
    objects_.clear();
    cursor_ = 0;
}

ObjectList& frame_objects() {
    static ObjectList objects;
    return objects;
}

std::vector<std::unique_ptr<LightEntry>>& light_list() {
    static std::vector<std::unique_ptr<LightEntry>> lights;
    return lights;
}

SceneHooks& scene_hooks() {
    static SceneHooks hooks;
    return hooks;
}

}  // namespace sky
