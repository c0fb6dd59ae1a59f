// The browsing state and the input bindings that change it. Knows nothing of windows or GL:
// the window procedure hands over decoded input, the renderer reads the state once per frame.
#pragma once

#include <cstdint>

// Fixed browsing constants.
struct BrowseParams {
    float step = 1.5f;       // degrees of arc per key press or wheel message; a drag moves twice this
    float arcLimit = 60.0f;  // degrees; beyond it a picture slides away instead of following the arc
    float arcRadius = 1.8f;  // scene units; radius of both arcs
};
inline constexpr BrowseParams kBrowseParams{};

struct BrowseState {
    float verticalOffset = 0.0f;    // degrees; added to the column pictures' base angles
    float horizontalOffset = 0.0f;  // degrees; added to the row pictures' base angles
    bool verticalMode = false;      // true: the centre picture is on the column's arc
    float viewPitch = 0.0f;         // degrees about X; the renderer wraps it to 0 at 360
    float viewYaw = 0.0f;           // degrees about Y; never wrapped
    float tilt = 0.0f;              // degrees; each side picture about its own axis, only grows
    bool dragging = false;          // the left button is held
    std::int32_t lastMouseX = 0;    // client pixels; x of the previous mouse-move message
};

// The one browsing state of the program.
extern BrowseState g_browseState;

// Virtual-key codes the bindings react to, with the desktop's values.
inline constexpr std::uint32_t kKeyEnd = 0x23;
inline constexpr std::uint32_t kKeyHome = 0x24;
inline constexpr std::uint32_t kKeyLeft = 0x25;
inline constexpr std::uint32_t kKeyUp = 0x26;
inline constexpr std::uint32_t kKeyRight = 0x27;
inline constexpr std::uint32_t kKeyDown = 0x28;
inline constexpr std::uint32_t kKeyInsert = 0x2D;
inline constexpr std::uint32_t kKeyDelete = 0x2E;

// One key-down message: one step, whatever its repeat count; unbound keys change nothing.
void HandleKeyDown(std::uint32_t virtualKey);

// Left button pressed (true) or released (false); starts or ends a drag.
void HandleLeftButton(bool down);

// Right button pressed: the side pictures tilt 0.4 degrees further.
void HandleRightButtonDown();

// Mouse moved to client x (the position word's low 16 bits, unsigned); while dragging, each
// move left or right scrolls the row by two steps, however far it went.
void HandleMouseMove(std::uint32_t x);

// Wheel turned; delta is the signed high word of the message (positive: away from the user).
void HandleMouseWheel(std::int32_t delta);
