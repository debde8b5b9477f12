// Sky: a sky with sun, clouds and an optional floor, looked up by direction.
//
// Its picture is not drawn yet: the calculation gives the texture's `rgbout`
// and `aout`, and says so once per run.
#include "texture/procedures/procedure_parameters.h"

namespace sky {
namespace {

using enum ParameterType;

constexpr Parameter kRows[] = {
    {.name = "air_density", .type = ANY, .value = {1.0f}, .description = "Density of the air."},
    {.name = "sky_radius", .type = ANY, .value = {1000.0f}, .description = "Radius of the sky."},
    {.name = "floor_altitude",
     .type = ANY,
     .value = {-1.0f},
     .description = "Height of the floor."},
    {.name = "cloud_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples through the clouds."},
    {.name = "subcloud_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples below the clouds."},
    {.name = "sky_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples through the sky."},
    {.name = "sky_density", .type = ANY, .value = {1.0f}, .description = "Density of the sky."},
    {.name = "dust_density", .type = ANY, .description = "Density of the dust."},
    {.name = "sky_dust_density",
     .type = ANY,
     .description = "Density of the dust high in the sky."},
    {.name = "sky_mist_density", .type = ANY, .description = "Density of the mist."},
    {.name = "sky_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sky."},
    {.name = "sky_thickness",
     .type = ANY,
     .value = {1000.0f},
     .description = "Thickness of the atmosphere."},
    {.name = "sky_fiddle", .type = ANY, .description = "A correction of the sky's colour."},
    {.name = "sun_azimuth",
     .type = ANY,
     .value = {145.0f},
     .description = "Direction of the sun, degrees."},
    {.name = "sun_elevation",
     .type = ANY,
     .value = {45.0f},
     .description = "Height of the sun, degrees."},
    {.name = "sun_size",
     .type = ANY,
     .value = {0.531f},
     .description = "Apparent size of the sun, degrees."},
    {.name = "sun_radius",
     .type = ANY,
     .value = {1.0f},
     .description = "Radius of the sun's disc."},
    {.name = "sun_blur",
     .type = ANY,
     .value = {1.0f},
     .description = "Softness of the sun's edge."},
    {.name = "sun_halo_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the sun's halo."},
    {.name = "sun_halo", .type = ANY, .value = {1.0f}, .description = "Size of the sun's halo."},
    {.name = "sun_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sun."},
    {.name = "floor_samples",
     .type = ANY,
     .value = {5.0f},
     .description = "Samples over the floor."},
    {.name = "cloud_density",
     .type = ANY,
     .value = {1.0f},
     .description = "Density of the clouds."},
    {.name = "cloud_power", .type = ANY, .value = {1.0f}, .description = "Contrast of the clouds."},
    {.name = "cloud_halo_size",
     .type = ANY,
     .value = {0.5f},
     .description = "Size of the clouds' halo around the sun."},
    {.name = "cloud_altitude",
     .type = ANY,
     .value = {0.2f},
     .description = "Height of the clouds."},
    {.name = "cloud_threshold",
     .type = ANY,
     .description = "How much of the sky the clouds cover."},
    {.name = "cloud_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the clouds."},
    {.name = "cloud_sunset_brightness",
     .type = ANY,
     .value = {0.5f},
     .description = "Brightness of the clouds at sunset."},
    {.name = "sunset_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of the sunset."},
    {.name = "cloud_front", .type = ANY, .description = "Front of the cloud layer."},
    {.name = "total_brightness",
     .type = ANY,
     .value = {1.0f},
     .description = "Brightness of everything."},
    {.name = "has_floor", .type = ANY, .value = {1.0f}, .description = "On: the sky has a floor."},
    {.name = "floor_texture", .type = ANY, .description = "Texture of the floor."},
    {.name = "cloud_texture", .type = ANY, .description = "Texture of the clouds."},
};
static_assert(rows_are_consistent(kRows));
constexpr ParameterTable kTable{kRows, "ERROR: Unknown parameter in Sky: %s\n", UnknownName::REPORT,
                                "NIL SkyNode found\n"};

std::atomic<bool> warned{false};

void calculate(const AR_TextureInfo& texture, const TextureCall&, TextureColour& out) {
    not_drawn_yet(warned, "texture procedure Sky");
    texture_default_colour(texture, out);
}

}  // namespace

const AR_TextureProcedure kSkyProcedure =
    procedure_row("Sky", kTable, calculate, TEXTURE_ENVIRONMENT);

}  // namespace sky
