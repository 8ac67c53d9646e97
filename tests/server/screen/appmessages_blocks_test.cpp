#include "server/screen/appmessages_blocks.h"

#include <gtest/gtest.h>

#include <vector>

#include "server/screen/appmessages_pointer.h"
#include "server/screen/tbitutil.h"
#include "server/screen/tlz.h"
#include "support/screenlike_frame.h"

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

// A 1366 x 100 screen: its grid has a 22-pixel-wide last column and a top
// row 44 pixels high.
class ScreenBlocks : public ::testing::Test {
  protected:
    const testing::ScreenlikeFrame frame = testing::MakeScreenlikeFrame(1366, 100, 3);

    // Block (column, row) of the grid, as the capture thread lays it out.
    struct Grid {
        int16_t index, left, bottom;
        int width, height;
        const uint8_t* first;
    };
    Grid Block(int column, int row) const {
        const int width = std::min(56, frame.width - 56 * column);
        const int height = std::min(56, frame.height - 56 * row);
        return {static_cast<int16_t>(row * 25 + column),
                static_cast<int16_t>(56 * column),
                static_cast<int16_t>(frame.height - 56 * row),
                width,
                height,
                frame.pixels.data() + static_cast<size_t>(56 * row) * frame.stride +
                    static_cast<size_t>(56 * column) * 4};
    }
};

TEST_F(ScreenBlocks, EdgeBlocksKeepPackedRowsAtEveryDepthThroughTheWholeRoad) {
    for (int depth : {24, 16, 8}) {
        TBitUtil converter, reference;
        ScreenBlocksBuilder builder;
        ASSERT_EQ(builder.Begin(depth), amOk);
        const Grid blocks[] = {Block(0, 0), Block(24, 0), Block(24, 1)};  // 56x56, 22x56, 22x44
        for (const Grid& b : blocks) {
            ASSERT_EQ(builder.AddBlock(b.index, b.width, b.height, b.left, b.bottom, b.first,
                                       frame.stride, converter),
                      amOk);
        }
        const int bpp = BytesPerPixel(depth);
        const size_t expectedPayload =
            (8 + 56 * 56 * bpp) + (8 + 22 * 56 * bpp) + (8 + 22 * 44 * bpp);
        EXPECT_EQ(builder.Payload().size(), expectedPayload);

        TLZ lz;
        Bytes message;
        ASSERT_GT(builder.Finish(lz, message), 24);
        MESSAGE_HEADER header;
        Bytes payload;
        ASSERT_EQ(ExpandMessagePayload(lz, message.data(), message.size(), &header, payload),
                  static_cast<int>(expectedPayload));
        EXPECT_EQ(header.type, mtScreenBlocks);
        EXPECT_EQ(header.blockCount, 3);
        EXPECT_EQ(header.depth, depth);

        ScreenBlocksReader reader;
        ASSERT_EQ(reader.Begin(payload.data(), payload.size(), header.blockCount, header.depth,
                               frame.width, frame.height),
                  amOk);
        for (const Grid& b : blocks) {
            BlockView view;
            ASSERT_EQ(reader.Next(&view), 1);
            EXPECT_EQ(view.index, b.index);
            EXPECT_EQ(view.left, b.left);
            EXPECT_EQ(view.bottom, b.bottom);
            EXPECT_EQ(view.width, b.width);
            EXPECT_EQ(view.height, b.height);
            ASSERT_EQ(view.rowBytes, static_cast<size_t>(b.width * bpp));  // 22 at 24 bits: 66
            for (int row = 0; row < b.height; ++row) {  // lowest screen row first
                Bytes expected(view.rowBytes);
                reference.ConvertRow(b.first + static_cast<size_t>(row) * frame.stride, b.width,
                                     depth, expected.data());
                ASSERT_EQ(Bytes(view.pixels + row * view.rowBytes,
                                view.pixels + (row + 1) * view.rowBytes),
                          expected)
                    << "depth " << depth << " block " << b.index << " row " << row;
            }
        }
        BlockView end;
        EXPECT_EQ(reader.Next(&end), 0);
    }
}

