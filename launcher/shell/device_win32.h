// The window's Direct3D 11 device and flip-model swap chain, the back
// buffer's resize, and the screenshot copy of the back buffer.
#pragma once

#include <windows.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher {

struct Device {
    ID3D11Device* device = nullptr;
    ID3D11DeviceContext* context = nullptr;
    IDXGISwapChain1* swapChain = nullptr;
    ID3D11RenderTargetView* target = nullptr;
    int width = 1, height = 1;  // the swap chain's buffer size
    bool warp = false;          // the device runs on the WARP software rasteriser
};

// Hardware first (unless `warp`), then WARP; a swap chain of the window's
// client size (at least 1 x 1). False with the fixed error texts.
bool createDevice(HWND window, bool warp, Device& out, std::string& error);
void releaseDevice(Device& device);
// Resizes the buffers (count and format kept) when the size changed; false
// keeps the old size.
bool resizeDevice(Device& device, int width, int height);
// The back buffer as RGBA with every alpha 255.
bool captureBackBuffer(Device& device, std::vector<uint8_t>& rgba, int& width, int& height);

}  // namespace ember::launcher
