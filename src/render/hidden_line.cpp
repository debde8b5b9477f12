// Hidden-line drawing: the lattice of first hits, the cells edges cross,
// and the fills and lines of each pixel (see hidden_line.h).
#include "render/hidden_line.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/options.h"
#include "base/tiles.h"
#include "base/vecmath.h"
#include "geometry/nurbs_ops.h"
#include "geometry/object_geometry.h"
#include "platform/report.h"
#include "render/background.h"
#include "render/caster_state.h"
#include "render/sample_internal.h"
#include "scene/scene_objects.h"
#include "sdl/environment.h"
#include "sdl/expr.h"
#include "sdl/types.h"
#include "shading/shader.h"

namespace sky {
namespace {

// How an object is drawn.
struct Look {
    bool filled = false;  // with `fill`; otherwise with the background
    float fill[3] = {0.0f, 0.0f, 0.0f};
    // Isoparametric lines inside a patch, and its parameter ranges.
    std::int32_t lines_u = 0, lines_v = 0;
    double u0 = 0.0, u_span = 1.0, v0 = 0.0, v_span = 1.0;
    // Patches are smooth: their tessellation's facets must not draw, so
    // creases compare the interpolated normals. Faces and polysets are
    // their polygons: the facets' own normals.
    bool smooth = false;
    std::int32_t width = 1;  // of the lines where this surface meets another
};

// The cells a line around a crossed cell covers: per row offset dy from
// -reach to reach (target row minus crossed row), the column offsets from
// `low` to `high` (none when low > high).
struct KernelRow {
    std::int32_t low, high;
};

// Written on the main thread before the tiles, only read by the workers.
std::vector<Look> looks;
float line_colour[3] = {0.0f, 0.0f, 0.0f};
std::int32_t widest = 1;
int cells_per_pixel = 1;
// kernels[w] for each width w up to the widest.
std::vector<std::vector<KernelRow>> kernels;

// Said once per run.
bool warned_invisible = false;
bool warned_too_wide = false;

// Cells across a pixel: half pixels with anti-aliasing (the sample
// nodes' `aa_max` is then 1).
inline int cells_in_pixel() {
    return render_options().aalevelmax > 0 ? 2 : 1;
}

// How many cells beyond the crossed one a line of `width` pixels reaches.
// With half-pixel cells even the thinnest line reaches into the
// neighbouring cells: a line one cell wide would be drawn at half strength.
inline int reach_of(std::int32_t width, int s) {
    return s == 1 ? width / 2 : width;
}

// Lattice rows around a pixel row: its own s + 1 and the reach of the
// widest line on either side.
inline int lattice_rows_for(int s) {
    return s + 2 * reach_of(widest, s) + 1;
}
constexpr int kMaxLatticeRows = 2 + 2 * kMaxLineWidth + 1;

// Whether the cell (dx, dy) away from a crossed cell is inside the line:
// its centre within the disc of the line's diameter, in half cells so that
// the test stays in integers. Without anti-aliasing an even width centres
// its disc on the crossed pixel's lower left corner.
bool in_kernel(std::int32_t width, int s, std::int32_t dx, std::int32_t dy) {
    const std::int64_t diameter = s == 1 ? width : 2 * std::int64_t{width};
    const std::int64_t shift = s == 1 && width % 2 == 0 ? 1 : 0;
    const std::int64_t qx = 2 * std::int64_t{dx} + shift, qy = 2 * std::int64_t{dy} + shift;
    return qx * qx + qy * qy <= diameter * diameter;
}

void make_kernels(int s) {
    kernels.assign(static_cast<std::size_t>(widest) + 1, {});
    for (std::int32_t w = 1; w <= widest; ++w) {
        const int reach = reach_of(w, s);
        std::vector<KernelRow>& rows = kernels[static_cast<std::size_t>(w)];
        for (int dy = -reach; dy <= reach; ++dy) {
            KernelRow row{1, 0};
            for (int dx = -reach; dx <= reach; ++dx) {
                if (!in_kernel(w, s, dx, dy)) continue;
                row.low = std::min(row.low, dx);
                row.high = std::max(row.high, dx);
                if (row.low > row.high) row.low = row.high = dx;
            }
            rows.push_back(row);
        }
    }
}

// A line width as a shader or the environment gives it: anything below two
// is the thinnest line.
std::int32_t line_width(double value) {
    if (!(value >= 2.0)) return 1;
    return static_cast<std::int32_t>(std::min(value, 1e9));
}

float global_switch() {
    const EnvironmentSettings& env = environment();
    float from_global = 0.0f;
    if (env.hline_from_global &&
        !AR_evaluate(SDL_SCALAR, &from_global, env.hline_from_global, nullptr))
        from_global = 0.0f;
    return from_global;
}

std::int32_t asked_width(const AR_ShaderInfo* shader, float from_global) {
    if (from_global != 0.0f || shader == nullptr) return line_width(environment().hline_line_width);
    return line_width(shader->param[SHADER_HL_LINE_WIDTH]);
}

// The parameter range the tessellation's u and v run over: that of the
// surface as it is built, a closed direction wrapped.
void set_lines(const RenderObject& object, Look& look, std::int32_t lines_u, std::int32_t lines_v) {
    if (object.type != SDL_PATCH) return;
    look.smooth = true;
    const auto* patch =
        dynamic_cast<const PatchGeometry*>(static_cast<const GeometryCommon*>(object.geometry));
    if (patch == nullptr) return;
    look.lines_u = std::max(lines_u, 0);
    look.lines_v = std::max(lines_v, 0);
    if (look.lines_u == 0 && look.lines_v == 0) return;
    BuiltSurface built;
    if (!build_surface(patch->surface, built)) return;
    look.u0 = built.umin(), look.v0 = built.vmin();
    if (built.umax() > built.umin()) look.u_span = built.umax() - built.umin();
    if (built.vmax() > built.vmin()) look.v_span = built.vmax() - built.vmin();
}

// A colour channel as the rows hold it; what is not a number draws black.
float channel(float value) {
    return std::isfinite(value) ? std::clamp(value, 0.0f, 255.0f) : 0.0f;
}

// A shader's count of lines, whatever number it evaluated to.
std::int32_t line_count(float value) {
    if (!(value > 0.0f)) return 0;
    return static_cast<std::int32_t>(std::min(value, 1e9f));
}

inline std::int32_t band(float value, double start, double span, std::int32_t lines) {
    if (lines <= 0) return 0;
    const double at = std::floor((value - start) / span * (static_cast<double>(lines) + 1.0));
    return static_cast<std::int32_t>(std::clamp(at, 0.0, static_cast<double>(lines)));
}

// Eye distance of the screen depth `depth` seen at (x, y), as the samples
// measure it.
double hit_distance(const CasterCamera& cam, double x, double y, float depth) {
    if (!cam.perspective) return -static_cast<double>(depth);
    double d = depth - cam.depth_scale;
    if (d == 0.0) d = 1e-30;
    const double axial = -cam.depth_offset / d;
    if (cam.axial_depth) return axial;
    float origin[3], direction[3];
    eye_ray(cam, x, y, origin, direction);
    const double along = std::fabs(static_cast<double>(direction[2]));
    if (along == 0.0) return axial;
    return axial * std::sqrt(static_cast<double>(dot3(direction, direction))) / along;
}

// What the eye ray through (x, y) meets first. Moving triangles are seen
// where they are at the frame time.
void look_at(const CasterCamera& cam, const BucketGrid& grid, double x, double y,
             EdgeRecord& record) {
    record = EdgeRecord{};
    const auto fx = static_cast<float>(x), fy = static_cast<float>(y);
    const ScreenTriangle* nearest = nullptr;
    TriangleHit best{};
    float cut = -1e30f;
    const BucketCell* list = bucket_at(grid, static_cast<std::int32_t>(std::floor(y)),
                                       static_cast<std::int32_t>(std::floor(x)));
    for (const BucketCell* cell = list; cell != nullptr; cell = cell->next) {
        TriangleHit hit;
        // Of two hits at the same depth the one listed first wins, as in
        // the samples.
        if (hit_triangle(*cell->triangle, fx, fy, hit) && hit.depth > cut) {
            cut = hit.depth;
            best = hit;
            nearest = cell->triangle;
        }
    }
    if (nearest == nullptr) return;
    const ScreenTriangle& t = *nearest;
    const ObjectShading* shading = t.object->shading;
    const auto index =
        shading ? static_cast<std::ptrdiff_t>(shading - cam.objects.data()) : std::ptrdiff_t{-1};
    record.index = index >= 0 && static_cast<std::size_t>(index) < looks.size()
                       ? static_cast<std::int32_t>(index)
                       : static_cast<std::int32_t>(looks.size());
    record.depth = static_cast<float>(hit_distance(cam, x, y, best.depth));
    const float w[3] = {1.0f - best.s - best.t, best.s, best.t};
    const ScreenVertex* v[3] = {t.P0, t.P1, t.P2};
    static const Look kPlain{};
    const Look& look = static_cast<std::size_t>(record.index) < looks.size()
                           ? looks[static_cast<std::size_t>(record.index)]
                           : kPlain;
    if (look.smooth) {
        for (int k = 0; k < 3; ++k)
            record.normal[k] =
                w[0] * v[0]->normal[k] + w[1] * v[1]->normal[k] + w[2] * v[2]->normal[k];
    } else {
        const float* a = v[0]->shading->eye;
        const float* b = v[1]->shading->eye;
        const float* c = v[2]->shading->eye;
        const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
        const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
        cross3(e1, e2, record.normal);
        // Which way a polygon was wound says nothing about its plane.
        if (record.normal[2] < 0.0f)
            for (float& n : record.normal) n = -n;
    }
    if (dot3(record.normal, record.normal) > 0.0f) normalise3(record.normal);
    if (look.lines_u > 0 || look.lines_v > 0) {
        const float u = w[0] * v[0]->shading->u + w[1] * v[1]->shading->u + w[2] * v[2]->shading->u;
        const float vv =
            w[0] * v[0]->shading->v + w[1] * v[1]->shading->v + w[2] * v[2]->shading->v;
        record.cell_u = band(u, look.u0, look.u_span, look.lines_u);
        record.cell_v = band(vv, look.v0, look.v_span, look.lines_v);
    }
}

inline bool same_surface(const EdgeRecord& a, const EdgeRecord& b) {
    if (a.index != b.index) return false;
    if (a.index < 0) return true;
    return a.cell_u == b.cell_u && a.cell_v == b.cell_v &&
           dot3(a.normal, b.normal) >= kCreaseCosine;
}

// Rows kept from the row before: each of the `count` rows wanted gets the
// slot that already holds it (`holds(slot, r)`), which is then taken, or -1.
template <typename Holds>
void find_kept(int count, int slots, int* slot_of, bool* taken, Holds&& holds) {
    for (int r = 0; r < count; ++r) {
        slot_of[r] = -1;
        for (int slot = 0; slot < slots && slot_of[r] < 0; ++slot)
            if (!taken[slot] && holds(slot, r)) slot_of[r] = slot;
        if (slot_of[r] >= 0) taken[slot_of[r]] = true;
    }
}

// The first slot nobody has taken, now taken.
int free_slot(bool* taken) {
    int slot = 0;
    while (taken[slot]) ++slot;
    taken[slot] = true;
    return slot;
}

}  // namespace

std::int32_t hidden_line_border(std::span<const AR_ShaderInfo* const> shaders) {
    const float from_global = global_switch();
    std::int32_t wide = asked_width(nullptr, from_global);
    for (const AR_ShaderInfo* shader : shaders)
        wide = std::max(wide, asked_width(shader, from_global));
    wide = std::min(wide, kMaxLineWidth);
    // The lattice reaches the corners of the pixels beyond the tile's own
    // (a pixel's position is its lower left corner), and the line a reach
    // of cells beyond that.
    const int s = cells_in_pixel();
    return 1 + reach_of(wide, s) / s;
}

std::int32_t hidden_line_rows() {
    return lattice_rows_for(cells_per_pixel);
}

std::size_t hidden_line_records(std::int32_t width) {
    const int s = cells_per_pixel;
    return static_cast<std::size_t>(hidden_line_rows()) *
           (static_cast<std::size_t>(s) * static_cast<std::size_t>(std::max(width, 1)) +
            2 * static_cast<std::size_t>(reach_of(widest, s)) + 1);
}

std::size_t hidden_line_cells(std::int32_t width) {
    // The crossed cells' widths of a row of cells per lattice row, and the
    // line's cells of a pixel row.
    const int s = cells_per_pixel;
    const std::size_t columns =
        static_cast<std::size_t>(s) * static_cast<std::size_t>(std::max(width, 1)) +
        2 * static_cast<std::size_t>(reach_of(widest, s));
    return (static_cast<std::size_t>(hidden_line_rows()) + static_cast<std::size_t>(s)) * columns;
}

void prepare_hidden_line(const CasterCamera& cam) {
    const EnvironmentSettings& env = environment();
    const float from_global = global_switch();
    for (int k = 0; k < 3; ++k) line_colour[k] = channel(env.hline_line_color[k]);
    std::int32_t asked = 1;
    looks.assign(cam.objects.size(), Look{});
    const ObjectList& objects = frame_objects();
    for (std::size_t k = 0; k < cam.objects.size() && k < objects.size(); ++k) {
        Look& look = looks[k];
        const RenderObject& object = objects[k];
        const AR_ShaderInfo* shader = cam.objects[k].shader;
        if (from_global != 0.0f || shader == nullptr) {
            look.filled = env.hline_to_fill_color != 0.0f;
            for (int c = 0; c < 3; ++c) look.fill[c] = env.hline_fill_color[c];
            set_lines(object, look, env.hline_isoparam_u, env.hline_isoparam_v);
        } else {
            look.filled = shader->param[SHADER_HL_TO_FILL_COLOR] >= 0.5f;
            look.fill[0] = shader->hl_fill_colour.x;
            look.fill[1] = shader->hl_fill_colour.y;
            look.fill[2] = shader->hl_fill_colour.z;
            set_lines(object, look, line_count(shader->param[SHADER_HL_ISOPARAM_U]),
                      line_count(shader->param[SHADER_HL_ISOPARAM_V]));
        }
        for (float& c : look.fill) c = channel(c);
        look.width = asked_width(shader, from_global);
        asked = std::max(asked, look.width);
        look.width = std::min(look.width, kMaxLineWidth);
    }
    if (asked > kMaxLineWidth && !warned_too_wide) {
        warned_too_wide = true;
        rptWarning("hidden lines %d pixels wide are drawn %d pixels wide", asked, kMaxLineWidth);
    }
    // The tiles' buckets were given a border for these lines.
    cells_per_pixel = cells_in_pixel();
    widest = 1;
    for (const Look& look : looks) widest = std::max(widest, look.width);
    while (widest > 1 && reach_of(widest, cells_per_pixel) / cells_per_pixel > tile_border() - 1)
        --widest;
    for (Look& look : looks) look.width = std::min(look.width, widest);
    make_kernels(cells_per_pixel);
    // The settings' defaults draw black lines on the default black
    // background: a picture of nothing, which nobody asks for.
    float background[4];
    background_colour(0.0, 0.0, background);
    if (!warned_invisible && background_is_flat() && background[0] == line_colour[0] &&
        background[1] == line_colour[1] && background[2] == line_colour[2]) {
        warned_invisible = true;
        rptWarning(
            "hidden lines are drawn in the background's colour (%g, %g, %g); "
            "hline_line_color or the background sets them apart",
            line_colour[0], line_colour[1], line_colour[2]);
    }
}

void hidden_line_row(float* colour_row, std::int32_t y, RR_SampleNode& node) {
    const CasterCamera& cam = caster_camera();
    const BucketGrid& grid = bucket_grid();
    const int s = cells_per_pixel;
    const int reach = reach_of(widest, s);
    const std::int32_t width = node.x_right - node.x_left + 1;
    // Lattice column i lies `reach` cells before the row's first pixel
    // corner, lattice row r `reach` cells below the row's lower edge.
    const int columns = s * width + 2 * reach + 1;
    const int lattice_rows = lattice_rows_for(s);  // the node was made for them
    const double step = 1.0 / s;

    // Points beyond the tile's border, or beyond the image, look at the
    // nearest position inside: no edge is drawn along the border itself.
    const std::int32_t border = tile_border();
    const double x_low = std::max({node.x_left - border, grid.x0, 0});
    const double x_high = std::min(node.x_right + border, cam.xresolution - 1) + 0.999;
    const double y_low = std::max({node.y_low - border, grid.y0, 0});
    const double y_high = std::min(node.y_high + border, cam.yresolution - 1) + 0.999;

    // The lattice rows, bottom up: those the row before kept are taken
    // over, the others looked at into the slots nobody needs.
    const EdgeRecord* row[kMaxLatticeRows];
    double wanted[kMaxLatticeRows];
    int slot_of[kMaxLatticeRows];
    bool taken[kMaxLatticeRows] = {};
    for (int r = 0; r < lattice_rows; ++r)
        wanted[r] = std::clamp(y + (r - reach) * step + 0.001, y_low, y_high);
    find_kept(lattice_rows, lattice_rows, slot_of, taken,
              [&](int slot, int r) { return node.edge_row_y[slot] == wanted[r]; });
    std::int64_t looked = 0;
    double fresh[kMaxLatticeRows];
    int fresh_count = 0;
    for (int r = 0; r < lattice_rows; ++r) {
        if (slot_of[r] < 0) {
            const int slot = slot_of[r] = free_slot(taken);
            EdgeRecord* records = node.edge_records + static_cast<std::ptrdiff_t>(slot) * columns;
            for (int i = 0; i < columns; ++i) {
                const double px =
                    std::clamp(node.x_left + (i - reach) * step + 0.001, x_low, x_high);
                const double start = cam.timing ? timing_milliseconds() : 0.0;
                look_at(cam, grid, px, wanted[r], records[i]);
                if (cam.timing) records[i].time = static_cast<float>(timing_milliseconds() - start);
            }
            node.edge_row_y[slot] = wanted[r];
            fresh[fresh_count++] = wanted[r];
            looked += columns;
        }
        row[r] = node.edge_records + static_cast<std::ptrdiff_t>(slot_of[r]) * columns;
    }
    // Each lattice point is an eye ray, counted with the samples.
    caster_worker().samples += looked;

    // A cell is crossed by an edge when its corners do not agree; it keeps
    // the width of the widest line of the surfaces meeting there. A row of
    // cells depends only on its two lattice rows, so like them it is kept
    // for the rows after, known by their positions, and forgotten when
    // either is looked at again.
    const int cell_columns = columns - 1;
    const int cell_rows = lattice_rows - 1;
    double* keys = node.edge_row_y + node.edge_rows;  // lower and upper y per slot
    for (int slot = 0; slot < lattice_rows; ++slot)
        for (int k = 0; k < fresh_count; ++k)
            if (keys[2 * slot] == fresh[k] || keys[2 * slot + 1] == fresh[k])
                keys[2 * slot] = keys[2 * slot + 1] = kNoEdgeRow;
    const std::uint8_t* crossed[kMaxLatticeRows];
    int cell_slot[kMaxLatticeRows];
    bool cells_taken[kMaxLatticeRows] = {};
    find_kept(cell_rows, lattice_rows, cell_slot, cells_taken, [&](int slot, int r) {
        return keys[2 * slot] == wanted[r] && keys[2 * slot + 1] == wanted[r + 1];
    });
    auto width_of = [](const EdgeRecord& e) {
        if (e.index < 0) return 0;
        return static_cast<std::size_t>(e.index) < looks.size()
                   ? looks[static_cast<std::size_t>(e.index)].width
                   : 1;
    };
    for (int r = 0; r < cell_rows; ++r) {
        if (cell_slot[r] < 0) {
            const int slot = cell_slot[r] = free_slot(cells_taken);
            std::uint8_t* cells =
                node.edge_cells + static_cast<std::ptrdiff_t>(slot) * cell_columns;
            for (int i = 0; i < cell_columns; ++i) {
                const EdgeRecord* corner[4] = {&row[r][i], &row[r][i + 1], &row[r + 1][i],
                                               &row[r + 1][i + 1]};
                const bool same = same_surface(*corner[0], *corner[1]) &&
                                  same_surface(*corner[0], *corner[2]) &&
                                  same_surface(*corner[0], *corner[3]);
                std::int32_t w = 0;
                if (!same)
                    for (const EdgeRecord* e : corner) w = std::max(w, width_of(*e));
                cells[i] = static_cast<std::uint8_t>(same ? 0 : std::max(w, 1));
            }
            keys[2 * slot] = wanted[r];
            keys[2 * slot + 1] = wanted[r + 1];
        }
        crossed[r] = node.edge_cells + static_cast<std::ptrdiff_t>(cell_slot[r]) * cell_columns;
    }
    // The line's cells of this pixel row (cell rows reach .. reach + s - 1):
    // every crossed cell lays its line's span on each of them; a run of
    // crossed cells of one width lays the spans' union at once.
    std::uint8_t* line = node.edge_cells + static_cast<std::ptrdiff_t>(lattice_rows) * cell_columns;
    std::fill(line, line + static_cast<std::ptrdiff_t>(s) * cell_columns, std::uint8_t{0});
    for (int r = 0; r < cell_rows; ++r) {
        const std::uint8_t* cells = crossed[r];
        for (int i = 0; i < cell_columns;) {
            const std::uint8_t w = cells[i];
            int last = i;
            while (last + 1 < cell_columns && cells[last + 1] == w) ++last;
            if (w != 0) {
                const std::vector<KernelRow>& kernel = kernels[w];
                const int w_reach = reach_of(w, s);
                for (int t = 0; t < s; ++t) {
                    const int dy = reach + t - r;
                    if (dy < -w_reach || dy > w_reach) continue;
                    const KernelRow& span = kernel[static_cast<std::size_t>(dy + w_reach)];
                    if (span.low > span.high) continue;
                    const int from = std::max(i + span.low, 0);
                    const int to = std::min(last + span.high, cell_columns - 1);
                    if (from <= to)
                        std::fill(line + t * cell_columns + from, line + t * cell_columns + to + 1,
                                  std::uint8_t{1});
                }
            }
            i = last + 1;
        }
    }

    const float share = 1.0f / static_cast<float>(s * s);
    for (std::int32_t p = 0; p < width; ++p) {
        const std::int32_t x = node.x_left + p;
        float* out = colour_row + 4 * p;
        ++node.pixel_counter;
        if (x < node.gate_left || x > node.gate_right) {
            out[0] = out[1] = out[2] = out[3] = 0.0f;
            node.depth_row[p] = kNothingDepth;
            continue;
        }
        float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        float background[4];
        bool background_known = false;
        for (int r = 0; r < s; ++r) {
            for (int a = 0; a < s; ++a) {
                const int i = s * p + a + reach;  // the cell right of lattice column i
                const float* colour;
                float alpha = 255.0f;
                if (line[r * cell_columns + i] != 0) {
                    colour = line_colour;
                } else {
                    const EdgeRecord& seen = row[reach + r][i];
                    const Look* look =
                        seen.index >= 0 && static_cast<std::size_t>(seen.index) < looks.size()
                            ? &looks[static_cast<std::size_t>(seen.index)]
                            : nullptr;
                    if (look && look->filled) {
                        colour = look->fill;
                    } else {
                        if (!background_known) {
                            background_colour(x + 0.5, y + 0.5, background);
                            background_known = true;
                        }
                        colour = background;
                        if (seen.index < 0) alpha = background[3];
                    }
                }
                for (int c = 0; c < 3; ++c) sum[c] += colour[c] * share;
                sum[3] += alpha * share;
            }
        }
        // The pixel's depth is the nearest its lattice points see; with -J,
        // the longest any of them took to look at.
        float depth = kNothingDepth, longest = 0.0f;
        for (int r = 0; r <= s; ++r) {
            for (int a = 0; a <= s; ++a) {
                const EdgeRecord& point = row[reach + r][s * p + a + reach];
                depth = std::min(depth, point.depth);
                longest = std::max(longest, point.time);
            }
        }
        for (int c = 0; c < 4; ++c) out[c] = std::clamp(sum[c], 0.0f, 255.0f);
        node.depth_row[p] = cam.timing ? longest : depth;
    }
    node.scan_direction = !node.scan_direction;
}

}  // namespace sky
