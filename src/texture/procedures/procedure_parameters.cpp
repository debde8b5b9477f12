// The routines every procedure with a parameter table shares: its
// parameters are read, checked and evaluated every frame from the table, and
// kept as written (number, colour, file name or nested texture) for its
// calculation.
#include "texture/procedures/procedure_parameters.h"

#include <cmath>

#include "platform/fatal.h"
#include "platform/report.h"
#include "sdl/pool.h"
#include "texture/texture_cache.h"

namespace sky {
namespace {

// Every value written for a row, in the order written (a ramp's colours).
struct Entries {
    int count = 0;
    ProcedureValue* values = nullptr;
};

struct ProcedureInfo {
    const ParameterTable* table;
    ProcedureValue* values;  // one per row
    Entries* entries;        // one per row
    DerivedValues derived;
};

// One write of a parameter, kept in a list beside the last expression of
// each row.
struct WrittenValue {
    int row;
    Expr* expression;
    WrittenValue* next;
};

struct ProcedureNode {
    Expr** expressions;  // one per row, null where not written
    WrittenValue* first = nullptr;
    WrittenValue* last = nullptr;
};

const ParameterTable& table_of(const AR_TextureInfo& texture) {
    return *texture.procedure->parameters;
}

}  // namespace

const ProcedureValue& procedure_value(const AR_TextureInfo& texture, int row) {
    return static_cast<const ProcedureInfo*>(texture.procedure_info)->values[row];
}

ProcedureValue& procedure_value(AR_TextureInfo& texture, int row) {
    return static_cast<ProcedureInfo*>(texture.procedure_info)->values[row];
}

DerivedValues& procedure_derived(AR_TextureInfo& texture) {
    return static_cast<ProcedureInfo*>(texture.procedure_info)->derived;
}

const DerivedValues& procedure_derived(const AR_TextureInfo& texture) {
    return static_cast<const ProcedureInfo*>(texture.procedure_info)->derived;
}

Expr* procedure_expression(const AR_TextureInfo& texture, int row) {
    return static_cast<const ProcedureNode*>(texture.node->procedure_node)->expressions[row];
}

void* alloc_procedure_node(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* node = sdl_pool().make<ProcedureNode>();
    node->expressions = static_cast<Expr**>(
        sdl_pool().allocate(sizeof(Expr*) * (table.rows.size() + 1), alignof(Expr*)));
    return node;
}

void* alloc_procedure_info(const AR_TextureInfo& texture) {
    const ParameterTable& table = table_of(texture);
    auto* info = sdl_pool().make<ProcedureInfo>();
    info->table = &table;
    std::size_t count = table.rows.size();
    info->values = sdl_pool().make_array<ProcedureValue>(count);
    info->entries = sdl_pool().make_array<Entries>(count + 1);
    return info;
}

bool parse_procedure_parameter(AR_TextureInfo& texture, void* node, const char* name, Expr* value) {
    const ParameterTable& table = table_of(texture);
    if (node == nullptr) fatal("%s", table.missing_node);
    auto& n = *static_cast<ProcedureNode*>(node);
    if (!parse_parameter(table, n.expressions, name, value)) return false;
    auto* written = sdl_pool().make<WrittenValue>();
    *written = WrittenValue{find_parameter(table.rows, name), value, nullptr};
    (n.last ? n.last->next : n.first) = written;
    n.last = written;
    return true;
}

namespace {

bool evaluate_value(const Parameter& row, Expr* expression, ProcedureValue& value) {
    value.text.clear();
    if (expression && expression->type == SDL_FILENAME) {
        value.value = TexturedValue{};
        return AR_evaluate(SDL_FILENAME, &value.text, expression, nullptr);
    }
    return evaluate_textured_value(expression, row.value, value.value);
}

// The values of every write, evaluated into lists made once (the writes do
// not change after the scene is read).
void evaluate_entries(ProcedureInfo& info, const ProcedureNode& node) {
    const ParameterTable& table = *info.table;
    if (node.first == nullptr) return;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        Entries& list = info.entries[i];
        if (list.values == nullptr) {
            int count = 0;
            for (const WrittenValue* w = node.first; w; w = w->next) count += w->row == int(i);
            if (count < 2) continue;
            list.values = sdl_pool().make_array<ProcedureValue>(static_cast<std::size_t>(count));
            list.count = count;
        }
        int k = 0;
        for (const WrittenValue* w = node.first; w; w = w->next)
            if (w->row == int(i) && !evaluate_value(table.rows[i], w->expression, list.values[k++]))
                fatal("Error in eval\n");
    }
}

}  // namespace

int procedure_entry_count(const AR_TextureInfo& texture, int row) {
    const auto& info = *static_cast<const ProcedureInfo*>(texture.procedure_info);
    int count = info.entries[row].count;
    if (count > 0) return count;
    return procedure_expression(texture, row) ? 1 : 0;
}

const ProcedureValue& procedure_entry(const AR_TextureInfo& texture, int row, int index) {
    const auto& info = *static_cast<const ProcedureInfo*>(texture.procedure_info);
    if (info.entries[row].count > 0) return info.entries[row].values[index];
    return info.values[row];
}

