// KilnUI's Windows half: GDI fonts behind the FontProvider seam, the
// Direct3D 11 renderer of the draw list, and window messages into the input
// queue. Only *_win32.cpp files include this header.
//
// Start-up order: the launcher creates the device and swap chain, then
// initRenderer (pipeline objects, GDI fonts, the painter; the toolkit counts
// as started from then on), then each frame: beginFrame ... endFrame,
// renderFrame into the bound target, present. shutdownRenderer undoes it all.
#pragma once

#include <windows.h>
#include <d3d11.h>

#include <string>

namespace kiln {

// GDI fonts: installs the GDI font provider, registers the default family
// and makes the glyph atlas; the folder hook registers private *.ttf fonts.
// False with "KilnUI: CreateCompatibleDC failed" when GDI has no memory DC.
bool startGdiFonts(std::string& error);
void stopGdiFonts();
// Registers every *.ttf in `folder` as a private font of the process;
// returns how many were added.
int registerPrivateFonts(const std::string& folder);

// Compiles the shaders, creates the pipeline states and the atlas textures,
// starts the fonts and the painter. False with one of the fixed messages.
bool initRenderer(ID3D11Device* device, std::string& error);
// Uploads what changed and draws the current draw list into `target`
// (width x height pixels). Does nothing before initRenderer.
void renderFrame(ID3D11RenderTargetView* target, int width, int height);
// Releases everything initRenderer made and forgets the toolkit's state.
void shutdownRenderer();

// The window procedure's hook: maps the message into the input queue, with
// Control read from the keyboard state. Returns feedMessage's answer.
bool feedWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The vertex and pixel shader sources, as compiled at start.
extern const char* const kVertexShaderSource;
extern const char* const kColourShaderSource;
extern const char* const kCoverageShaderSource;

}  // namespace kiln
