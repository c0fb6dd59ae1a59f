#include "browse/browse_state.h"

BrowseState g_browseState;

namespace {
constexpr float kViewTurn = 0.3f;  // degrees per Home/End/Insert/Delete message
constexpr float kTiltStep = 0.4f;  // degrees per right-button press
}  // namespace

void HandleKeyDown(std::uint32_t virtualKey) {
    BrowseState& state = g_browseState;
    switch (virtualKey) {
        case kKeyDown:
            state.verticalOffset += kBrowseParams.step;
            state.verticalMode = true;
            break;
        case kKeyUp:
            state.verticalOffset -= kBrowseParams.step;
            state.verticalMode = true;
            break;
        case kKeyRight:
            state.horizontalOffset += kBrowseParams.step;
            state.verticalMode = false;
            break;
        case kKeyLeft:
            state.horizontalOffset -= kBrowseParams.step;
            state.verticalMode = false;
            break;
        case kKeyHome: state.viewPitch += kViewTurn; break;
        case kKeyEnd: state.viewPitch -= kViewTurn; break;
        case kKeyInsert: state.viewYaw -= kViewTurn; break;
        case kKeyDelete: state.viewYaw += kViewTurn; break;
        default: break;
    }
}

void HandleLeftButton(bool down) { g_browseState.dragging = down; }

void HandleRightButtonDown() { g_browseState.tilt += kTiltStep; }

void HandleMouseMove(std::uint32_t x) {
    BrowseState& state = g_browseState;
    const auto position = static_cast<std::int32_t>(x & 0xFFFFu);
    if (state.dragging && position > state.lastMouseX) {
        state.horizontalOffset += 2.0f * kBrowseParams.step;
        state.verticalMode = false;
    } else if (state.dragging && position < state.lastMouseX) {
        state.horizontalOffset -= 2.0f * kBrowseParams.step;
        state.verticalMode = false;
    }
    state.lastMouseX = position;
}

void HandleMouseWheel(std::int32_t delta) {
    BrowseState& state = g_browseState;
    if (delta > 0) {
        state.verticalOffset -= kBrowseParams.step;
        state.verticalMode = true;
    } else if (delta < 0) {
        state.verticalOffset += kBrowseParams.step;
        state.verticalMode = true;
    }
}
