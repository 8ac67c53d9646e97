// Expands arbitrary bytes as a compressed stream with both libraries.
// Input: the announced length (2 bytes, little-endian), then the stream.
// Checks: nothing is written past the announced length, a success is exactly
// the announced length, and when both libraries succeed their bytes agree;
// whatever zlib accepts, libdeflate (the more lenient) accepts too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/screen/tlz.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanaryBytes = 64;

int ExpandChecked(velmora::TLZ& lz, const uint8_t* stream, size_t length, size_t announced,
                  std::vector<uint8_t>& out) {
    out.assign(announced + kCanaryBytes, kCanary);
    const int result = lz.Expand(stream, length, out.data(), announced);
    for (size_t i = announced; i < out.size(); ++i) {
        if (out[i] != kCanary) std::abort();  // wrote past the announced length
    }
    if (result >= 0 && static_cast<size_t>(result) != announced) std::abort();
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t announced = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8;
    static velmora::TLZ zlib(velmora::TlzLibrary::Zlib, velmora::TlzLibrary::Zlib);
    static velmora::TLZ libdeflate(velmora::TlzLibrary::Libdeflate,
                                   velmora::TlzLibrary::Libdeflate);
    static std::vector<uint8_t> a, b;
    const int ra = ExpandChecked(zlib, data + 2, size - 2, announced, a);
    const int rb = ExpandChecked(libdeflate, data + 2, size - 2, announced, b);
    if (ra >= 0 && rb < 0) std::abort();
    if (ra >= 0 && rb >= 0 && std::memcmp(a.data(), b.data(), announced) != 0) std::abort();
    return 0;
}
