#include "mirror/pixelconverter.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

// Pure red, green and blue, and one mixed colour, in every pixel format an
// X server may hand out, come out as the file's green, blue, red, 0.
TEST(PixelConverter, EveryXPixelFormatGivesGreenBlueRedBytes) {
    struct Case {
        const char* name;
        int bits;
        bool msbFirst;
        uint32_t red, green, blue;    // masks
        std::vector<uint8_t> pixels;  // red, green, blue, mixed
        uint8_t mixedRed, mixedGreen, mixedBlue;
    };
    const Case cases[] = {
        {"32 bits, LSB first",
         32,
         false,
         0xFF0000,
         0xFF00,
         0xFF,
         {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0x30, 0x20, 0x10, 0xEE},
         0x10,
         0x20,
         0x30},
        {"32 bits, MSB first",
         32,
         true,
         0xFF0000,
         0xFF00,
         0xFF,
         {0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0xEE, 0x10, 0x20, 0x30},
         0x10,
         0x20,
         0x30},
        {"32 bits, swapped masks",
         32,
         false,
         0xFF,
         0xFF00,
         0xFF0000,
         {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0, 0x10, 0x20, 0x30, 0},
         0x10,
         0x20,
         0x30},
        {"24 bits, LSB first",
         24,
         false,
         0xFF0000,
         0xFF00,
         0xFF,
         {0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0x30, 0x20, 0x10},
         0x10,
         0x20,
         0x30},
        // 5-6-5: red 0x1F, green 0x3F and blue 0x1F are full; 0x0842 is
        // red 1, green 2, blue 2.
        {"16 bits 5-6-5",
         16,
         false,
         0xF800,
         0x07E0,
         0x001F,
         {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x42, 0x08},
         8,
         8,
         16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PixelConverter converter;
        ASSERT_TRUE(converter.Configure(c.bits, c.msbFirst, c.red, c.green, c.blue));
        uint8_t out[16];
        converter.ConvertRow(c.pixels.data(), out, 4);
        const uint8_t expected[16] = {0, 0,    0xFF, 0, 0xFF,         0,           0,          0,
                                      0, 0xFF, 0,    0, c.mixedGreen, c.mixedBlue, c.mixedRed, 0};
        for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], expected[i]) << "byte " << i;
    }
}

TEST(PixelConverter, RefusesFormatsItCannotConvert) {
    PixelConverter converter;
    EXPECT_FALSE(converter.Configure(8, false, 0xE0, 0x1C, 0x03));
    EXPECT_FALSE(converter.Configure(32, false, 0, 0xFF00, 0xFF));
}

}  // namespace
}  // namespace velmora
