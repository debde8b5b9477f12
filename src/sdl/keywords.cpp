// The keyword and operator tables and their lookups.
//
// The settings' keywords are not written here: each setting's row
// (environment_settings.h) gives its name, and the table is sorted when
// compiled.
//
// The scanner looks up every name it reads, so the keyword search first
// narrows the table to the rows that share the name's first two bytes (an
// index built at compile time) and then bisects that slice: a name costs a
// table load and one or two string comparisons on average.
#include "sdl/keywords.h"

#include <algorithm>
#include <array>

#include "sdl/environment_settings.h"
#include "sdl/sdl_parser.h"

namespace sky {
namespace {

// Byte-wise order of a NUL-terminated row name against `length` bytes of text:
// negative when the name sorts first, 0 when equal, positive when it sorts after.
constexpr int compare(const char* name, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        auto a = static_cast<unsigned char>(name[i]);
        auto b = static_cast<unsigned char>(text[i]);
        if (a == 0) return -1;  // the name is a proper prefix of the text
        if (a != b) return a < b ? -1 : 1;
    }
    return name[length] == '\0' ? 0 : 1;
}

constexpr std::size_t length_of(const char* name) {
    std::size_t length = 0;
    while (name[length] != '\0') ++length;
    return length;
}

// clang-format off
// Every keyword but the settings' (which come from their table, below).
constexpr KeywordRow kFixedKeywords[] = {
    {"AVERAGE_TAN", 0, 0, TANGENT_TYPE},
    {"BLEND_TAN", 0, 0, TANGENT_TYPE},
    {"CONSTANT_TAN", 0, 0, TANGENT_TYPE},
    {"Curvature", 0, 0, K_Curvature},
    {"DEFINITION", 0, 0, K_DEFINITION},
    {"ENVIRONMENT", 0, 0, K_ENVIRONMENT},
    {"EXPIN", 1, 5, EASE_TYPE},
    {"EXPOUT", 1, 6, EASE_TYPE},
    {"FORCE_EOF", 0, 0, K_FORCE_EOF},
    {"Highlight", 0, 0, K_Highlight},
    {"IN", 1, 2, EASE_TYPE},
    {"INOUT", 1, 4, EASE_TYPE},
    {"INOUT_TAN", 0, 0, TANGENT_TYPE},
    {"LINEAR", 1, 1, EASE_TYPE},
    {"LINEAR_TAN", 0, 0, TANGENT_TYPE},
    {"MODEL", 0, 0, K_MODEL},
    {"OUT", 1, 3, EASE_TYPE},
    {"SDL", 0, 0, K_SDL},
    {"SLOWIN_TAN", 0, 0, TANGENT_TYPE},
    {"SLOWOUT_TAN", 0, 0, TANGENT_TYPE},
    {"ZERO_TAN", 0, 0, TANGENT_TYPE},
    {"acos", 1, 504, FUNCTION},
    {"acosd", 1, 536, FUNCTION},
    {"active", 0, 0, K_active},
    {"animate", 1, 540, FUNCTION},
    {"aov", 0, 0, K_aov},
    {"array", 0, 0, K_array},
    {"asin", 1, 506, FUNCTION},
    {"asind", 1, 535, FUNCTION},
    {"aspect", 0, 0, K_aspect},
    {"aspect_ratio_pixel", 0, 0, K_aspect_ratio_pixel},
    {"atan", 1, 505, FUNCTION},
    {"atan2", 1, 507, FUNCTION},
    {"atan2d", 1, 538, FUNCTION},
    {"atand", 1, 537, FUNCTION},
    {"auto_focus", 0, 0, K_auto_focus},
    {"background", 0, 0, K_background},
    {"besselj0", 1, 515, FUNCTION},
    {"besselj1", 1, 516, FUNCTION},
    {"besseljn", 1, 517, FUNCTION},
    {"besselyn", 1, 523, FUNCTION},
    {"boundaries", 0, 0, K_boundaries},
    {"btype", 0, 0, K_btype},
    {"camera", 0, 0, K_camera},
    {"casts_shadow", 0, 0, K_casts_shadow},
    {"ceil", 1, 510, FUNCTION},
    {"cl", 1, 560, CLUSTER},
    {"clamp_bumpsize", 0, 0, K_clamp_bumpsize},
    {"clm", 0, 0, K_clm},
    {"cluster", 1, 560, CLUSTER},
    {"cluster_matrix", 0, 0, K_clm},
    {"color", 0, 0, K_color},
    {"colour", 0, 0, K_color},
    {"command", 0, 0, K_command},
    {"constrain", 1, 604, FUNCTION},
    {"cos", 1, 502, FUNCTION},
    {"cosd", 1, 533, FUNCTION},
    {"cosh", 1, 526, FUNCTION},
    {"create", 0, 0, K_create},
    {"cur_xform", 1, 570, CURRENT_TRANSFORM},
    {"current_position", 1, 550, TRIPLE_FUNCTION},
    {"current_transformation", 1, 570, CURRENT_TRANSFORM},
    {"curve", 0, 0, K_curve},
    {"curve_list1", 0, 0, K_curve_list1},
    {"curve_list2", 0, 0, K_curve_list2},
    {"cv", 0, 0, K_cv},
    {"cvs", 0, 0, K_cvs},
    {"degree", 0, 0, K_degree},
    {"depth_file", 0, 0, K_depth_file},
    {"depth_of_field", 0, 0, K_depth_of_field},
    {"dim", 0, 0, K_dim},
    {"direction", 0, 0, K_direction},
    {"displacement_detail", 0, 0, K_displacement_detail},
    {"divisions", 0, 0, K_divisions},
    {"divs", 0, 0, K_divs},
    {"dynamics", 0, 0, K_dynamics},
    {"ease", 0, 0, K_ease},
    {"edge_smoothness", 0, 0, K_edge_smoothness},
    {"else", 0, 0, K_else},
    {"end", 0, 0, K_end},
    {"environment", 0, 0, K_environment},
    {"erf", 1, 530, FUNCTION},
    {"erfc", 1, 531, FUNCTION},
    {"exp", 1, 511, FUNCTION},
    {"extract", 1, 605, FUNCTION},
    {"extreference", 0, 0, K_extreference},
    {"eye", 0, 0, K_eye},
    {"f_stop", 0, 0, K_f_stop},
    {"fabs", 1, 512, FUNCTION},
    {"face", 0, 0, K_face},
    {"far", 0, 0, K_far},
    {"filename", 0, 0, K_filename},
    {"filmaperture_x", 0, 0, K_filmaperture_x},
    {"filmaperture_y", 0, 0, K_filmaperture_y},
    {"filmoffset_x", 0, 0, K_filmoffset_x},
    {"filmoffset_y", 0, 0, K_filmoffset_y},
    {"floor", 1, 513, FUNCTION},
    {"fmod", 1, 524, FUNCTION},
    {"focal_distance", 0, 0, K_focal_distance},
    {"focal_length", 0, 0, K_focal_length},
    {"fog", 0, 0, K_fog},
    {"for", 0, 0, K_for},
    {"form", 0, 0, K_form},
    {"forward", 1, 552, TRIPLE_FUNCTION},
    {"fov", 0, 0, K_aov},
    {"gamma", 1, 529, FUNCTION},
    {"gauss", 1, 544, FUNCTION},
    {"hline_fill_color", 0, 0, K_hline_fill_color},
    {"hline_line_color", 0, 0, K_hline_line_color},
    {"hypot", 1, 514, FUNCTION},
    {"if", 0, 0, K_if},
    {"image_shade", 0, 0, K_image_shade},
    {"in", 0, 0, K_in},
    {"inst", 0, 0, K_inst},
    {"instance", 0, 0, K_inst},
    {"knots", 0, 0, K_knots},
    {"light", 0, 0, K_light},
    {"light_list", 0, 0, K_light_list},
    {"limit_edge_length", 0, 0, K_limit_edge_length},
    {"lo_res", 0, 0, K_lo_res},
    {"log10", 1, 519, FUNCTION},
    {"mask", 0, 0, K_mask},
    {"master_light", 0, 0, K_master_light},
    {"mate_curve", 0, 0, K_mate_curve},
    {"mate_patch", 0, 0, K_mate_patch},
    {"mate_type", 0, 0, K_mate_type},
    {"matte", 0, 0, K_matte},
    {"matte_depth", 0, 0, K_matte_depth},
    {"matte_order", 0, 0, K_matte_order},
    {"matte_plane", 0, 0, K_matte_plane},
    {"max_edge_length", 0, 0, K_max_edge_length},
    {"maximum", 1, 603, FUNCTION},
    {"minimum", 1, 602, FUNCTION},
    {"mode", 0, 0, K_mode},
    {"model", 0, 0, K_model},
    {"motion", 1, 551, TRIPLE_FUNCTION},
    {"motion_blur", 0, 0, K_motion_blur},
    {"motion_curve", 0, 0, K_motion_curve},
    {"multifillet", 1, 3000, COMMAND_KIND},
    {"name", 0, 0, K_name},
    {"nbs", 0, 0, K_nbs},
    {"near", 0, 0, K_near},
    {"norm", 0, 0, K_norm},
    {"optical_medium", 0, 0, K_optical_medium},
    {"out", 0, 0, K_out},
    {"output", 0, 0, K_output},
    {"parameter_curve", 0, 0, K_parameter_curve},
    {"parameter_vertex", 0, 0, K_parameter_vertex},
    {"patch", 0, 0, K_patch},
    {"pc", 0, 0, K_parameter_curve},
    {"perspective", 0, 0, K_perspective},
    {"photo_effects", 0, 0, K_photo_effects},
    {"pix", 0, 0, K_pix},
    {"placement_fit_code", 0, 0, K_placement_fit_code},
    {"placement_shift", 0, 0, K_placement_shift},
    {"polygon", 0, 0, K_polygon},
    {"polygon_areas", 0, 0, K_polygon_areas},
    {"polygons", 0, 0, K_polygons},
    {"polyset", 0, 0, K_polyset},
    {"pow", 1, 520, FUNCTION},
    {"print", 0, 0, K_print},
    {"procedure", 0, 0, K_Highlight},
    {"pv", 0, 0, K_parameter_vertex},
    {"rand", 1, 541, FUNCTION},
    {"raycast", 1, 4, RENDER_MODE},
    {"resolution", 0, 0, K_resolution},
    {"rot", 0, 0, K_rot},
    {"rotate", 0, 0, K_rot},
    {"rt_shadow_offset", 0, 0, K_rt_shadow_offset},
    {"rt_topLevel_voxel_res", 0, 0, K_rt_topLevel_voxel_res},
    {"scalar", 0, 0, K_scalar},
    {"scale", 0, 0, K_scale},
    {"scaling_factor", 0, 0, K_scaling_factor},
    {"sclr", 0, 0, K_scalar},
    {"sdl", 0, 0, K_SDL},
    {"shader", 0, 0, K_shader},
    {"shader_glow", 0, 0, K_shader_glow},
    {"sign", 1, 539, FUNCTION},
    {"sin", 1, 501, FUNCTION},
    {"sind", 1, 532, FUNCTION},
    {"sinh", 1, 525, FUNCTION},
    {"smooth", 0, 0, K_smooth},
    {"space", 0, 0, K_space},
    {"sqrt", 1, 508, FUNCTION},
    {"srand", 1, 542, FUNCTION},
    {"st", 0, 0, K_st},
    {"stage", 0, 0, K_stage},
    {"start", 0, 0, K_start},
    {"subdivision_control", 0, 0, K_subdivision_control},
    {"surface_list1", 0, 0, K_surface_list1},
    {"surface_list2", 0, 0, K_surface_list2},
    {"surface_smoothness", 0, 0, K_surface_smoothness},
    {"tan", 1, 503, FUNCTION},
    {"tand", 1, 534, FUNCTION},
    {"tanh", 1, 528, FUNCTION},
    {"tb", 0, 0, K_tb},
    {"tbs", 0, 0, K_tbs},
    {"tc", 0, 0, K_tc},
    {"tcv", 0, 0, K_tcv},
    {"tcvs", 0, 0, K_tcvs},
    {"te", 0, 0, K_te},
    {"texture", 0, 0, K_environment},
    {"texture_vertices", 0, 0, K_texture_vertices},
    {"tf", 0, 0, K_tf},
    {"transformation", 0, 0, K_transformation},
    {"translate", 0, 0, K_translate},
    {"translate_pivot", 0, 0, K_translate_pivot},
    {"translate_ripivot", 0, 0, K_translate_ripivot},
    {"translate_ropivot", 0, 0, K_translate_ropivot},
    {"translate_sipivot", 0, 0, K_translate_sipivot},
    {"translate_sopivot", 0, 0, K_translate_sopivot},
    {"trim_curve", 0, 0, K_tc},
    {"trim_hole", 0, 0, K_trim_hole},
    {"trim_region", 0, 0, K_trim_region},
    {"trim_vertex", 0, 0, K_trim_vertex},
    {"triple", 0, 0, K_triple},
    {"trn", 0, 0, K_translate},
    {"trn_ri", 0, 0, K_translate_ripivot},
    {"trn_ro", 0, 0, K_translate_ropivot},
    {"trn_si", 0, 0, K_translate_sipivot},
    {"trn_so", 0, 0, K_translate_sopivot},
    {"tv", 0, 0, K_trim_vertex},
    {"twist", 0, 0, K_twist},
    {"type", 0, 0, K_type},
    {"uknots", 0, 0, K_uknots},
    {"units_to_feet", 0, 0, K_units_to_feet},
    {"up", 0, 0, K_up},
    {"use_background", 0, 0, K_use_background},
    {"use_camera", 0, 0, K_use_camera},
    {"use_cameras", 0, 0, K_use_camera},
    {"value", 0, 0, K_value},
    {"vertex_colors", 0, 0, K_vertex_colors},
    {"vertex_normals", 0, 0, K_vertex_normals},
    {"vertices", 0, 0, K_vertices},
    {"view", 0, 0, K_view},
    {"viewport", 0, 0, K_viewport},
    {"vknots", 0, 0, K_vknots},
    {"win_xsize", 0, 0, K_win_xsize},
    {"win_ysize", 0, 0, K_win_ysize},
    {"wireframe", 1, 1, RENDER_MODE},
    {"xaxis", 1, 1, AXIS},
    {"xform", 0, 0, K_transformation},
    {"yaxis", 1, 2, AXIS},
    {"zaxis", 1, 3, AXIS},
};

constexpr KeywordRow kOperators[] = {
    {"!", 0, 0, NOT},
    {"!=", 1, 109, RELOP},
    {"&&", 0, 0, AND},
    {"*", 1, 102, MULOP},
    {"+", 1, 100, ADDOP},
    {"-", 1, 101, ADDOP},
    {"/", 1, 103, MULOP},
    {"<", 1, 110, RELOP},
    {"<=", 1, 111, RELOP},
    {"=", 0, 0, '='},
    {"==", 1, 108, RELOP},
    {">", 1, 112, RELOP},
    {">=", 1, 113, RELOP},
    {"||", 0, 0, OR},
};
// clang-format on

// The settings written `keyword = expression;` or `keyword = integer;` are
// keywords of one token each, carrying the setting's row.
constexpr std::size_t count_setting_keywords() {
    std::size_t count = 0;
    for (const Parameter& setting : kEnvironmentSettings)
        count += setting.written == Written::KEYWORD || setting.written == Written::KEYWORD_INTEGER;
    return count;
}

constexpr bool sorts_before(const KeywordRow& a, const KeywordRow& b) {
    return compare(a.name, b.name, length_of(b.name)) < 0;
}

constexpr std::array<KeywordRow, kKeywordCount> make_keyword_table() {
    std::array<KeywordRow, kKeywordCount> rows{};
    std::size_t count = 0;
    for (const KeywordRow& row : kFixedKeywords) rows[count++] = row;
    for (std::size_t i = 0; i < kEnvironmentSettings.size(); ++i) {
        const Parameter& setting = kEnvironmentSettings[i];
        auto index = static_cast<std::int32_t>(i);
        if (setting.written == Written::KEYWORD)
            rows[count++] = {setting.name, 1, index, SCALAR_SETTING};
        else if (setting.written == Written::KEYWORD_INTEGER)
            rows[count++] = {setting.name, 1, index, INTEGER_SETTING};
    }
    std::sort(rows.begin(), rows.end(), sorts_before);
    return rows;
}

static_assert(std::size(kFixedKeywords) + count_setting_keywords() == kKeywordCount);
constexpr std::array<KeywordRow, kKeywordCount> kKeywords = make_keyword_table();

template <typename Rows>
constexpr bool is_sorted(const Rows& rows) {
    for (std::size_t i = 1; i < std::size(rows); ++i)
        if (compare(rows[i - 1].name, rows[i].name, length_of(rows[i].name)) >= 0) return false;
    return true;
}

static_assert(std::size(kOperators) == kOperatorCount);
static_assert(is_sorted(kKeywords), "the keyword search needs byte order");
static_assert(is_sorted(kOperators), "the operator search needs byte order");

// Keywords are spelt with letters, digits and `_` only. kRank numbers those
// bytes from 1 in byte order (0 stands for the end of the text, kNotInKeywords
// for every other byte), so that a name's first two bytes give a key that
// sorts as the names do.
constexpr std::uint8_t kNotInKeywords = 0xff;
constexpr std::size_t kRanks = 64;

constexpr std::array<std::uint8_t, 256> make_ranks() {
    std::array<std::uint8_t, 256> rank{};
    std::uint8_t next = 1;
    for (std::size_t byte = 0; byte < 256; ++byte) {
        bool in_keywords = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                           byte == '_' || (byte >= 'a' && byte <= 'z');
        rank[byte] = in_keywords ? next++ : kNotInKeywords;
    }
    return rank;
}

constexpr auto kRank = make_ranks();

constexpr std::size_t prefix_key(const char* name) {
    std::size_t first = kRank[static_cast<unsigned char>(name[0])];
    std::size_t second = name[1] == '\0' ? 0 : kRank[static_cast<unsigned char>(name[1])];
    return first * kRanks + second;
}

// kFirstRow[k] is the index of the first keyword whose two-byte key is k or
// greater; the keywords that start with key k are [kFirstRow[k], kFirstRow[k + 1]).
// Most slices hold one to three rows, the largest (`tr`) seventeen.
constexpr std::array<std::uint16_t, kRanks * kRanks + 1> make_first_row_index() {
    std::array<std::uint16_t, kRanks * kRanks + 1> index{};
    std::size_t row = 0;
    for (std::size_t key = 0; key <= kRanks * kRanks; ++key) {
        while (row < kKeywordCount && prefix_key(kKeywords[row].name) < key) ++row;
        index[key] = static_cast<std::uint16_t>(row);
    }
    return index;
}

constexpr auto kFirstRow = make_first_row_index();

// The operators by first byte: no slice holds more than two rows (`<`, `<=`).
constexpr std::array<std::uint8_t, 257> make_first_operator_index() {
    std::array<std::uint8_t, 257> index{};
    std::size_t row = 0;
    for (std::size_t byte = 0; byte <= 256; ++byte) {
        while (row < kOperatorCount && static_cast<unsigned char>(kOperators[row].name[0]) < byte)
            ++row;
        index[byte] = static_cast<std::uint8_t>(row);
    }
    return index;
}

constexpr auto kFirstOperator = make_first_operator_index();

constexpr bool keywords_are_spelt_with_ranked_bytes() {
    for (const KeywordRow& row : kKeywords)
        for (const char* c = row.name; *c != '\0'; ++c)
            if (kRank[static_cast<unsigned char>(*c)] == kNotInKeywords) return false;
    return true;
}
static_assert(keywords_are_spelt_with_ranked_bytes());

const KeywordRow* bisect(const KeywordRow* low, const KeywordRow* high, const char* text,
                         std::size_t length) {
    while (low < high) {
        const KeywordRow* middle = low + (high - low) / 2;
        int order = compare(middle->name, text, length);
        if (order == 0) return middle;
        if (order < 0)
            low = middle + 1;
        else
            high = middle;
    }
    return nullptr;
}

}  // namespace

std::span<const KeywordRow> keyword_table() {
    return kKeywords;
}
std::span<const KeywordRow> operator_table() {
    return kOperators;
}

const KeywordRow* find_keyword(const char* text, std::size_t length) {
    if (length == 0) return nullptr;
    std::size_t first = kRank[static_cast<unsigned char>(text[0])];
    std::size_t second = length == 1 ? 0 : kRank[static_cast<unsigned char>(text[1])];
    if (first == kNotInKeywords || second == kNotInKeywords) return nullptr;
    std::size_t key = first * kRanks + second;
    return bisect(kKeywords.data() + kFirstRow[key], kKeywords.data() + kFirstRow[key + 1], text,
                  length);
}

const KeywordRow* find_operator(const char* text, std::size_t length) {
    if (length == 0) return nullptr;
    auto first = static_cast<unsigned char>(text[0]);
    return bisect(kOperators + kFirstOperator[first], kOperators + kFirstOperator[first + 1], text,
                  length);
}

}  // namespace sky
