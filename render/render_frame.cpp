#include "render/render_frame.h"

#include <GL/gl.h>

#include "browse/browse_state.h"
#include "platform/system.h"
#include "textures/picture_set.h"

namespace {

// Scene constants; material values apply to front faces.
constexpr GLfloat kClearColour[4] = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr GLfloat kSceneDistance = -6.0f;  // scene units from the eye along -Z
constexpr GLfloat kPictureColour[3] = {0.75f, 0.75f, 0.75f};
constexpr GLfloat kMaterialAmbient[4] = {0.24725f, 0.1995f, 0.0745f, 1.0f};
constexpr GLfloat kMaterialDiffuse[4] = {0.75164f, 0.60648f, 0.22648f, 1.0f};
constexpr GLfloat kMaterialSpecular[4] = {0.628281f, 0.555802f, 0.366065f, 1.0f};
constexpr GLfloat kMaterialShininess = 51.2f;
constexpr GLfloat kLight0ConstantAttenuation = 0.1f;
constexpr GLfloat kLight0LinearAttenuation = 0.05f;
constexpr GLfloat kLight0Position[4] = {-5.0f, 5.0f, 8.0f, 1.0f};
constexpr GLfloat kLight0Diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr GLfloat kLight0Ambient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
constexpr GLfloat kLight1Position[4] = {5.0f, -1.0f, -5.0f, 1.0f};
constexpr GLfloat kLight1Ambient[4] = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr GLfloat kLight1Diffuse[4] = {0.4f, 0.4f, 0.4f, 1.0f};
constexpr GLfloat kLight1Specular[4] = {0.5f, 0.5f, 0.5f, 1.0f};
constexpr unsigned kFramePauseMs = 2;
constexpr float kFullTurn = 360.0f;

void BindPictureTexture(int textureIndex) {
    glBindTexture(GL_TEXTURE_2D, g_pictureSet.records[textureIndex].name);
}

}  // namespace

void SetUpLights() {
    glLightf(GL_LIGHT0, GL_CONSTANT_ATTENUATION, kLight0ConstantAttenuation);
    glLightf(GL_LIGHT0, GL_LINEAR_ATTENUATION, kLight0LinearAttenuation);
    glLightfv(GL_LIGHT0, GL_POSITION, kLight0Position);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kLight0Diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, kLight0Ambient);
    glLightfv(GL_LIGHT1, GL_POSITION, kLight1Position);
    glLightfv(GL_LIGHT1, GL_AMBIENT, kLight1Ambient);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, kLight1Diffuse);
    glLightfv(GL_LIGHT1, GL_SPECULAR, kLight1Specular);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
}

void SetUpSceneState() {
    glEnable(GL_LIGHTING);
    glEnable(GL_COLOR_MATERIAL);
    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    glMaterialfv(GL_FRONT, GL_AMBIENT, kMaterialAmbient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, kMaterialDiffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, kMaterialSpecular);
    glMaterialf(GL_FRONT, GL_SHININESS, kMaterialShininess);
    glEnable(GL_CULL_FACE);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    SetUpLights();
}

void PlaceOnArc(ArcAxis axis, float angle) {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    ArcAxisVector(axis, x, y, z);
    const ArcPlacement placement = ArcPlacementFor(axis, angle);
    for (int i = 0; i < placement.count; ++i) {
        const ArcStep& step = placement.steps[static_cast<std::size_t>(i)];
        if (step.rotate) {
            glRotatef(step.angle, x, y, z);
        } else {
            glTranslatef(step.x, step.y, step.z);
        }
    }
}

void DrawPictureQuad(ArcAxis tiltAxis, int tiltSign) {
    glPushMatrix();
    if (tiltSign != 0) {
        const float tilt = g_browseState.tilt;
        const float angle = tiltSign > 0 ? tilt : -tilt;
        if (tiltAxis == ArcAxis::Vertical) {
            glRotatef(angle, 1.0f, 0.0f, 0.0f);
        } else {
            glRotatef(angle, 0.0f, 1.0f, 0.0f);
        }
    }
    glBegin(GL_QUADS);
    // The normal points away from the viewer; with the lights' placement that is what gives the
    // squares their look.
    glNormal3f(0.0f, 0.0f, -1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-0.5f, -0.5f, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(0.5f, -0.5f, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(0.5f, 0.5f, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-0.5f, 0.5f, 0.0f);
    glEnd();
    glPopMatrix();
}

void DrawCentrePicture() {
    BindPictureTexture(0);
    glPushMatrix();
    if (g_browseState.verticalMode) {
        PlaceOnArc(ArcAxis::Vertical, g_browseState.verticalOffset);
    } else {
        PlaceOnArc(ArcAxis::Horizontal, g_browseState.horizontalOffset);
    }
    DrawPictureQuad(ArcAxis::Vertical, 0);
    glPopMatrix();
}

void DrawSidePicture(int slot) {
    const SideSlot& side = kSideSlots[static_cast<std::size_t>(slot - 1)];
    BindPictureTexture(side.textureIndex);
    glPushMatrix();
    const float offset = side.axis == ArcAxis::Vertical ? g_browseState.verticalOffset
                                                        : g_browseState.horizontalOffset;
    PlaceOnArc(side.axis, offset + side.baseAngle);
    DrawPictureQuad(side.axis, side.tiltSign);
    glPopMatrix();
}

void DrawScene() {
    glEnable(GL_DEPTH_TEST);
    glClearColor(kClearColour[0], kClearColour[1], kClearColour[2], kClearColour[3]);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    SetUpSceneState();
    // Wrapped to 0, not by subtracting a turn: the view jumps back to level when it comes round.
    if (g_browseState.viewPitch >= kFullTurn) {
        g_browseState.viewPitch = 0.0f;
    }
    glPushMatrix();
    glTranslatef(0.0f, 0.0f, kSceneDistance);
    glRotatef(g_browseState.viewPitch, 1.0f, 0.0f, 0.0f);
    glRotatef(g_browseState.viewYaw, 0.0f, 1.0f, 0.0f);
    glColor3f(kPictureColour[0], kPictureColour[1], kPictureColour[2]);
    DrawCentrePicture();
    for (int slot = 1; slot <= static_cast<int>(kSideSlots.size()); ++slot) {
        DrawSidePicture(slot);
    }
    glPopMatrix();
    glFlush();
}

void RenderFrame(platform::HDC dc) {
    platform::Sleep(kFramePauseMs);
    DrawScene();
    platform::SwapBuffers(dc);
}