bool eval_procedure_parameters(AR_TextureInfo& texture) {
    if (texture.procedure_info == nullptr || texture.node == nullptr ||
        texture.node->procedure_node == nullptr) {
        rptError("Internal System Error at %d in %s, Call Support\n", __LINE__, __FILE__);
        return false;
    }
    auto& info = *static_cast<ProcedureInfo*>(texture.procedure_info);
    const auto& node = *static_cast<const ProcedureNode*>(texture.node->procedure_node);
    const ParameterTable& table = *info.table;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const Parameter& row = table.rows[i];
        ProcedureValue& value = info.values[i];
        if (!evaluate_value(row, node.expressions[i], value)) fatal("Error in eval\n");
    }
    evaluate_entries(info, node);
    return true;
}

bool init_procedure_parameters(AR_TextureInfo& texture) {
    const auto& info = *static_cast<const ProcedureInfo*>(texture.procedure_info);
    for (std::size_t i = 0; i < info.table->rows.size(); ++i) {
        if (AR_TextureInfo* nested = info.values[i].value.texture) Ar_init_texture(*nested);
        for (int k = 0; k < info.entries[i].count; ++k)
            if (AR_TextureInfo* nested = info.entries[i].values[k].value.texture)
                Ar_init_texture(*nested);
    }
    return true;
}

bool copy_procedure_parameters(AR_TextureInfo& to, const AR_TextureInfo& from) {
    const auto& source = *static_cast<const ProcedureInfo*>(from.procedure_info);
    auto& target = *static_cast<ProcedureInfo*>(to.procedure_info);
    if (source.table != target.table) return false;
    for (std::size_t i = 0; i < source.table->rows.size(); ++i) {
        target.values[i] = source.values[i];
        target.entries[i] = source.entries[i];  // the lists are the run's, shared
    }
    target.derived = source.derived;
    return true;
}

void release_procedure_parameters(AR_TextureInfo& texture) {
    // The rest is pool memory, released with the scene.
    if (texture.procedure_info == nullptr) return;
    for (auto& image : procedure_derived(texture).images) image.reset();
    procedure_derived(texture).slices.clear();
}

}  // namespace sky

