// Arc layout: where a picture's centre lands for an arc angle, and that it never turns.
#include <gtest/gtest.h>

#include <cmath>

#include "browse/arc_layout.h"

namespace {

struct Point {
    float x, y, z;
};

Point CentreOf(ArcAxis axis, float angle) {
    const Matrix4 m = ArcPlacementMatrix(axis, angle);
    return Point{m[12], m[13], m[14]};
}

struct PlacementCase {
    ArcAxis axis;
    float angle;
    Point centre;
};

TEST(ArcLayoutTest, CentresLandOnTheArcAndSlideBeyondIt) {
    const ArcAxis V = ArcAxis::Vertical;
    const ArcAxis H = ArcAxis::Horizontal;
    const PlacementCase cases[] = {
        {V, 0.0f, {0, 0, 1.8f}},          {H, 0.0f, {0, 0, 1.8f}},
        {V, 30.0f, {0, -0.9f, 1.5588f}},  {H, 30.0f, {0.9f, 0, 1.5588f}},
        {V, -30.0f, {0, 0.9f, 1.5588f}},  {H, -30.0f, {-0.9f, 0, 1.5588f}},
        {V, 60.0f, {0, -1.5588f, 0.9f}},  {H, -60.0f, {-1.5588f, 0, 0.9f}},
        {V, 61.5f, {0, -1.5838f, 0.85f}}, {H, 61.5f, {1.6088f, 0, 0.85f}},
        {V, 90.0f, {0, -2.0588f, -0.1f}}, {H, 90.0f, {2.5588f, 0, -0.1f}},
        {V, -90.0f, {0, 2.0588f, -0.1f}}, {H, -90.0f, {-2.5588f, 0, -0.1f}},
        {V, 120.0f, {0, -2.5588f, -1.1f}}, {H, -61.5f, {-1.6088f, 0, 0.85f}},
        {V, 960.0f, {0, -1.5588f - 15.0f, 0.9f - 30.0f}},
    };
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.axis == V ? "vertical " : "horizontal ") << c.angle);
        const Point p = CentreOf(c.axis, c.angle);
        EXPECT_NEAR(p.x, c.centre.x, 1e-3f);
        EXPECT_NEAR(p.y, c.centre.y, 1e-3f);
        EXPECT_NEAR(p.z, c.centre.z, 1e-3f);
    }
}

TEST(ArcLayoutTest, PicturesNeverTurnWithTheAngle) {
    for (ArcAxis axis : {ArcAxis::Vertical, ArcAxis::Horizontal}) {
        for (float angle : {-200.0f, -61.0f, -60.0f, -12.5f, 0.0f, 45.0f, 60.0f, 75.0f, 400.0f}) {
            SCOPED_TRACE(angle);
            const Matrix4 m = ArcPlacementMatrix(axis, angle);
            const float identity[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
            for (int i = 0; i < 12; ++i) {
                EXPECT_NEAR(m[static_cast<std::size_t>(i)], identity[i], 1e-5f) << "element " << i;
            }
            EXPECT_FLOAT_EQ(m[15], 1.0f);
        }
    }
}

TEST(ArcLayoutTest, SlideIsContinuousAtTheLimits) {
    for (ArcAxis axis : {ArcAxis::Vertical, ArcAxis::Horizontal}) {
        for (float limit : {60.0f, -60.0f}) {
            const float beyond = limit > 0 ? std::nextafter(limit, 1000.0f) : std::nextafter(limit, -1000.0f);
            const Point at = CentreOf(axis, limit);
            const Point past = CentreOf(axis, beyond);
            EXPECT_NEAR(at.x, past.x, 1e-4f);
            EXPECT_NEAR(at.y, past.y, 1e-4f);
            EXPECT_NEAR(at.z, past.z, 1e-4f);
        }
    }
}

TEST(ArcLayoutTest, ExactLimitTakesTheArcBranch) {
    EXPECT_EQ(ArcPlacementFor(ArcAxis::Vertical, 60.0f).count, 3);
    EXPECT_EQ(ArcPlacementFor(ArcAxis::Vertical, -60.0f).count, 3);
    EXPECT_EQ(ArcPlacementFor(ArcAxis::Horizontal, 60.01f).count, 4);
}

TEST(ArcLayoutTest, SlotTableMatchesTheCrossLayout) {
    // At offset 0 the column's positive angles lie below the centre and the row's to its right;
    // tilt signs are negative below and right, positive above and left.
    int seen[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const SideSlot& slot : kSideSlots) {
        seen[slot.textureIndex] += 1;
        const Point p = CentreOf(slot.axis, slot.baseAngle);
        if (slot.axis == ArcAxis::Vertical) {
            EXPECT_EQ(p.y < 0, slot.tiltSign < 0) << slot.textureIndex;
            EXPECT_NEAR(p.x, 0.0f, 1e-6f);
        } else {
            EXPECT_EQ(p.x > 0, slot.tiltSign < 0) << slot.textureIndex;
            EXPECT_NEAR(p.y, 0.0f, 1e-6f);
        }
    }
    for (int count : seen) EXPECT_EQ(count, 1);
}

}  // namespace
