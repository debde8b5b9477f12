// Plain-text dumps of a failed trim region. Numbers are written with 17
// significant digits, so reading them back gives the same doubles.
#include "geometry/patch_tessellator_dump.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace sky {
namespace {

// Writes through a FILE so that every failure (full disk, closed stream)
// shows in the result of the final close.
class TextFile {
public:
    explicit TextFile(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}
    ~TextFile() {
        if (file_) std::fclose(file_);
    }
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    __attribute__((format(printf, 2, 3))) void print(const char* format, ...) {
        if (!file_) return;
        va_list args;
        va_start(args, format);
        if (std::vfprintf(file_, format, args) < 0) ok_ = false;
        va_end(args);
    }
    bool close() {
        if (!file_) return false;
        const bool flushed = std::fclose(file_) == 0;
        file_ = nullptr;
        return ok_ && flushed;
    }

private:
    std::FILE* file_;
    bool ok_ = true;
};

void print_knots(TextFile& out, const char* label, const std::vector<double>& knots) {
    out.print("%s %zu\n", label, knots.size());
    for (double k : knots) out.print(" %.17g", k);
    out.print("\n");
}

bool write_geometry(const std::string& path, const NurbsSurface& s, const TrimRegion& region) {
    TextFile out(path);
    out.print("# NURBS surface and trim loops in (u, v); the first loop is the outline\n");
    out.print("surface\n");
    out.print("degree %d %d\n", s.udegree, s.vdegree);
    out.print("form %d %d\n", s.uform, s.vform);
    out.print("cvs %d %d\n", s.ucount, s.vcount);
    print_knots(out, "uknots", s.uknots);
    print_knots(out, "vknots", s.vknots);
    for (const WeightedPoint& p : s.cvs)
        out.print("cv %.17g %.17g %.17g %.17g\n", p.x, p.y, p.z, p.w);
    out.print("loops %zu\n", region.loops.size());
    for (const TrimLoop& loop : region.loops) {
        out.print("loop %zu\n", loop.points.size());
        for (const auto& p : loop.points) out.print("%.17g %.17g\n", p[0], p[1]);
    }
    return out.close();
}

bool write_setup(const std::string& path, const TessellatorSetup& setup) {
    TextFile out(path);
    out.print("initial grid mode %d (%s)\n", static_cast<int>(setup.mode),
              setup.mode == InitialGridMode::degree ? "degree" : "spans");
    out.print("degree %d by %d\n", setup.udegree, setup.vdegree);
    out.print("spans %d by %d\n", setup.uspans, setup.vspans);
    out.print("initial grid %d by %d\n", setup.ucells, setup.vcells);
    out.print("maximum subdivision level %d\n", setup.max_level);
    out.print("flatness tolerance %.17g\n", setup.tolerance);
    if (setup.max_edge > 0)
        out.print("maximum edge length %.17g\n", setup.max_edge);
    else
        out.print("maximum edge length none\n");
    return out.close();
}

bool write_comment(const std::string& path, const std::string& name, const char* patch_name,
                   const char* error_text) {
    TextFile out(path);
    out.print("trim region %s of patch %s failed to tessellate:\n%s", name.c_str(), patch_name,
              error_text);
    return out.close();
}

}  // namespace

bool dump_failed_face(const std::string& name, const char* patch_name, const NurbsSurface& surface,
                      const TrimRegion& region, const TessellatorSetup& setup,
                      const char* error_text) {
    std::string base = name;
    std::replace(base.begin(), base.end(), '/', '_');
    // Instances of one patch share its name: two threads must not write the
    // same files at once.
    static std::mutex writing;
    std::lock_guard lock(writing);
    const bool geometry = write_geometry(base + ".ag", surface, region);
    const bool settings = write_setup(base + ".setup", setup);
    const bool comment = write_comment(base + ".comment", base, patch_name, error_text);
    return geometry && settings && comment;
}

}  // namespace sky