namespace sky {

Triple parameter_colour(const AR_TextureInfo& texture, int row, const TextureCall& call) {
    return value_colour(procedure_value(texture, row).value, call);
}

float parameter_number(const AR_TextureInfo& texture, int row, const TextureCall& call) {
    const TexturedValue& value = procedure_value(texture, row).value;
    if (value.texture == nullptr) return value.scalar;
    TextureColour nested;
    nested.alpha = value.scalar;
    invoke_nested_texture(*value.texture, *call.at, nested);
    return nested.alpha;
}

Triple value_colour(const TexturedValue& value, const TextureCall& call) {
    if (value.texture == nullptr) return value.colour;
    TextureColour nested;
    nested.r = value.colour.x;
    nested.g = value.colour.y;
    nested.b = value.colour.z;
    invoke_nested_texture(*value.texture, *call.at, nested);
    return nested.rgb();
}

RippledPoint rippled_point(const AR_TextureInfo& texture, const TextureCall& call, int ripples,
                           int origin) {
    Triple r{parameter_scalar(texture, ripples), parameter_scalar(texture, ripples + 1),
             parameter_scalar(texture, ripples + 2)};
    Triple o;
    if (origin >= 0)
        o = Triple{parameter_scalar(texture, origin), parameter_scalar(texture, origin + 1),
                   parameter_scalar(texture, origin + 2)};
    const Triple& q = call.point;
    float stretch = std::max({std::fabs(r.x), std::fabs(r.y), std::fabs(r.z)});
    return {Triple{(q.x - o.x) * r.x, (q.y - o.y) * r.y, (q.z - o.z) * r.z},
            filter_width(texture, call) * stretch};
}

pattern::Fractal fractal_levels(const AR_TextureInfo& texture, const TextureCall& call,
                                int level_min, std::uint32_t seed) {
    return pattern::Fractal{.first = static_cast<int>(parameter_scalar(texture, level_min)),
                            .last = static_cast<int>(parameter_scalar(texture, level_min + 1)),
                            .ratio = parameter_number(texture, level_min + 2, call),
                            .base = 1.0f,
                            .seed = seed};
}

pattern::Cells cells_at(const AR_TextureInfo& texture, const TextureCall& call, int cell_size,
                        int density, int randomness, std::uint32_t seed, float& size) {
    size = std::fabs(parameter_number(texture, cell_size, call)) /
           std::max(std::fabs(parameter_number(texture, density, call)), 1e-4f);
    size = std::max(size, 1e-5f);
    const Triple& q = call.point;
    float jitter = std::clamp(parameter_number(texture, randomness, call), 0.0f, 1.0f);
    return pattern::cells3(Triple{q.x / size, q.y / size, q.z / size}, jitter, seed);
}

float cell_spot(const pattern::Cells& cells, float spread, std::uint32_t seed) {
    auto cell = static_cast<std::int32_t>(cells.id * 16777216.0f);
    return std::max(0.0f, 1.0f + spread * (pattern::unit_hash(cell, 1, 0, seed) - 0.5f));
}

float filter_width(const AR_TextureInfo& texture, const TextureCall& call) {
    float w = texture.frame.blurmult * call.filter + texture.frame.bluroffset;
    return std::isfinite(w) && w > 0.0f ? w : 0.0f;
}

bool ramp_at(const AR_TextureInfo& texture, int row, const TextureCall& call, float t,
             TextureColour& out) {
    const TexturedValue& ramp = procedure_value(texture, row).value;
    if (ramp.texture == nullptr) return false;
    TextureLookup at = *call.at;
    at.u = 0.5f;
    at.v = t;
    at.du = at.dv = 0.0f;
    return invoke_nested_texture(*ramp.texture, at, out);
}

void scalar_result(float value, TextureColour& out) {
    float v = std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
    out.r = out.g = out.b = 255.0f * v;
    out.alpha = v;
}

namespace {

// The mean of the results of `lookups` calls of the calculation, the
// lookup set up for each by `place(index, lookup)`.
template <class Place>
TextureColour mean_of(const AR_TextureInfo& texture, TextureCalculation calculation, int lookups,
                      Place place) {
    TextureLookup at;
    TextureCall call;
    call.at = &at;
    double sum[4] = {0, 0, 0, 0};
    for (int i = 0; i < lookups; ++i) {
        place(i, at);
        call.u = at.u;
        call.v = at.v;
        call.point = at.point;
        TextureColour out;
        calculation(texture, call, out);
        sum[0] += out.r;
        sum[1] += out.g;
        sum[2] += out.b;
        sum[3] += out.alpha;
    }
    TextureColour mean;
    mean.r = static_cast<float>(sum[0] / lookups);
    mean.g = static_cast<float>(sum[1] / lookups);
    mean.b = static_cast<float>(sum[2] / lookups);
    mean.alpha = static_cast<float>(sum[3] / lookups);
    return mean;
}

float cell_centre(int i, int grid) {
    return (static_cast<float>(i) + 0.5f) / static_cast<float>(grid);
}

}  // namespace

TextureColour surface_mean(const AR_TextureInfo& texture, TextureCalculation calculation,
                           int grid) {
    return mean_of(texture, calculation, grid * grid, [grid](int i, TextureLookup& at) {
        at.u = cell_centre(i % grid, grid);
        at.v = cell_centre(i / grid, grid);
    });
}

TextureColour solid_mean(const AR_TextureInfo& texture, TextureCalculation calculation, int grid) {
    return mean_of(texture, calculation, grid * grid * grid, [grid](int i, TextureLookup& at) {
        at.point = Triple{cell_centre(i % grid, grid), cell_centre(i / grid % grid, grid),
                          cell_centre(i / (grid * grid), grid)};
        at.normal = Triple{0.0f, 0.0f, 1.0f};
    });
}

void load_picture(AR_TextureInfo& texture, int row, int slot) {
    const std::string& name = procedure_value(texture, row).text;
    procedure_derived(texture).images[slot] = name.empty() ? nullptr : texture_image(name);
}

bool picture(const AR_TextureInfo& texture, int row, int slot, float u, float v, float width,
             const TextureCall& call, TextureColour& out) {
    if (!std::isfinite(u) || !std::isfinite(v) || !std::isfinite(width)) u = v = width = 0.0f;
    if (const auto& image = procedure_derived(texture).images[slot]) {
        image->lookup(u, v, width, FILTER_BLEND, out);
        return true;
    }
    if (procedure_expression(texture, row) == nullptr) return false;
    const TexturedValue& value = procedure_value(texture, row).value;
    if (value.texture) {
        TextureLookup at = *call.at;
        at.u = u;
        at.v = v;
        at.du = at.dv = width;
        if (invoke_nested_texture(*value.texture, at, out)) return true;
    }
    colour_result(value.colour, out);
    return true;
}

TextureLookup placed_lookup(const TextureCall& call) {
    TextureLookup at = *call.at;
    at.u = call.u;
    at.v = call.v;
    at.du = call.du;
    at.dv = call.dv;
    return at;
}

void fade_to_mean(const TextureColour& mean, float keep, TextureColour& out) {
    if (keep >= 1.0f) return;
    keep = std::max(keep, 0.0f);
    out.r = mean.r + keep * (out.r - mean.r);
    out.g = mean.g + keep * (out.g - mean.g);
    out.b = mean.b + keep * (out.b - mean.b);
    out.alpha = mean.alpha + keep * (out.alpha - mean.alpha);
}

void colour_result(const Triple& colour, TextureColour& out) {
    auto finite = [](float c) { return std::isfinite(c) ? c : 0.0f; };
    out.r = finite(colour.x);
    out.g = finite(colour.y);
    out.b = finite(colour.z);
    out.alpha = std::clamp((0.3f * out.r + 0.59f * out.g + 0.11f * out.b) / 255.0f, 0.0f, 1.0f);
}

}  // namespace sky
