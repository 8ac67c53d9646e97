// The X screen's own picture as a PNG file, to compare with what a viewer
// shows (ZTVL --snapshot FILE). The root window is read once with
// XGetImage; the pointer is not in it, as it is not in the shared screen
// file.
#pragma once

#include <string>

namespace velmora {

// `display` empty means $DISPLAY. False with a sentence in `error`.
[[nodiscard]] bool WriteX11Snapshot(const std::string& display, const std::string& file,
                                    std::string* error);

}  // namespace velmora
