// Where each picture sits: angles on two circular arcs around the scene origin, with a straight
// slide away from the viewer beyond the arc limit.
#pragma once

#include <array>

// Which arc a picture is on.
enum class ArcAxis {
    Vertical,    // the column; arc angles turn about the X axis
    Horizontal,  // the row; arc angles turn about the Y axis
};

// One of the eight pictures around the centre.
struct SideSlot {
    ArcAxis axis;      // the arc it moves on
    float baseAngle;   // degrees; added to its arc's offset
    int textureIndex;  // record of the picture set it shows
    int tiltSign;      // +1 or -1: direction the tilt turns it
};

// The side pictures in drawing order (the centre, texture 0, is drawn before them).
inline constexpr std::array<SideSlot, 8> kSideSlots = {{
    {ArcAxis::Vertical, 30.0f, 1, -1},     // first below
    {ArcAxis::Vertical, 60.0f, 2, -1},     // second below
    {ArcAxis::Vertical, -30.0f, 3, +1},    // first above
    {ArcAxis::Vertical, -60.0f, 4, +1},    // second above
    {ArcAxis::Horizontal, 30.0f, 5, -1},   // first right
    {ArcAxis::Horizontal, 60.0f, 6, -1},   // second right
    {ArcAxis::Horizontal, -30.0f, 7, +1},  // first left
    {ArcAxis::Horizontal, -60.0f, 8, +1},  // second left
}};

// Unit vector an arc's rotations turn about.
void ArcAxisVector(ArcAxis axis, float& x, float& y, float& z);

// One matrix operation of a placement, as OpenGL would apply it.
struct ArcStep {
    bool rotate;    // true: rotate by angle about the arc's axis; false: translate by (x, y, z)
    float angle;    // degrees, for a rotation
    float x, y, z;  // scene units, for a translation
};

// The placement of a picture at an arc angle: up to four operations, each to be multiplied on
// the right of the current model-view matrix, in order.
struct ArcPlacement {
    std::array<ArcStep, 4> steps;  // the operations, first to last
    int count;                     // how many of steps are used
};
ArcPlacement ArcPlacementFor(ArcAxis axis, float angle);

// Column-major 4 × 4 matrix, as OpenGL stores it.
using Matrix4 = std::array<float, 16>;

// The placement composed into one matrix, for checking it without a GL context.
Matrix4 ArcPlacementMatrix(ArcAxis axis, float angle);
