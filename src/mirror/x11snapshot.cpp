#include "mirror/x11snapshot.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "mirror/pixelconverter.h"
#include "platform/pngcodec.h"

namespace velmora {

bool WriteX11Snapshot(const std::string& display, const std::string& file, std::string* error) {
    Display* x = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (x == nullptr) {
        const char* name = display.empty() ? std::getenv("DISPLAY") : display.c_str();
        *error = std::string("cannot open the X display ") +
                 (name != nullptr ? name : "(DISPLAY is not set)");
        return false;
    }
    const int screen = DefaultScreen(x);
    const Window root = RootWindow(x, screen);
    const Visual* visual = DefaultVisual(x, screen);
    const int width = DisplayWidth(x, screen), height = DisplayHeight(x, screen);
    XImage* image = XGetImage(x, root, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    bool ok = image != nullptr;
    PixelConverter converter;
    if (!ok) {
        *error = "cannot read the X screen";
    } else if (!converter.Configure(image->bits_per_pixel, image->byte_order == MSBFirst,
                                    static_cast<uint32_t>(visual->red_mask),
                                    static_cast<uint32_t>(visual->green_mask),
                                    static_cast<uint32_t>(visual->blue_mask))) {
        *error = "the X screen's pixel format is not a true-colour format of 16, 24 or 32 bits";
        ok = false;
    } else {
        // The converter gives the screen file's pixels (green, blue, red, 0).
        std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
        std::vector<uint32_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height));
        for (int y = 0; y < height; ++y) {
            converter.ConvertRow(reinterpret_cast<const uint8_t*>(image->data) +
                                     static_cast<size_t>(y) * image->bytes_per_line,
                                 row.data(), width);
            uint32_t* out = pixels.data() + static_cast<size_t>(y) * width;
            for (int i = 0; i < width; ++i) {
                const uint8_t* p = row.data() + static_cast<size_t>(i) * 4;
                out[i] = 0xFF000000u | uint32_t{p[2]} << 16 | uint32_t{p[0]} << 8 | p[1];
            }
        }
        ok = WritePngFile(file, pixels.data(), width, height, static_cast<size_t>(width), false,
                          error) == pngOk;
    }
    if (image != nullptr) XDestroyImage(image);
    XCloseDisplay(x);
    return ok;
}

}  // namespace velmora
