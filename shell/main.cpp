// Varnolt: nine pictures on arcs in a lit 3D scene. Reads no command line and no environment.
#include "render/render_frame.h"
#include "shell/app.h"

int main() { return RunVarnolt(RenderFrame); }
