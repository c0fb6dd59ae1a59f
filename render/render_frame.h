// Draws one frame of the scene: the fixed-function state, two lights, the view rotation and the
// nine lit, textured picture squares on their arcs.
#pragma once

#include "browse/arc_layout.h"
#include "platform/window.h"

// Sleeps 2 ms, draws the frame and presents it on dc. Needs the context current; wraps
// viewPitch to 0 once it reaches 360.
void RenderFrame(platform::HDC dc);

// The frame without the pause and the present: clear, state, lights, the nine pictures, flush.
void DrawScene();

// Per-frame fixed-function state, material and lights.
void SetUpSceneState();

// The two lights, fixed in eye space (the model-view matrix is the identity when called).
void SetUpLights();

// Multiplies the current model-view matrix by the placement of a picture at angle on axis.
void PlaceOnArc(ArcAxis axis, float angle);

// The centre picture, on the arc the user scrolled last.
void DrawCentrePicture();

// The side picture of kSideSlots[slot - 1], slot 1 to 8.
void DrawSidePicture(int slot);

// The unit square, turned by the tilt about tiltAxis when tiltSign is not 0.
void DrawPictureQuad(ArcAxis tiltAxis, int tiltSign);
