// The particle parameters that shaders and lights carry for the particle
// renderer: names (synonyms share an index) in their fixed order.
#pragma once

namespace sky {

struct ParticleParameterName {
    const char* name;
    int index;
};

inline constexpr ParticleParameterName kParticleParameters[] = {
    {"psys_emission", 0},
    {"psys_motion_type", 1},
    {"psys_glow_intensity", 2},
    {"psys_render_type", 3},
    {"psys_color", 4},
    {"psys_color_stamp", 5},
    {"psys_incandescence", 5},
    {"psys_opacity", 6},
    {"psys_transparency", 6},
    {"psys_opacity_stamp", 7},
    {"psys_blob_map", 8},
    {"psys_hair_length_map", 8},
    {"psys_parent_shading", 9},
    {"psys_size", 10},
    {"psys_size_range", 11},
    {"psys_mass", 12},
    {"psys_elasticity", 13},
    {"psys_buoyancy", 14},
    {"psys_noise_aspect", 15},
    {"psys_atoms_per_sec", 16},
    {"psys_particles_per_sec", 16},
    {"psys_speed", 17},
    {"psys_lifespan_min", 18},
    {"psys_lifespan_max", 19},
    {"psys_randomization", 20},
    {"psys_collisions", 21},
    {"psys_hit_method", 22},
    {"psys_grow_method", 23},
    {"psys_time_random", 24},
    {"psys_cycles", 25},
    {"split_velocity_min", 25},
    {"psys_attraction", 26},
    {"psys_split_time", 27},
    {"psys_num_children", 28},
    {"psys_branch_angle", 29},
    {"psys_translucence", 30},
    {"psys_transparency_method", 31},
    {"psys_blob_threshold", 32},
    {"psys_blob_noise", 33},
    {"psys_blob_noise_frequency", 34},
    {"psys_speed_range", 35},
    {"psys_density", 36},
    {"psys_friction", 37},
    {"psys_speed_decay", 38},
    {"psys_bend_u", 39},
    {"psys_bend_v", 40},
    {"psys_curl", 41},
    {"psys_blob_lighting", 42},
    {"psys_blur_length", 43},
    {"psys_blur_quality", 44},
    {"psys_start_frame", 45},
    {"psys_end_frame", 46},
    {"psys_surface_shading", 47},
    {"psys_diffusion", 48},
    {"psys_use_particle_file", 49},
    {"use_particle_file", 49},
    {"psys_particle_file", 50},
    {"particle_file", 50},
    {"psys_hair_length_max", 51},
    {"psys_hair_length_min", 52},
    {"psys_hair_stiffness", 53},
    {"psys_hair_segments", 54},
    {"psys_diffusion_rate", 55},
};
inline constexpr int kParticleParameterCount = 56;

}  // namespace sky
