// Pointer updates through the dispatcher: each shape kind becomes an ARGB
// image and hot spot; shapes whose sizes do not match are dropped whole.
#include "viewer/pointershape.h"

#include <gtest/gtest.h>

#include <vector>

#include "viewer/servermessages.h"
#include "viewer/viewcodes.h"
#include "viewer/viewdispatcher.h"

namespace velmora {
namespace {

using namespace velmora::testing;

constexpr uint32_t kClear = 0, kBlack = 0xFF000000u, kWhite = 0xFFFFFFFFu;

POINTER_RECORD Record(int16_t format, int16_t width, int16_t height, int16_t firstSize,
                      int16_t maskSize, uint8_t hasMask, uint8_t topDown = 1) {
    POINTER_RECORD r{};
    r.x = 300;
    r.y = 200;
    r.xHot = 3;
    r.yHot = 2;
    r.width = width;
    r.height = height;
    r.format = format;
    r.firstSize = firstSize;
    r.maskSize = maskSize;
    r.hasMask = hasMask;
    r.shapeIncluded = 1;
    r.maskTopDown = topDown;
    r.firstTopDown = topDown;
    r.one = 1;
    return r;
}

POINTER_RECORD PositionOnly(int16_t x, int16_t y) {
    POINTER_RECORD r{};
    r.x = x;
    r.y = y;
    r.one = 1;
    return r;
}

// 16 x 4 monochrome: on row 0, pixel 0 is AND 1 XOR 0, 1 is 0 0, 2 is 0 1,
// 3 is 1 1; every other pixel is AND 1 XOR 0.
Bytes MonochromeShape() {
    Bytes shape(8, 0xFF);                // AND plane: 2 bytes x 4 rows
    shape.insert(shape.end(), 8, 0x00);  // XOR plane
    shape[0] = 0x90;
    shape[8] = 0x30;
    return shape;
}

class Pointer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(dispatcher.SetScreen(MakeScreenInfo(24, 640, 480)), vwApplied);
    }
    int Feed(const POINTER_RECORD& record, const Bytes& shape, bool control = false) {
        const Bytes m = PointerMessage(record, shape);
        return dispatcher.Dispatch(m.data(), m.size(), control);
    }
    template <typename F>
    void Look(F&& f) {
        dispatcher.WithPicture([&](const ViewPicture&, const PointerShape& p) { f(p); });
    }
    ViewDispatcher dispatcher;
};

TEST_F(Pointer, MonochromeShapeBecomesImageWithHalfTheHeight) {
    ASSERT_EQ(Feed(Record(pfMonochrome, 16, 8, 16, 0, 0), MonochromeShape()), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_TRUE(p.CursorExists());
        EXPECT_EQ(p.Record().height, 4);
        ASSERT_EQ(p.Image().Width(), 16);
        ASSERT_EQ(p.Image().Height(), 4);
        EXPECT_EQ(p.HotX(), 3);
        EXPECT_EQ(p.HotY(), 2);
        const ViewImage& i = p.Image();
        EXPECT_EQ(i.At(0, 0), kClear);
        EXPECT_EQ(i.At(1, 0), kBlack);
        EXPECT_EQ(i.At(2, 0), kWhite);
        EXPECT_EQ(i.At(3, 0), kBlack);  // inverting: drawn black
        EXPECT_EQ(i.At(15, 3), kClear);
    });
}

