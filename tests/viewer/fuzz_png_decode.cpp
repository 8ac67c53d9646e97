// The PNG decoder on arbitrary bytes. Checks (beyond the sanitizers): a
// decoded picture has as many pixels as its sides say, and encoding it again
// and decoding that gives the same pixels.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/pngcodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    PngPicture picture;
    if (DecodePng(data, size, &picture) != pngOk) return 0;
    if (picture.width < 1 || picture.height < 1 ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height) {
        std::abort();
    }
    std::vector<uint8_t> again;
    if (EncodePng(picture.pixels.data(), picture.width, picture.height,
                  static_cast<size_t>(picture.width), true, again) != pngOk) {
        std::abort();
    }
    PngPicture second;
    if (DecodePng(again.data(), again.size(), &second) != pngOk ||
        second.pixels != picture.pixels) {
        std::abort();
    }
    return 0;
}
