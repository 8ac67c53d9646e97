// The viewer's handling of server messages, on arbitrary bytes.
// First byte even: the rest is a typed message, dispatched as the viewer
// does: SCREEN_BLOCKS expanded and every block drawn into a 640 x 480 back
// buffer, POINTER_UPDATE expanded and split, and the fixed messages read.
// First byte odd: the second byte picks the depth, the next two are the block
// count and the rest is an already expanded SCREEN_BLOCKS payload, so the
// block reader sees inputs that no stream would expand to.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "server/screen/appmessages_blocks.h"
#include "server/screen/appmessages_pointer.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"

namespace {

using namespace velmora;

constexpr int kScreenWidth = 640, kScreenHeight = 480;

// Draws blocks as the viewer does: each row through the colour tables into a
// row-padded 24-bit bitmap, then the bitmap into the back buffer at
// (left, bottom - height), lowest row first.
void DrawBlocks(const uint8_t* payload, size_t length, int count, int depth) {
    static std::vector<uint8_t> backBuffer(static_cast<size_t>(kScreenWidth) * kScreenHeight * 3);
    static std::vector<uint8_t> bitmap(static_cast<size_t>(((56 * 3 + 3) & ~3) * 56));
    ScreenBlocksReader reader;
    if (reader.Begin(payload, length, count, depth, kScreenWidth, kScreenHeight) < 0) return;
    BlockView block;
    while (reader.Next(&block) == 1) {
        if (block.pixels + block.rowBytes * block.height > payload + length) std::abort();
        const size_t bitmapStride = (static_cast<size_t>(block.width) * 3 + 3) & ~size_t{3};
        for (int row = 0; row < block.height; ++row) {
            if (ExpandRowToBgr(block.pixels + row * block.rowBytes, block.width, depth,
                               bitmap.data() + row * bitmapStride) != block.rowBytes) {
                std::abort();
            }
            const int y = block.bottom - 1 - row;
            std::copy_n(bitmap.data() + row * bitmapStride, block.width * 3,
                        backBuffer.data() + (static_cast<size_t>(y) * kScreenWidth + block.left) * 3);
        }
    }
}

void Dispatch(const uint8_t* data, size_t size) {
    static TLZ lz;
    static std::vector<uint8_t> payload;
    MESSAGE_HEADER header;
    if (ReadMessageHeader(data, size, &header) < 0) return;
    switch (header.type) {
        case mtScreenBlocks:
            if (ExpandMessagePayload(lz, data, size, &header, payload) >= 0) {
                DrawBlocks(payload.data(), payload.size(), header.blockCount, header.depth);
            }
            break;
        case mtPointerUpdate:
            if (ExpandMessagePayload(lz, data, size, &header, payload) >= 0) {
                POINTER_RECORD record;
                const uint8_t* shape = nullptr;
                size_t shapeLength = 0;
                if (ReadPointerUpdate(payload.data(), payload.size(), &record, &shape,
                                      &shapeLength) == amOk &&
                    shapeLength != 0 && shape + shapeLength != payload.data() + payload.size()) {
                    std::abort();  // the shape must be exactly the rest of the payload
                }
            }
            break;
        case mtMemberList: {
            int count = 0;
            const MEMBER_ENTRY* entries = nullptr;
            if (ReadMemberList(data, size, &count, &entries) == amOk) {
                size_t total = 0;
                for (int i = 0; i < count; ++i) total += FieldText(entries[i].name).size();
                if (total > static_cast<size_t>(count) * 30) std::abort();
            }
            break;
        }
        default: {
            SCREEN_INFO info;
            WINDOW_DRAG drag;
            CONTROL_REQUEST answer;
            (void)ReadScreenInfoMessage(data, size, &info);
            (void)ReadWindowDrag(data, size, &drag);
            if (ReadControlAnswer(data, size, &answer) == amOk) (void)FieldText(answer.name);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    if ((data[0] & 1) == 0) {
        Dispatch(data + 1, size - 1);
        return 0;
    }
    if (size < 4) return 0;
    static const int depths[4] = {8, 16, 24, 0};
    const int depth = depths[data[1] & 3];
    const int count = static_cast<int16_t>(data[2] | data[3] << 8);
    DrawBlocks(data + 4, size - 4, count, depth);
    return 0;
}
