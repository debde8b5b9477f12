#include "scene/matrix.h"

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

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += a.m[row * 4 + k] * b.m[k * 4 + column];
            r.m[row * 4 + column] = sum;
        }
    return r;
}

bool Ar_invert_matrix(const Matrix4& m, Matrix4& out) {
    // Gauss-Jordan with partial pivoting, in double precision: placements
    // mix large translations with small scales.
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

Triple transform_point(const Triple& p, const Matrix4& m, float* w) {
    const float* e = m.m;
    Triple r{p.x * e[0] + p.y * e[4] + p.z * e[8] + e[12],
             p.x * e[1] + p.y * e[5] + p.z * e[9] + e[13],
             p.x * e[2] + p.y * e[6] + p.z * e[10] + e[14]};
    if (w) *w = p.x * e[3] + p.y * e[7] + p.z * e[11] + e[15];
    return r;
}

Triple transform_vector(const Triple& v, const Matrix4& m) {
    const float* e = m.m;
    return {v.x * e[0] + v.y * e[4] + v.z * e[8], v.x * e[1] + v.y * e[5] + v.z * e[9],
            v.x * e[2] + v.y * e[6] + v.z * e[10]};
}

}  // namespace sky
