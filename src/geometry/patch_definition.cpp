// Patch definitions: the parameters of a `patch` body sorted into fields and
// the shape of its control net checked once, when the parser finishes the
// body. A net that does not fit its degrees and knots never reaches the
// surface builder, which indexes the knots by the CV counts.
#include <cstring>

#include "geometry/fillet_command.h"
#include "geometry/geometry_definition.h"
#include "geometry/geometry_lists.h"
#include "platform/fatal.h"
#include "sdl/cluster.h"
#include "sdl/expr_internal.h"
#include "sdl/pool.h"
#include "sdl/sdl_errors.h"

namespace sky {
namespace {

bool named(const BodyItem& item, const char* name) {
    return std::strcmp(item.name, name) == 0;
}

// A row is a packed list of CVs or a list of CV expressions (literals,
// clusters, CV variables, array elements). Its CV count, or -1.
int row_length(const Expr* row) {
    if (is_packed_list(row)) {
        const PackedList* packed = packed_list(row);
        return packed->stride == 4 ? packed->count : -1;
    }
    if (!is_list(row)) return -1;
    int count = 0;
    for (const Expr* cv = list_first(row); cv; cv = cv->next, ++count)
        if (cv->type != SDL_CV && cv->type != SDL_ARRAY) return -1;
    return count;
}

// The degree a direction is given, default 1.
bool degree_of(Expr* expression, std::int32_t& degree) {
    float value = 1.0f, fallback = 1.0f;
    if (!AR_evaluate(SDL_SCALAR, &value, expression, &fallback)) return false;
    degree = truncate_to_int(value);
    return degree >= 1;
}

void check_knots(const Expr* knots, std::int32_t count, std::int32_t degree,
                 const char* direction) {
    int difference = (count + degree - 1) - list_count(knots);
    if (difference != 0)
        fatal("Wrong number of knots in %s direction (difference: %d)\n", direction, difference);
}

}  // namespace

constexpr ParameterField<CommonParameters> kCommonParameters[] = {
    {"casts_shadow", &CommonParameters::casts_shadow},
    {"active", &CommonParameters::active},
    {"shader", &CommonParameters::shader},
    {"opposite", &CommonParameters::opposite},
    {"doublesided", &CommonParameters::doublesided},
    {"light_list", &CommonParameters::light_list},
    {"clusters", &CommonParameters::clusters},
    {"motion_blur", &CommonParameters::motion_blur},
    {"reflection_only", &CommonParameters::reflection_only},
    {"particle_collisions", &CommonParameters::particle_collisions},
    {"motion_blur_texture_sample_level", &CommonParameters::motion_blur_texture_sample_level},
    {"motion_blur_shading_samples", &CommonParameters::motion_blur_shading_samples},
};

constexpr ParameterField<PatchDefinition> kPatchParameters[] = {
    {"surface_smoothness", &PatchDefinition::surface_smoothness},
    {"edge_smoothness", &PatchDefinition::edge_smoothness},
    {"displacement_detail", &PatchDefinition::displacement_detail},
    {"limit_edge_length", &PatchDefinition::limit_edge_length},
    {"max_edge_length", &PatchDefinition::max_edge_length},
    {"subdivide", &PatchDefinition::subdivide},
    {"divisions", &PatchDefinition::divisions},
    {"curvature", &PatchDefinition::curvature},
    {"uclosed", &PatchDefinition::uclosed},
    {"vclosed", &PatchDefinition::vclosed},
    {"uknots", &PatchDefinition::uknots},
    {"vknots", &PatchDefinition::vknots},
    {"udegree", &PatchDefinition::udegree},
    {"vdegree", &PatchDefinition::vdegree},
    {"cvs", &PatchDefinition::cvs},
    {"shared_edge", &PatchDefinition::shared_edge},
    {"trim_region", &PatchDefinition::trim_region},
};

bool set_common_parameter(CommonParameters& common, const BodyItem& item) {
    // Written by older modellers; means nothing here.
    if (named(item, "auto_mirror")) return true;
    return store_parameter(kCommonParameters, common, item);
}

void set_patch_parameter(PatchDefinition& definition, const BodyItem& item) {
    if (named(item, "extreference"))
        definition.external = filename_text(item.value);
    else if (!store_parameter(kPatchParameters, definition, item) &&
             !set_common_parameter(definition.common, item))
        fatal("Unknown PATCH parameter %s\n", item.name);
}

void finish_patch_definition(PatchDefinition& definition) {
    definition.valid = false;
    if (definition.external) {
        // No external surfaces come with the scenes this renderer reads.
        sdl_report_error("Missing external surface %s", definition.external);
        return;
    }
    int rows = 0, per_row = -1;
    bool shaped = for_each_item(definition.cvs, [&](const float*, Expr* row) {
        int length = row_length(row);
        if (length < 0) {
            sdl_report_error("Bad PATCH data");
            return false;
        }
        if (per_row >= 0 && length != per_row) {
            sdl_report_error("inconsistent number of v curves for this patch");
            return false;
        }
        per_row = length;
        ++rows;
        return true;
    });
    if (definition.cvs && !shaped) return;
    definition.ucount = rows;
    definition.vcount = per_row < 0 ? 0 : per_row;

    bool has_shader = list_count(definition.common.shader) > 0;
    if (!has_shader) sdl_report_error("a shader must be given");

    // The divisions are kept in the order written (the list is built in order).
    if (!degree_of(definition.udegree, definition.udegree_value) ||
        !degree_of(definition.vdegree, definition.vdegree_value)) {
        sdl_report_error("Bad PATCH data");
        return;
    }
    if (definition.ucount < definition.udegree_value + 1) fatal("not enough cvs in u direction\n");
    if (definition.vcount < definition.vdegree_value + 1) fatal("not enough cvs in v direction\n");
    check_knots(definition.uknots, definition.ucount, definition.udegree_value, "u");
    check_knots(definition.vknots, definition.vcount, definition.vdegree_value, "v");
    definition.valid = has_shader;
}

void finish_geometry_body(Body& body) {
    switch (body.type) {
        case SDL_PATCH: {
            auto* definition = sdl_pool().make<PatchDefinition>();
            for (const BodyItem& item : body.items) set_patch_parameter(*definition, item);
            finish_patch_definition(*definition);
            body.definition = definition;
            break;
        }
        case SDL_FACE: {
            auto* definition = sdl_pool().make<FaceDefinition>();
            for (const BodyItem& item : body.items) set_face_parameter(*definition, item);
            finish_face_definition(*definition);
            body.definition = definition;
            break;
        }
        case SDL_POLYSET: {
            auto* definition = sdl_pool().make<PolysetDefinition>();
            for (const BodyItem& item : body.items) set_polyset_parameter(*definition, item);
            finish_polyset_definition(*definition);
            body.definition = definition;
            break;
        }
        case SDL_COMMAND:
            finish_command_body(body);
            return;
        default:
            return;
    }
    check_cluster_names(body);
}

}  // namespace sky