TEST_F(Pointer, ColourShapesOfEveryFormat) {
    // 32 bits with alpha, top-down: the alpha is the pixel's.
    Bytes argb = {0x10, 0x20, 0x30, 0x80, 0x01, 0x02, 0x03, 0x00};
    argb.resize(8 * 4 * 2, 0);
    Bytes mask32(4, 0);
    argb.insert(argb.end(), mask32.begin(), mask32.end());
    ASSERT_EQ(Feed(Record(pf32Bits, 8, 2, 64, 4, 1), argb), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_TRUE(p.CursorExists());
        EXPECT_EQ(p.Image().At(0, 0), 0x80302010u);
        EXPECT_EQ(p.Image().At(1, 0), 0x00030201u);
    });

    // 24 bits bottom-up with a bottom-up mask: stored row 0 is the lowest.
    Bytes bgr(8 * 3 * 2, 0);
    bgr[0] = 0xAA;                          // lowest row, pixel 0: blue AA
    bgr[24 + 3] = 0xBB;                     // top row, pixel 1: blue BB
    Bytes mask = {0x80, 0x00, 0x00, 0x00};  // AND bit on the lowest row's pixel 0
    bgr.insert(bgr.end(), mask.begin(), mask.end());
    ASSERT_EQ(Feed(Record(pf24Bits, 8, 2, 48, 4, 1, 0), bgr), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_EQ(p.Image().At(0, 1), kClear);
        EXPECT_EQ(p.Image().At(1, 0), 0xFF0000BBu);
        EXPECT_EQ(p.Image().At(0, 0), kBlack);
    });

    // 4 bits through the 16-colour table, 8 through the shared palette, 16
    // through the 5-5-5 table.
    Bytes four = {0x9D, 0, 0, 0, 0, 0};  // 4 colour bytes, 2 mask bytes
    ASSERT_EQ(Feed(Record(pf4Bits, 8, 1, 4, 2, 1), four), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_EQ(p.Image().At(0, 0), 0xFFFF0000u);
        EXPECT_EQ(p.Image().At(1, 0), 0xFF0000FFu);
    });
    Bytes eight(8, 0);
    eight[0] = 106;
    eight.resize(10, 0);
    ASSERT_EQ(Feed(Record(pf8Bits, 8, 1, 8, 2, 1), eight), vwApplied);
    Look([](const PointerShape& p) { EXPECT_EQ(p.Image().At(0, 0), 0xFFCC9729u); });
    Bytes sixteen(16, 0);
    sixteen[0] = 0x1F;  // red 0, green 0, blue 31
    sixteen[1] = 0x7C;  // red 31
    sixteen.resize(18, 0);
    ASSERT_EQ(Feed(Record(pf16Bits, 8, 1, 16, 2, 1), sixteen), vwApplied);
    Look([](const PointerShape& p) { EXPECT_EQ(p.Image().At(0, 0), 0xFFF800F8u); });
}

TEST_F(Pointer, ShapeWithoutMaskMakesAPictureButNoCursor) {
    Bytes bgr(8 * 3, 0x40);
    ASSERT_EQ(Feed(Record(pf24Bits, 8, 1, 24, 0, 0), bgr), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_FALSE(p.CursorExists());
        EXPECT_TRUE(p.HasImage());
        EXPECT_EQ(p.Image().At(7, 0), 0xFF404040u);
    });
    EXPECT_EQ(Feed(PositionOnly(5, 6), {}, true), vwIgnored);  // no cursor exists
}

TEST_F(Pointer, PositionsAreTakenOnlyWithACursorAndWhileHoldingControl) {
    EXPECT_EQ(Feed(PositionOnly(5, 6), {}, true), vwIgnored);  // before any shape
    ASSERT_EQ(Feed(Record(pfMonochrome, 16, 8, 16, 0, 0), MonochromeShape(), false), vwApplied);
    EXPECT_EQ(Feed(PositionOnly(5, 6), {}, false), vwIgnored);
    Look([](const PointerShape& p) { EXPECT_EQ(p.Record().x, 0); });
    EXPECT_EQ(Feed(PositionOnly(5, 6), {}, true), vwApplied);
    Look([](const PointerShape& p) {
        EXPECT_EQ(p.X(), 5);
        EXPECT_EQ(p.Y(), 6);
        EXPECT_EQ(p.Record().height, 4);  // the shape's fields stay
    });
}

TEST_F(Pointer, ShapesWhoseSizesDoNotMatchAreDroppedAndThePreviousOneStays) {
    ASSERT_EQ(Feed(Record(pfMonochrome, 16, 8, 16, 0, 0), MonochromeShape()), vwApplied);
    Bytes extra = MonochromeShape();
    extra.push_back(0);
    struct Case {
        const char* name;
        POINTER_RECORD record;
        Bytes shape;
    } cases[] = {
        {"monochrome planes one byte short", Record(pfMonochrome, 16, 8, 15, 0, 0), Bytes(15)},
        {"monochrome of odd height", Record(pfMonochrome, 16, 7, 14, 0, 0), Bytes(14)},
        {"colour plane one byte short", Record(pf32Bits, 8, 2, 63, 4, 1), Bytes(67)},
        {"mask of one plane only", Record(pf32Bits, 8, 2, 64, 2, 1), Bytes(66)},
        {"width 0", Record(pf32Bits, 0, 2, 0, 0, 0), Bytes()},
        {"wider than any pointer", Record(pf8Bits, 300, 1, 300, 0, 0), Bytes(300)},
        {"unknown format", Record(7, 8, 1, 8, 0, 0), Bytes(8)},
        {"negative size", Record(pf8Bits, 8, 1, -8, 0, 0), Bytes()},
        {"a byte beyond the declared shape", Record(pfMonochrome, 16, 8, 16, 0, 0), extra},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Feed(c.record, c.shape), vwBadShape);
    }
    Look([](const PointerShape& p) {
        EXPECT_EQ(p.Image().Width(), 16);
        EXPECT_EQ(p.Record().format, pfMonochrome);
    });
}

}  // namespace
}  // namespace velmora
