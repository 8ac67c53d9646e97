// Server messages as a test server would send them to a viewer, including
// malformed ones: the payload length and block count can be set apart from
// what the payload holds.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "server/screen/appmessages.h"
#include "server/screen/appmessages_pointer.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"

namespace velmora::testing {

using Bytes = std::vector<uint8_t>;

struct TestBlock {
    int left = 0;
    int bottom = 0;  // one past the lowest row
    int width = 0;
    int height = 0;
    Bytes pixels;  // packed rows, lowest row first; filled by the caller or Fill*
};

// Pixel (x, y) of a block filled by FillBlock at depth 24 is blue x, green
// y, red `seed`.
inline void FillBlock(TestBlock& block, int depth, uint8_t seed) {
    const int bpp = BytesPerPixel(depth);
    block.pixels.assign(static_cast<size_t>(block.width) * block.height * bpp, 0);
    size_t at = 0;
    for (int r = 0; r < block.height; ++r) {
        for (int x = 0; x < block.width; ++x) {
            const int v = (x * 7 + r * 13 + seed) & 0xFF;
            if (depth == 24) {
                block.pixels[at++] = static_cast<uint8_t>(x);
                block.pixels[at++] = static_cast<uint8_t>(r);
                block.pixels[at++] = seed;
            } else if (depth == 16) {
                const uint16_t p = static_cast<uint16_t>((v * 97) & 0x7FFF);
                block.pixels[at++] = static_cast<uint8_t>(p);
                block.pixels[at++] = static_cast<uint8_t>(p >> 8);
            } else {
                block.pixels[at++] = static_cast<uint8_t>(v);
            }
        }
    }
}

inline Bytes BlocksPayload(const std::vector<TestBlock>& blocks) {
    Bytes payload;
    for (const TestBlock& b : blocks) {
        BLOCK_HEADER header{};
        header.index = 0;
        header.width = static_cast<uint8_t>(b.width);
        header.height = static_cast<uint8_t>(b.height);
        header.left = static_cast<int16_t>(b.left);
        header.bottom = static_cast<int16_t>(b.bottom);
        const uint8_t* h = RecordBytes(header);
        payload.insert(payload.end(), h, h + sizeof(header));
        payload.insert(payload.end(), b.pixels.begin(), b.pixels.end());
    }
    return payload;
}

// A typed message of `type` whose stream expands to `payload`; the header
// announces payload.size() + lengthDelta bytes and `blockCount` blocks.
inline Bytes CompressedMessage(uint8_t type, const Bytes& payload, int blockCount = 0,
                               uint8_t depth = 0, int lengthDelta = 0) {
    TLZ lz;
    Bytes message;
    if (BuildCompressedMessage(lz, type, static_cast<int16_t>(blockCount), depth, payload.data(),
                               payload.size(), message) < 0) {
        return {};
    }
    MESSAGE_HEADER header;
    std::memcpy(&header, message.data(), sizeof(header));
    header.payloadLength =
        static_cast<uint32_t>(static_cast<int64_t>(payload.size()) + lengthDelta);
    std::memcpy(message.data(), &header, sizeof(header));
    return message;
}

inline Bytes BlocksMessage(int depth, const std::vector<TestBlock>& blocks, int countDelta = 0,
                           int lengthDelta = 0) {
    return CompressedMessage(mtScreenBlocks, BlocksPayload(blocks),
                             static_cast<int>(blocks.size()) + countDelta,
                             static_cast<uint8_t>(depth), lengthDelta);
}

inline Bytes PointerMessage(const POINTER_RECORD& record, const Bytes& shape) {
    Bytes payload(sizeof(POINTER_RECORD));
    std::memcpy(payload.data(), &record, sizeof(record));
    payload.insert(payload.end(), shape.begin(), shape.end());
    return CompressedMessage(mtPointerUpdate, payload);
}

template <typename Record>
Bytes AsBytes(const Record& record) {
    const uint8_t* p = RecordBytes(record);
    return Bytes(p, p + sizeof(Record));
}

inline Bytes ScreenInfoMessage(uint8_t depth, int16_t width, int16_t height) {
    return AsBytes(MakeScreenInfoMessage(MakeScreenInfo(depth, width, height)));
}

inline Bytes DragMessage(int32_t event, int32_t edge, int32_t left, int32_t top, int32_t right,
                         int32_t bottom) {
    return AsBytes(MakeWindowDrag(event, edge, left, top, right, bottom));
}

inline Bytes MemberListMessage(const std::vector<MemberInfo>& members) {
    Bytes out;
    BuildMemberList(members.data(), static_cast<int>(members.size()), out);
    return out;
}

inline Bytes ControlAnswerMessage(std::string_view name, uint8_t flag, int16_t code) {
    return AsBytes(MakeControlAnswer(name, flag, code));
}

}  // namespace velmora::testing
