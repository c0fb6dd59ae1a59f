// The program's frame on the desktop: entry, window procedure and main loop.
#pragma once

#include "platform/window.h"

// Draws and presents one frame on the window's surface.
using FrameFunction = void (*)(platform::HDC dc);

// Registers the class, creates and shows the window and runs the loop until the quit message;
// returns its exit code (0 when registration or creation fails). Each pass draws with
// renderFrame while the rendering context exists.
int RunVarnolt(FrameFunction renderFrame);

// Takes one message per pass, renders, then dispatches the message taken last again and again
// while nothing new arrives. Returns the quit message's code.
int RunMainLoop(platform::HWND window, FrameFunction renderFrame);

// Handles creation, size, close and input; everything else goes to the default handler.
platform::LRESULT WindowProcedure(platform::HWND window, platform::UINT message,
                                  platform::WPARAM wParam, platform::LPARAM lParam);

// The window's device context and rendering context: set at creation; the rendering context
// is deleted at close (null afterwards), the device context kept to the end.
extern platform::HDC g_deviceContext;
extern platform::HGLRC g_renderContext;

// Window constants.
inline constexpr const char* kClassName = "MyClass";
inline constexpr const char* kWindowTitle = "OpenGL Varnolt";
inline constexpr int kClientWidth = 540;
inline constexpr int kClientHeight = 350;
inline constexpr double kFieldOfViewDegrees = 50.0;
inline constexpr double kNearPlane = 1.0;
inline constexpr double kFarPlane = 500.0;
