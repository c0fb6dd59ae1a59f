#include "browse/arc_layout.h"

#include <cmath>

#include "browse/browse_state.h"

namespace {

constexpr float kSlideDegreesPerUnit = 30.0f;  // arc degrees per scene unit of slide depth
constexpr float kDegreesToRadians = 3.14159265358979f / 180.0f;

ArcStep Rotate(float angle) { return ArcStep{true, angle, 0.0f, 0.0f, 0.0f}; }
ArcStep Translate(float x, float y, float z) { return ArcStep{false, 0.0f, x, y, z}; }

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 result{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) {
                sum += a[static_cast<std::size_t>(k * 4 + row)] *
                       b[static_cast<std::size_t>(column * 4 + k)];
            }
            result[static_cast<std::size_t>(column * 4 + row)] = sum;
        }
    }
    return result;
}

// The matrix glRotatef or glTranslatef would multiply by.
Matrix4 StepMatrix(ArcAxis axis, const ArcStep& step) {
    Matrix4 m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    if (!step.rotate) {
        m[12] = step.x;
        m[13] = step.y;
        m[14] = step.z;
        return m;
    }
    const float c = std::cos(step.angle * kDegreesToRadians);
    const float s = std::sin(step.angle * kDegreesToRadians);
    if (axis == ArcAxis::Vertical) {
        m[5] = c;
        m[6] = s;
        m[9] = -s;
        m[10] = c;
    } else {
        m[0] = c;
        m[2] = -s;
        m[8] = s;
        m[10] = c;
    }
    return m;
}

}  // namespace

void ArcAxisVector(ArcAxis axis, float& x, float& y, float& z) {
    x = axis == ArcAxis::Vertical ? 1.0f : 0.0f;
    y = axis == ArcAxis::Horizontal ? 1.0f : 0.0f;
    z = 0.0f;
}

ArcPlacement ArcPlacementFor(ArcAxis axis, float angle) {
    const float limit = kBrowseParams.arcLimit;
    const float radius = kBrowseParams.arcRadius;
    const bool vertical = axis == ArcAxis::Vertical;
    if (angle > limit) {
        // Past the end of the arc the picture leaves the circle and slides away: down the
        // column or right along the row, half a unit (column) or one unit (row) per unit of depth.
        const float e = (angle - limit) / kSlideDegreesPerUnit;
        const ArcStep slide = vertical ? Translate(0.0f, -0.5f * e, -e) : Translate(e, 0.0f, -e);
        return ArcPlacement{{slide, Rotate(limit), Translate(0.0f, 0.0f, radius), Rotate(-limit)}, 4};
    }
    if (angle < -limit) {
        const float e = (angle + limit) / -kSlideDegreesPerUnit;
        const ArcStep slide = vertical ? Translate(0.0f, 0.5f * e, -e) : Translate(-e, 0.0f, -e);
        return ArcPlacement{{slide, Rotate(-limit), Translate(0.0f, 0.0f, radius), Rotate(limit)}, 4};
    }
    // The two rotations cancel, so the picture keeps facing the viewer; only its position moves.
    return ArcPlacement{{Rotate(angle), Translate(0.0f, 0.0f, radius), Rotate(-angle), ArcStep{}}, 3};
}

Matrix4 ArcPlacementMatrix(ArcAxis axis, float angle) {
    const ArcPlacement placement = ArcPlacementFor(axis, angle);
    Matrix4 m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < placement.count; ++i) {
        m = Multiply(m, StepMatrix(axis, placement.steps[static_cast<std::size_t>(i)]));
    }
    return m;
}
