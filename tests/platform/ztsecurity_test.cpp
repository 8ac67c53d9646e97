#include "platform/ztsecurity.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velmora {
namespace {

TEST(ZtSecurity, ExceptionNameKnowsTheTwentyCodesAndNothingElse) {
    struct Case {
        uint32_t code;
        const char* name;
    };
    const Case cases[] = {
        {0x80000002u, "EXCEPTION_DATATYPE_MISALIGNMENT"},
        {0x80000003u, "EXCEPTION_BREAKPOINT"},
        {0x80000004u, "EXCEPTION_SINGLE_STEP"},
        {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION"},
        {0xC0000006u, "EXCEPTION_IN_PAGE_ERROR"},
        {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION"},
        {0xC0000025u, "EXCEPTION_NONCONTINUABLE_EXCEPTION"},
        {0xC0000026u, "EXCEPTION_INVALID_DISPOSITION"},
        {0xC000008Cu, "EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
        {0xC000008Du, "EXCEPTION_FLT_DENORMAL_OPERAND"},
        {0xC000008Eu, "EXCEPTION_FLT_DIVIDE_BY_ZERO"},
        {0xC000008Fu, "EXCEPTION_FLT_INEXACT_RESULT"},
        {0xC0000090u, "EXCEPTION_FLT_INVALID_OPERATION"},
        {0xC0000091u, "EXCEPTION_FLT_OVERFLOW"},
        {0xC0000092u, "EXCEPTION_FLT_STACK_CHECK"},
        {0xC0000093u, "EXCEPTION_FLT_UNDERFLOW"},
        {0xC0000094u, "EXCEPTION_INT_DIVIDE_BY_ZERO"},
        {0xC0000095u, "EXCEPTION_INT_OVERFLOW"},
        {0xC0000096u, "EXCEPTION_PRIV_INSTRUCTION"},
        {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW"},
        // Neighbours of the named codes and others have no name.
        {0x80000001u, "UNKNOWN EXCETION"},
        {0xC0000007u, "UNKNOWN EXCETION"},
        {0xC000008Bu, "UNKNOWN EXCETION"},
        {0xC0000097u, "UNKNOWN EXCETION"},
        {0xE0000001u, "UNKNOWN EXCETION"},
        {0u, "UNKNOWN EXCETION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ZTSECURITY::ExceptionName(c.code), c.name);
        char text[64];
        ZTSECURITY::ExceptionName(c.code, text, sizeof text);
        EXPECT_STREQ(text, c.name);
    }
}

TEST(ZtSecurity, ExceptionNameNeverWritesPastTheGivenSize) {
    char text[12];
    std::memset(text, '#', sizeof text);
    ZTSECURITY::ExceptionName(0xC0000005u, text, 8);
    EXPECT_STREQ(text, "EXCEPTI");
    EXPECT_EQ(text[8], '#');
    ZTSECURITY::ExceptionName(0xC0000005u, text, 0);
    EXPECT_EQ(text[0], 'E');
    ZTSECURITY::ExceptionName(0xC0000005u, nullptr, 8);  // nothing to write into
}

}  // namespace
}  // namespace velmora
