#include "transport/seqorder.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(SeqOrder, PrecedesAcrossTheWrapAndNeitherWayAtHalfTheSpace) {
    struct Case {
        uint16_t a, b;
        bool precedes;
    };
    const Case cases[] = {
        {1, 2, true},
        {2, 1, false},
        {5, 5, false},
        {0xFFFF, 0x0000, true},
        {0x0000, 0xFFFF, false},
        {0xFFFE, 0x0001, true},
        {0xFFF0, 0x7000, true},
        {0x7000, 0xFFF0, false},  // 0x8FF0 apart: the short way wraps
        {0x0000, 0x7FFE, true},
        {0x0000, 0x7FFF, false},
        {0x7FFF, 0x0000, false},
        {0x0000, 0x8000, false},
        {0x8000, 0x0000, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SeqPrecedes(c.a, c.b), c.precedes) << std::hex << c.a << " before " << c.b;
}

TEST(SeqOrder, ClassifiesAgainstTheWindowAcrossTheWrap) {
    struct Case {
        uint16_t s, lo, hi;
        SeqClass want;
    };
    const Case cases[] = {
        {0xFFFF, 0xFFFF, 0xFFFF, SEQ_IN_WINDOW},  // the expected frame of a fresh receiver
        {0x0000, 0xFFFF, 0xFFFF, SEQ_AHEAD},      // the next one, beyond the wrap
        {0xFFFE, 0xFFFF, 0xFFFF, SEQ_OLD},       {0x7FFE, 0xFFFF, 0xFFFF, SEQ_AHEAD},
        {0x8000, 0x0000, 0x0000, SEQ_OLD},        // half the space ahead counts as behind
        {0x0002, 0xFFFE, 0x0005, SEQ_IN_WINDOW},  // between lo and hi, across the wrap
        {0x0005, 0xFFFE, 0x0005, SEQ_IN_WINDOW},  // hi itself
        {0x0006, 0xFFFE, 0x0005, SEQ_AHEAD},     {0xFFFD, 0xFFFE, 0x0005, SEQ_OLD},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifySeq(c.s, c.lo, c.hi), c.want)
            << std::hex << c.s << " in [" << c.lo << ", " << c.hi << "]";
}

}  // namespace
}  // namespace velmora