TEST_F(ScreenBlocks, BuilderRefusesSizesOutsideTheBlockAndDepthsWithoutFormat) {
    ScreenBlocksBuilder builder;
    TBitUtil converter;
    EXPECT_EQ(builder.Begin(32), amBadDepth);
    ASSERT_EQ(builder.Begin(24), amOk);
    const uint8_t* p = frame.pixels.data();
    EXPECT_EQ(builder.AddBlock(0, 57, 10, 0, 10, p, frame.stride, converter), amBadBlock);
    EXPECT_EQ(builder.AddBlock(0, 10, 0, 0, 10, p, frame.stride, converter), amBadBlock);
    EXPECT_EQ(builder.BlockCount(), 0);
}

Bytes BlockBytes(int16_t index, int width, int height, int16_t left, int16_t bottom,
                 size_t pixelBytes) {
    Bytes b(sizeof(BLOCK_HEADER) + pixelBytes, 0x5A);
    StoreLe<int16_t>(&b[0], index);
    b[2] = static_cast<uint8_t>(width);
    b[3] = static_cast<uint8_t>(height);
    StoreLe<int16_t>(&b[4], left);
    StoreLe<int16_t>(&b[6], bottom);
    return b;
}

TEST(ScreenBlocksReader, RefusesBlocksThatDoNotFitThePayloadOrTheScreen) {
    const Bytes good = BlockBytes(0, 2, 2, 10, 20, 2 * 2 * 3);
    const auto cat = [](Bytes a, const Bytes& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct {
        const char* name;
        Bytes payload;
        int count, depth, blocksBeforeError, result;
    } cases[] = {
        {"width 0", BlockBytes(0, 0, 2, 0, 2, 0), 1, 24, 0, amBadBlock},
        {"width 57", BlockBytes(0, 57, 1, 0, 1, 57 * 3), 1, 24, 0, amBadBlock},
        {"height 57", BlockBytes(0, 1, 57, 0, 57, 57 * 3), 1, 24, 0, amBadBlock},
        {"pixels run past the payload", BlockBytes(0, 2, 2, 0, 2, 11), 1, 24, 0, amBadBlock},
        {"count beyond the payload", good, 2, 24, 1, amBadCount},
        {"half a header left", cat(good, Bytes(4, 0)), 2, 24, 1, amBadCount},
        {"bytes after the last block", cat(good, Bytes(1, 0)), 1, 24, 1, amBadLength},
        {"negative count", good, -1, 24, 0, amBadCount},
        {"depth without a format", good, 1, 12, 0, amBadDepth},
        {"right of the screen", BlockBytes(0, 2, 2, 99, 20, 12), 1, 24, 0, amBadBlock},
        {"left of the screen", BlockBytes(0, 2, 2, -1, 20, 12), 1, 24, 0, amBadBlock},
        {"above the screen", BlockBytes(0, 2, 2, 0, 1, 12), 1, 24, 0, amBadBlock},
        {"below the screen", BlockBytes(0, 2, 2, 0, 51, 12), 1, 24, 0, amBadBlock},
    };
    for (const auto& c : cases) {
        ScreenBlocksReader reader;
        int result = reader.Begin(c.payload.data(), c.payload.size(), c.count, c.depth, 100, 50);
        int blocks = 0;
        BlockView view;
        while (result > 0 && (result = reader.Next(&view)) == 1) ++blocks;
        EXPECT_EQ(blocks, c.blocksBeforeError) << c.name;
        EXPECT_EQ(result, c.result) << c.name;
        if (result < 0) {
            EXPECT_EQ(reader.Next(&view), c.result) << c.name << " (again)";
        }
    }
}

POINTER_RECORD Pointer(int16_t format, int16_t first, int16_t mask, uint8_t hasMask,
                       uint8_t shapeIncluded) {
    POINTER_RECORD r{};
    r.x = 300;
    r.y = 200;
    r.width = 32;
    r.height = 64;
    r.format = format;
    r.firstSize = first;
    r.maskSize = mask;
    r.hasMask = hasMask;
    r.shapeIncluded = shapeIncluded;
    return r;
}

TEST(PointerUpdate, ShapeBytesFollowTheRecordAsItsFormatDeclares) {
    const struct {
        const char* name;
        POINTER_RECORD record;
        size_t shapeBytes;
    } cases[] = {
        {"position only", Pointer(pf32Bits, 4096, 256, 1, 0), 0},
        {"monochrome: AND and XOR planes, never a mask", Pointer(pfMonochrome, 256, 99, 1, 1), 256},
        {"colour with mask", Pointer(pf32Bits, 4096, 256, 1, 1), 4352},
        {"colour without mask", Pointer(pf8Bits, 1024, 256, 0, 1), 1024},
    };
    TLZ lz;
    for (const auto& c : cases) {
        Bytes shape(c.shapeBytes);
        for (size_t i = 0; i < shape.size(); ++i) shape[i] = static_cast<uint8_t>(i * 7);
        Bytes message;
        ASSERT_GT(BuildPointerUpdate(lz, c.record, shape.data(), shape.size(), message), 24)
            << c.name;
        MESSAGE_HEADER header;
        Bytes payload;
        ASSERT_EQ(ExpandMessagePayload(lz, message.data(), message.size(), &header, payload),
                  static_cast<int>(23 + c.shapeBytes))
            << c.name;
        EXPECT_EQ(header.type, mtPointerUpdate);
        EXPECT_EQ(header.payloadLength, 23 + c.shapeBytes) << c.name;  // 23 when position only
        EXPECT_EQ(payload[22], 1) << c.name;
        POINTER_RECORD read;
        const uint8_t* readShape = nullptr;
        size_t readLength = 99;
        ASSERT_EQ(ReadPointerUpdate(payload.data(), payload.size(), &read, &readShape, &readLength),
                  amOk)
            << c.name;
        EXPECT_EQ(read.x, 300);
        EXPECT_EQ(readLength, c.shapeBytes);
        EXPECT_EQ(readShape == nullptr, c.shapeBytes == 0);
        if (readShape != nullptr) {
            EXPECT_EQ(Bytes(readShape, readShape + readLength), shape);
        }
    }
}

TEST(PointerUpdate, RefusesShapesThatDoNotMatchTheirRecord) {
    TLZ lz;
    Bytes message;
    const Bytes shape(100);
    EXPECT_EQ(BuildPointerUpdate(lz, Pointer(pf8Bits, 99, 0, 0, 1), shape.data(), 100, message),
              amBadShape);
    EXPECT_EQ(BuildPointerUpdate(lz, Pointer(7, 100, 0, 0, 1), shape.data(), 100, message),
              amBadShape);

    const auto payloadOf = [](const POINTER_RECORD& r, size_t extra) {
        Bytes p(RecordBytes(r), RecordBytes(r) + sizeof(r));
        p.resize(p.size() + extra);
        return p;
    };
    const struct {
        const char* name;
        Bytes payload;
        int result;
    } cases[] = {
        {"shape shorter than declared", payloadOf(Pointer(pf32Bits, 64, 8, 1, 1), 71), amBadShape},
        {"shape longer than declared", payloadOf(Pointer(pf32Bits, 64, 8, 1, 1), 73), amBadShape},
        {"bytes after a position-only record", payloadOf(Pointer(1, 0, 0, 0, 0), 1), amBadShape},
        {"negative plane size", payloadOf(Pointer(pf32Bits, -4, 0, 0, 1), 0), amBadShape},
        {"negative mask size", payloadOf(Pointer(pf32Bits, 4, -4, 1, 1), 0), amBadShape},
        {"unknown format", payloadOf(Pointer(0, 4, 0, 0, 1), 4), amBadShape},
        {"shorter than the record", Bytes(22), amBadLength},
    };
    for (const auto& c : cases) {
        POINTER_RECORD read;
        const uint8_t* readShape = nullptr;
        size_t readLength = 0;
        EXPECT_EQ(
            ReadPointerUpdate(c.payload.data(), c.payload.size(), &read, &readShape, &readLength),
            c.result)
            << c.name;
    }
}

}  // namespace
}  // namespace velmora
