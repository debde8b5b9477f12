// skyloom-parameters: the reference page of every shading model's, light
// model's, texture procedure's and environment setting's parameters,
// written from their tables.
//
//     skyloom-parameters docs/parameters.md           writes the page
//     skyloom-parameters --check docs/parameters.md   fails when it differs
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "sdl/environment_settings.h"
#include "sdl/parameter_table.h"
#include "shading/light.h"
#include "shading/shader.h"
#include "texture/texture_procedure.h"

namespace {

using namespace sky;

constexpr const char* kRegenerate = "build/skyloom-parameters docs/parameters.md";

std::string code(const char* name) {
    return std::string("`") + name + "`";
}

void section(std::string& page, const std::string& title, const std::string& text,
             std::span<const Parameter> rows) {
    page += "### " + title + "\n\n";
    if (!text.empty()) page += text + "\n\n";
    page += rows.empty() ? std::string("No parameters of its own.\n") : parameter_reference(rows);
    page += "\n";
}

const char* texture_kind(const AR_TextureProcedure& procedure) {
    switch (procedure.kind) {
        case TEXTURE_SURFACE:
            return "A surface texture, looked up at (u, v)";
        case TEXTURE_SOLID:
            return "A solid texture, looked up at the point";
        case TEXTURE_ENVIRONMENT:
            return "An environment texture, looked up by direction";
    }
    return "";
}

std::string page() {
    std::string page =
        "# Parameters of shaders, lights, textures and settings\n\n"
        "This page is generated from the parameter tables of the source by "
        "`skyloom-parameters`; do not edit it. Regenerate it with\n\n"
        "    " +
        std::string(kRegenerate) +
        "\n\n"
        "and the test `docs.parameters` fails while it differs from the tables.\n\n"
        "Types: a *flag* is on for values of at least 0.5, a *switch* for values whose integer "
        "part is not 0; *integer* values are truncated toward zero. Colours are 0..255 per "
        "channel. A number written for a colour is a grey: in shaders and lights a level from "
        "0 to 1 (a shading model's colour-or-number slot keeps it as that level), in textures "
        "the 0..255 value itself. A range entry says what a value beyond that end becomes. "
        "Parameters are read while the scene is parsed, and "
        "evaluated every frame.\n\n";

    page += "## Shaders\n\n";
    section(page, "Common parameters",
            "Every shader has these; any other name goes to the shading model.",
            shader_common_parameters().rows);
    section(page, "Particle parameters",
            "Shaders and lights carry these for the particle renderer. A number is evaluated "
            "each frame; colours, textures and file names stay as written.",
            particle_parameters());
    for (const AR_ShaderModel& model : shader_models()) {
        std::string failure = "Error in " + std::string(model.name) + " shader parse routine";
        section(page, "Shading model " + code(model.name),
                unknown_name_reference(*model.parameters, failure.c_str()), model.parameters->rows);
    }

    page += "## Lights\n\n";
    section(page, "Common parameters",
            "Every light has these; any other name goes to the light model.",
            light_common_parameters().rows);
    for (const AR_LightModel& model : light_models()) {
        std::string failure = "Error in " + std::string(model.name) + " Light Parse routine";
        section(page, "Light model " + code(model.name),
                unknown_name_reference(*model.parameters, failure.c_str()), model.parameters->rows);
    }

    page += "## Textures\n\n";
    section(page, "Common parameters",
            "Every texture has these, whatever its procedure; `wrap` sets both `uwrap` and "
            "`vwrap`. Any other name goes to the procedure.",
            texture_common_parameters().rows);
    auto procedures = texture_procedures();
    for (std::size_t i = 0; i < procedures.size(); ++i) {
        const AR_TextureProcedure& procedure = *procedures[i];
        bool synonym = false;
        for (std::size_t j = 0; j < i; ++j)
            synonym = synonym || procedures[j]->parameters == procedure.parameters;
        if (synonym) continue;
        std::string title = "Procedure " + code(procedure.name);
        for (std::size_t j = i + 1; j < procedures.size(); ++j)
            if (procedures[j]->parameters == procedure.parameters)
                title += " (also " + code(procedures[j]->name) + ")";
        std::string text = texture_kind(procedure);
        text += procedure.scalar_output ? "; a scalar result. " : ". ";
        text += unknown_name_reference(*procedure.parameters, "Couldn't parse %s");
        section(page, title, text, procedure.parameters->rows);
    }

    page +=
        "## Environment settings\n\n"
        "Written in the definition section: a *keyword* as `name = expression;` (or "
        "`name = integer;`), a *system variable* as an assignment to it, and the others in the "
        "form their description gives. The default is the render's when the scene does not "
        "set it. Ranges of numbers kept by the definition section are applied when the "
        "section ends; those of expressions when they are evaluated.\n\n";
    page += setting_reference(kEnvironmentSettings);
    return page;
}

bool read(const char* path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool check = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (!(argc == 2 || check) || argv[argc - 1][0] == '-') {
        std::fprintf(stderr, "usage: skyloom-parameters [--check] FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    std::string generated = page();
    if (check) {
        std::string committed;
        if (read(path, committed) && committed == generated) return 0;
        std::fprintf(stderr, "%s differs from the parameter tables; regenerate it with:\n    %s\n",
                     path, kRegenerate);
        return 1;
    }
    std::ofstream out(path, std::ios::binary);
    out << generated;
    out.close();
    if (!out) {
        std::fprintf(stderr, "skyloom-parameters: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
