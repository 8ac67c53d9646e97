// The viewer's dispatch of server messages (ViewDispatcher), on arbitrary
// sequences of messages.
//
// Byte 0 picks the screen: depth 8, 16 or 24 and one of a few sizes. Then
// come records: a kind byte, a 2-byte little-endian length, that many bytes.
//   kind % 4 == 0: the bytes are a message as received;
//   kind % 4 == 1: a SCREEN_BLOCKS whose stream is made from the bytes after
//                  a 4-byte head (count 2 bytes, depth selector, length
//                  delta), so the block walker sees payloads no random stream
//                  would expand to;
//   kind % 4 == 2: a POINTER_UPDATE made the same way from the bytes;
//   kind % 4 == 3: a fixed-length message of type (kind >> 2) % 13 padded or
//                  cut to the length its type has, so drags, screen
//                  descriptions (sides below 290, some of them unusable),
//                  member lists and control answers are reached.
// Checks (beyond the sanitizers): a refused message leaves the picture and
// the screen size exactly as they were.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "server/screen/appmessages.h"
#include "server/screen/tlz.h"
#include "viewer/viewcodes.h"
#include "viewer/viewdispatcher.h"

namespace {

using namespace velmora;

struct Sizes {
    int16_t width, height;
};
constexpr Sizes kSizes[] = {{200, 120}, {56, 56}, {1, 1}, {123, 77}};

std::vector<uint8_t> Compressed(uint8_t type, const uint8_t* data, size_t size) {
    static TLZ lz;
    std::vector<uint8_t> message;
    if (size < 4) return message;
    const int16_t count = static_cast<int16_t>(data[0] | data[1] << 8);
    const uint8_t depths[] = {24, 16, 8, 0};
    const uint8_t depth = depths[data[2] % 4];
    const int delta = static_cast<int8_t>(data[3]) % 3;  // mostly exact, sometimes off by one
    if (BuildCompressedMessage(lz, type, count, depth, data + 4, size - 4, message) < 0) {
        return {};
    }
    MESSAGE_HEADER header;
    std::memcpy(&header, message.data(), sizeof(header));
    header.payloadLength = static_cast<uint32_t>(static_cast<int64_t>(size - 4) + delta);
    std::memcpy(message.data(), &header, sizeof(header));
    return message;
}

std::vector<uint8_t> Fixed(uint8_t type, const uint8_t* data, size_t size) {
    size_t length = 24 + size;
    switch (type) {
        case mtWindowDrag:
            length = sizeof(WINDOW_DRAG);
            break;
        case mtScreenInfo:
            length = sizeof(SCREEN_INFO_MESSAGE);
            break;
        case mtControlAnswer:
            length = sizeof(CONTROL_ANSWER);
            break;
        case mtMemberList:
            length = sizeof(MEMBER_LIST) + 31 * (size % 12);
            break;
        default:
            break;
    }
    std::vector<uint8_t> message(length, 0);
    std::memcpy(message.data(), data, std::min(size, length));
    message[0] = type;
    if (type == mtScreenInfo) {
        // Sides up to 8192 are sound, but buffers of that size would make
        // each run take a second; smaller ones reach the same code.
        for (size_t at : {size_t{25}, size_t{27}}) {
            const int side = (message[at] | message[at + 1] << 8) % 300 - 10;
            message[at] = static_cast<uint8_t>(side);
            message[at + 1] = static_cast<uint8_t>(side >> 8);
        }
    }
    if (type == mtMemberList) {
        const int32_t count = static_cast<int32_t>((length - sizeof(MEMBER_LIST)) / 31);
        std::memcpy(message.data() + 24, &count, 4);  // little-endian host
    }
    return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static ViewDispatcher dispatcher;
    const uint8_t depths[] = {24, 16, 8};
    const Sizes s = kSizes[(data[0] >> 2) % 4];
    if (dispatcher.SetScreen(MakeScreenInfo(depths[data[0] % 3], s.width, s.height)) != vwApplied) {
        std::abort();
    }
    size_t at = 1;
    ViewImage before, after;
    while (size - at >= 3) {
        const uint8_t kind = data[at];
        const size_t length = std::min<size_t>(data[at + 1] | data[at + 2] << 8, size - at - 3);
        const uint8_t* body = data + at + 3;
        at += 3 + length;
        std::vector<uint8_t> message;
        switch (kind % 4) {
            case 0:
                message.assign(body, body + length);
                break;
            case 1:
                message = Compressed(mtScreenBlocks, body, length);
                break;
            case 2:
                message = Compressed(mtPointerUpdate, body, length);
                break;
            default:
                message = Fixed(static_cast<uint8_t>((kind >> 2) % 13), body, length);
                break;
        }
        if (!dispatcher.CopyPicture(&before)) before.Clear();
        const int result = dispatcher.Dispatch(message.data(), message.size(), (kind & 0x80) != 0);
        if (result < 0) {
            if (!dispatcher.CopyPicture(&after)) after.Clear();
            if (after.Width() != before.Width() || after.Height() != before.Height() ||
                (!after.Empty() &&
                 std::memcmp(after.Pixels(), before.Pixels(),
                             sizeof(uint32_t) * static_cast<size_t>(after.Width()) *
                                 static_cast<size_t>(after.Height())) != 0)) {
                std::abort();  // a refused message changed the picture
            }
        }
    }
    return 0;
}
