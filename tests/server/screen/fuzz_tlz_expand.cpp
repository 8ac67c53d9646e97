// The stream expander on arbitrary and on damaged real streams, with both
// libraries. The first byte picks the mode:
//   even: the announced length (2 bytes, little-endian), then a stream;
//   odd:  a level and compressor byte, a damage byte, then damage positions
//         (2 bytes each) and the payload. The payload is compressed, up to
//         three bits of the stream are flipped, and the result expanded with
//         the payload's length, or one byte off when the damage byte says so.
// Checks: nothing is written past the announced length; a success is exactly
// the announced length; when both libraries succeed their bytes agree;
// whatever zlib accepts, libdeflate (the more lenient) accepts too; and an
// undamaged stream expands to its payload.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/screen/tlz.h"

namespace {

using velmora::TLZ;
using velmora::TlzLibrary;

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanaryBytes = 64;

int ExpandChecked(TLZ& lz, const uint8_t* stream, size_t length, size_t announced,
                  std::vector<uint8_t>& out) {
    out.assign(announced + kCanaryBytes, kCanary);
    const int result = lz.Expand(stream, length, out.data(), announced);
    for (size_t i = announced; i < out.size(); ++i) {
        if (out[i] != kCanary) std::abort();  // wrote past the announced length
    }
    if (result >= 0 && static_cast<size_t>(result) != announced) std::abort();
    return result;
}

// Expands with both libraries and checks that they agree; true when zlib
// (the strict one) accepted the stream.
bool ExpandBoth(const uint8_t* stream, size_t length, size_t announced, std::vector<uint8_t>& out) {
    static TLZ zlib(TlzLibrary::Zlib, TlzLibrary::Zlib);
    static TLZ libdeflate(TlzLibrary::Libdeflate, TlzLibrary::Libdeflate);
    static std::vector<uint8_t> other;
    const int ra = ExpandChecked(zlib, stream, length, announced, out);
    const int rb = ExpandChecked(libdeflate, stream, length, announced, other);
    if (ra >= 0 && rb < 0) std::abort();
    if (ra >= 0 && rb >= 0 && std::memcmp(out.data(), other.data(), announced) != 0) {
        std::abort();
    }
    return ra >= 0;
}

void DamagedRealStream(const uint8_t* data, size_t size) {
    if (size < 2) return;
    const uint8_t setup = data[0], damage = data[1];
    const int flips = damage & 3;
    const size_t header = 2 + 2 * static_cast<size_t>(flips);
    if (size < header) return;
    const uint8_t* payload = data + header;
    const size_t payloadLength = size - header;

    static TLZ compressors[2] = {TLZ(TlzLibrary::Zlib, TlzLibrary::Zlib),
                                 TLZ(TlzLibrary::Libdeflate, TlzLibrary::Libdeflate)};
    TLZ& lz = compressors[setup >> 7];
    lz.SetLevel(1 + setup % 9);
    static std::vector<uint8_t> stream, out;
    stream.resize(TLZ::CompressBound(payloadLength));
    const int n = lz.Compress(payload, payloadLength, stream.data(), stream.size());
    if (n < 0) std::abort();  // the bound always suffices
    stream.resize(static_cast<size_t>(n));
    for (int i = 0; i < flips; ++i) {
        const size_t at =
            (data[2 + 2 * i] | static_cast<size_t>(data[3 + 2 * i]) << 8) % (8 * stream.size());
        stream[at / 8] ^= static_cast<uint8_t>(1u << (at % 8));
    }
    size_t announced = payloadLength;
    if ((damage & 0x0C) == 0x04) announced += 1;
    if ((damage & 0x0C) == 0x08 && announced > 0) announced -= 1;
    const bool accepted = ExpandBoth(stream.data(), stream.size(), announced, out);
    if (flips == 0 && announced == payloadLength &&
        (!accepted ||
         (payloadLength != 0 && std::memcmp(out.data(), payload, payloadLength) != 0))) {
        std::abort();  // an undamaged stream must give back its payload
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    if (data[0] & 1) {
        DamagedRealStream(data + 1, size - 1);
        return 0;
    }
    if (size < 3) return 0;
    const size_t announced = static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8;
    static std::vector<uint8_t> out;
    ExpandBoth(data + 3, size - 3, announced, out);
    return 0;
}
