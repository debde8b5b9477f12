// The matrices of vecmath.h that are made or combined rather than applied:
// scene evaluation and camera set-up, not the per-sample paths.
#include "base/vecmath.h"

#include <cmath>
#include <utility>

namespace sky {

Matrix4 identity_matrix() {
    return Matrix4{};
}

Matrix4 axis_rotation(int axis, double sine, double cosine) {
    const float s = static_cast<float>(sine), c = static_cast<float>(cosine);
    Matrix4 r;
    switch (axis) {
        case 1:
            r.m[5] = r.m[10] = c;
            r.m[6] = s;
            r.m[9] = -s;
            break;
        case 2:
            r.m[0] = r.m[10] = c;
            r.m[8] = s;
            r.m[2] = -s;
            break;
        case 3:
            r.m[0] = r.m[5] = c;
            r.m[1] = s;
            r.m[4] = -s;
            break;
        default:
            break;
    }
    return r;
}

Matrix4 translation_matrix(const Triple& offset) {
    Imath::M44f t;
    t.setTranslation(to_imath(offset));
    return to_matrix4(t);
}

Matrix4 scale_matrix(const Triple& factors) {
    Imath::M44f s;
    s.setScale(to_imath(factors));
    return to_matrix4(s);
}

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    return to_matrix4(to_imath(a) * to_imath(b));
}

bool Ar_invert_matrix(const Matrix4& m, Matrix4& out) {
    // Gauss-Jordan with partial pivoting, in double precision: placements
    // mix large translations with small scales, and Imath's inverses work
    // in the matrix's own single precision.
    double a[4][8];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            a[i][j] = m.m[i * 4 + j];
            a[i][j + 4] = i == j ? 1.0 : 0.0;
        }
    for (int column = 0; column < 4; ++column) {
        int pivot = column;
        for (int row = column + 1; row < 4; ++row)
            if (std::fabs(a[row][column]) > std::fabs(a[pivot][column])) pivot = row;
        if (std::fabs(a[pivot][column]) < 1e-30) {
            out = Matrix4{};
            return false;
        }
        if (pivot != column)
            for (int j = 0; j < 8; ++j) std::swap(a[pivot][j], a[column][j]);
        double scale = 1.0 / a[column][column];
        for (int j = 0; j < 8; ++j) a[column][j] *= scale;
        for (int row = 0; row < 4; ++row) {
            if (row == column || a[row][column] == 0.0) continue;
            double factor = a[row][column];
            for (int j = 0; j < 8; ++j) a[row][j] -= factor * a[column][j];
        }
    }
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out.m[i * 4 + j] = static_cast<float>(a[i][j + 4]);
    return true;
}

}  // namespace sky
