#include "server/screen/tlz.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/screenlike_frame.h"

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

Bytes ScreenlikeBytes() {
    return testing::MakeScreenlikeFrame(320, 200).pixels;
}

Bytes CompressWith(TLZ& lz, const Bytes& input) {
    Bytes out(TLZ::CompressBound(input.size()));
    const int n = lz.Compress(input.data(), input.size(), out.data(), out.size());
    EXPECT_GT(n, 0);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

const char* Name(TlzLibrary library) {
    return library == TlzLibrary::Zlib ? "zlib" : "libdeflate";
}

// Deflate bits, least significant first; Huffman codes go most significant
// bit first, as RFC 1951 packs them.
class BitWriter {
  public:
    void Put(uint32_t value, int count) {
        for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
    }
    void PutCode(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
    }
    Bytes Stream() const {  // behind a header with level 6
        Bytes s = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 6, 0x0B};
        s.insert(s.end(), bytes_.begin(), bytes_.end());
        return s;
    }

  private:
    void Bit(uint32_t b) {
        if (used_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(b << (used_ % 8));
        ++used_;
    }
    Bytes bytes_;
    int used_ = 0;
};

// One final dynamic block that declares `litlen` and `dist` codes with
// complete code sets and holds only the end-of-block code. Valid exactly when
// litlen <= 286 and dist <= 30.
Bytes DynamicBlockDeclaring(int litlen, int dist) {
    std::vector<int> lengths;
    for (int s = 0; s < litlen; ++s) {
        // 286 symbols: 0-143 take 8 bits, 144-255 9, 256-279 7, 280-283 8 and
        // 284-285 7; 288 symbols: the fixed code's lengths. Both are complete.
        int len = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
        if (litlen == 286 && s >= 284) len = 7;
        lengths.push_back(len);
    }
    for (int s = 0; s < dist; ++s) lengths.push_back(dist == 30 && s >= 28 ? 4 : 5);
    // Code-length code: 7, 8, 9 take 2 bits (00, 01, 10), 4 and 5 take 3
    // (110, 111). Transmission order: 16 17 18 0 8 7 9 6 10 5 11 4.
    const int clOrder[] = {0, 0, 0, 0, 2, 2, 2, 0, 0, 3, 0, 3};
    BitWriter w;
    w.Put(1, 1);  // final
    w.Put(2, 2);  // dynamic
    w.Put(static_cast<uint32_t>(litlen - 257), 5);
    w.Put(static_cast<uint32_t>(dist - 1), 5);
    w.Put(12 - 4, 4);
    for (int len : clOrder) w.Put(static_cast<uint32_t>(len), 3);
    for (int len : lengths) {
        switch (len) {
            case 7:
                w.PutCode(0b00, 2);
                break;
            case 8:
                w.PutCode(0b01, 2);
                break;
            case 9:
                w.PutCode(0b10, 2);
                break;
            case 4:
                w.PutCode(0b110, 3);
                break;
            default:
                w.PutCode(0b111, 3);
                break;
        }
    }
    w.PutCode(0, 7);  // end of block: the first 7-bit code
    return w.Stream();
}

class TlzLibraries : public ::testing::TestWithParam<TlzLibrary> {};

INSTANTIATE_TEST_SUITE_P(Both, TlzLibraries,
                         ::testing::Values(TlzLibrary::Zlib, TlzLibrary::Libdeflate),
                         [](const auto& param_info) {
                             return std::string(Name(param_info.param));
                         });

TEST_P(TlzLibraries, HeaderCarriesGzipMagicAndTheLevelClampedToOneToNine) {
    TLZ lz(GetParam(), GetParam());
    const Bytes input = RandomBytes(100, 1);
    for (int level : {0, 1, 3, 6, 9, 42}) {
        lz.SetLevel(level);
        const Bytes s = CompressWith(lz, input);
        const int expected = level < 1 ? 1 : level > 9 ? 9 : level;
        const Bytes header = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, static_cast<uint8_t>(expected), 0x0B};
        ASSERT_GE(s.size(), 10u);
        EXPECT_EQ(Bytes(s.begin(), s.begin() + 10), header) << "level " << level;
    }
}

TEST_P(TlzLibraries, EmptyInputGivesHeaderAndOneFinalBlock) {
    TLZ lz(GetParam(), GetParam());
    const Bytes s = CompressWith(lz, {});
    ASSERT_GT(s.size(), 10u);
    EXPECT_LE(s.size(), 10u + 5u);  // no trailer: at most an empty stored block
    EXPECT_EQ(s[10] & 1, 1) << "the first block is the final one";
    uint8_t unused = 0;
    EXPECT_EQ(lz.Expand(s.data(), s.size(), &unused, 0), 0);
}

// Every level, on noise and on a desktop picture, expanded by both libraries:
// each library must read the other's streams.
TEST_P(TlzLibraries, RoundTripsAtEveryLevelThroughBothExpanders) {
    TLZ lz(GetParam(), GetParam());
    TLZ zlib(TlzLibrary::Zlib, TlzLibrary::Zlib);
    TLZ libdeflate(TlzLibrary::Libdeflate, TlzLibrary::Libdeflate);
    const Bytes inputs[] = {RandomBytes(100000, 7), ScreenlikeBytes()};
    for (const Bytes& input : inputs) {
        for (int level = 1; level <= 9; ++level) {
            lz.SetLevel(level);
            const Bytes s = CompressWith(lz, input);
            for (TLZ* expander : {&zlib, &libdeflate}) {
                Bytes out(input.size());
                ASSERT_EQ(expander->Expand(s.data(), s.size(), out.data(), out.size()),
                          static_cast<int>(input.size()))
                    << "level " << level << " expanded by " << Name(expander->Expander());
                EXPECT_EQ(out, input);
            }
        }
    }
}

TEST_P(TlzLibraries, ScreenlikeDataCompressesAndHigherLevelsAreNotLarger) {
    TLZ lz(GetParam(), GetParam());
    const Bytes input = ScreenlikeBytes();
    lz.SetLevel(1);
    const size_t fast = CompressWith(lz, input).size();
    lz.SetLevel(9);
    const size_t small = CompressWith(lz, input).size();
    EXPECT_LT(fast, input.size() / 4);
    EXPECT_LE(small, fast);
}

// A stream written by another encoder: gzip -n (no name, so a plain 10-byte
// header) with its CRC and length trailer, which the expander never reads.
TEST_P(TlzLibraries, ExpandsGzipOutputIgnoringItsTrailer) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = tmp != nullptr ? tmp : "/tmp";
    const std::string in = dir + "/tlz_gzip_in_" + std::to_string(getpid());
    const std::string out = in + ".gz";
    std::string text;
    for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i * i % 97) + " of text\n";
    const Bytes inputs[] = {Bytes(text.begin(), text.end()), RandomBytes(70000, 3),
                            ScreenlikeBytes()};
    TLZ lz(GetParam(), GetParam());
    for (const Bytes& input : inputs) {
        for (const char* level : {"-1", "-9"}) {
            std::ofstream(in, std::ios::binary)
                .write(reinterpret_cast<const char*>(input.data()),
                       static_cast<std::streamsize>(input.size()));
            const std::string cmd = std::string("gzip -n -c ") + level + " < " + in + " > " + out;
            ASSERT_EQ(std::system(cmd.c_str()), 0) << "gzip must be installed";
            std::ifstream f(out, std::ios::binary);
            const Bytes gz((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            ASSERT_GT(gz.size(), 18u);
            ASSERT_EQ(gz[3], 0) << "gzip stored optional header fields";
            Bytes expanded(input.size());
            EXPECT_EQ(lz.Expand(gz.data(), gz.size(), expanded.data(), expanded.size()),
                      static_cast<int>(input.size()))
                << "gzip " << level;
            EXPECT_EQ(expanded, input);
        }
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST_P(TlzLibraries, DynamicBlockWithTheLargestLegalCodeCountsExpands) {
    TLZ lz(GetParam(), GetParam());
    const Bytes s = DynamicBlockDeclaring(286, 30);
    uint8_t unused = 0;
    EXPECT_EQ(lz.Expand(s.data(), s.size(), &unused, 0), 0);
}

// The expander as the viewer uses it (the default library).
TEST(Tlz, CorruptStreamsFailCleanly) {
    BitWriter reserved, storedLength, tooFarBack, overSubscribed, repeatPastEnd, reservedLength;
    reserved.Put(1, 1);
    reserved.Put(3, 2);
    for (int i = 0; i < 8; ++i) reserved.Put(0xFF, 8);
    storedLength.Put(1, 1);
    storedLength.Put(0, 2);
    storedLength.Put(0, 5);
    storedLength.Put(5, 16);
    storedLength.Put(0, 16);  // complement should be 0xFFFA
    for (int i = 0; i < 5; ++i) storedLength.Put(0x41, 8);
    tooFarBack.Put(1, 1);  // fixed code: length 3 at distance 1 with nothing written yet
    tooFarBack.Put(1, 2);
    tooFarBack.PutCode(0b0000001, 7);
    tooFarBack.PutCode(0, 5);
    tooFarBack.PutCode(0, 7);
    reservedLength.Put(1, 1);  // fixed code: 'A', then the unused length symbol 286
    reservedLength.Put(1, 2);
    reservedLength.PutCode(0x30 + 'A', 8);
    reservedLength.PutCode(0xC0 + 286 - 280, 8);
    reservedLength.PutCode(0, 5);
    reservedLength.PutCode(0, 7);
    overSubscribed.Put(1, 1);  // code-length code with three 1-bit codes
    overSubscribed.Put(2, 2);
    overSubscribed.Put(0, 5);
    overSubscribed.Put(0, 5);
    overSubscribed.Put(0, 4);
    for (int len : {1, 1, 1, 0}) overSubscribed.Put(static_cast<uint32_t>(len), 3);
    for (int i = 0; i < 80; ++i) overSubscribed.Put(0, 8);
    repeatPastEnd.Put(1, 1);  // code lengths: "138 zeros" twice for 258 lengths
    repeatPastEnd.Put(2, 2);
    repeatPastEnd.Put(0, 5);
    repeatPastEnd.Put(0, 5);
    repeatPastEnd.Put(18 - 4, 4);
    for (int i = 0; i < 18; ++i)  // order index 2 is symbol 18, index 17 symbol 1
        repeatPastEnd.Put(i == 2 || i == 17 ? 1 : 0, 3);
    for (int i = 0; i < 2; ++i) {
        repeatPastEnd.PutCode(1, 1);  // symbol 18 (symbol 1 has code 0)
        repeatPastEnd.Put(127, 7);
    }
    repeatPastEnd.Put(0, 16);

    TLZ lz;
    const Bytes valid = CompressWith(lz, ScreenlikeBytes());
    const struct {
        const char* name;
        Bytes stream;
        size_t expanded;
    } cases[] = {
        {"reserved block type", reserved.Stream(), 16},
        {"stored length and complement disagree", storedLength.Stream(), 5},
        {"distance before the start of the output", tooFarBack.Stream(), 3},
        {"reserved length symbol 286", reservedLength.Stream(), 259},
        {"more than 286 literal/length codes", DynamicBlockDeclaring(288, 30), 0},
        {"more than 30 distance codes", DynamicBlockDeclaring(286, 32), 0},
        {"over-subscribed code-length code", overSubscribed.Stream(), 0},
        {"repeat past the end of the code lengths", repeatPastEnd.Stream(), 0},
        {"cut in the middle", Bytes(valid.begin(), valid.begin() + valid.size() / 2),
         ScreenlikeBytes().size()},
        {"cut before the last byte", Bytes(valid.begin(), valid.end() - 1),
         ScreenlikeBytes().size()},
        {"header only", Bytes(valid.begin(), valid.begin() + 10), 0},
        {"empty", Bytes(), 0},
    };
    for (const auto& c : cases) {
        Bytes out(c.expanded + 1);
        EXPECT_LT(lz.Expand(c.stream.data(), c.stream.size(), out.data(), c.expanded), 0) << c.name;
    }
}

TEST_P(TlzLibraries, RejectsAnyExpandedLengthButTheAnnouncedOneWithoutWritingPastIt) {
    TLZ lz(GetParam(), GetParam());
    const Bytes input = ScreenlikeBytes();
    const Bytes s = CompressWith(lz, input);
    for (size_t announced : {input.size() - 1, input.size() + 1, size_t{0}}) {
        Bytes out(announced + 64, 0xA5);
        EXPECT_EQ(lz.Expand(s.data(), s.size(), out.data(), announced), tlzLengthMismatch)
            << announced;
        for (size_t i = announced; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << i;
    }
}

TEST_P(TlzLibraries, CompressReportsNoSpaceWithoutWritingPastTheOutput) {
    TLZ lz(GetParam(), GetParam());
    const Bytes input = RandomBytes(4096, 9);
    for (size_t capacity : {size_t{0}, size_t{11}, size_t{200}, input.size()}) {
        Bytes out(capacity + 64, 0xA5);
        EXPECT_EQ(lz.Compress(input.data(), input.size(), out.data(), capacity), tlzNoSpace)
            << capacity;
        for (size_t i = capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << i;
    }
}

struct HookEnds {
    const Bytes* input = nullptr;
    Bytes output;
    std::vector<size_t> pieces;
    bool refuse = false;

    static size_t Read(void* ctx, size_t offset, uint8_t* dst, size_t n) {
        const auto* self = static_cast<HookEnds*>(ctx);
        const size_t count = std::min(n, self->input->size() - offset);
        std::copy_n(self->input->begin() + static_cast<std::ptrdiff_t>(offset), count, dst);
        return count;
    }
    static bool Write(void* ctx, size_t offset, const uint8_t* src, size_t n) {
        auto* self = static_cast<HookEnds*>(ctx);
        if (self->refuse || offset != self->output.size()) return false;
        self->output.insert(self->output.end(), src, src + n);
        self->pieces.push_back(n);
        return true;
    }
};

TEST_P(TlzLibraries, HooksMoveInputAndOutputInBoundedPieces) {
    const Bytes input = RandomBytes(100000, 5);
    TLZ lz(GetParam(), GetParam());
    HookEnds compress;
    compress.input = &input;
    lz.SetHooks({&HookEnds::Read, &compress}, {&HookEnds::Write, &compress});
    lz.SetInputLength(input.size());
    const int n = lz.CompressThroughHooks();
    ASSERT_EQ(n, static_cast<int>(compress.output.size()));
    for (size_t piece : compress.pieces) EXPECT_LE(piece, TLZ::kWritePiece);
    EXPECT_GT(compress.pieces.size(), 1u);

    HookEnds expand;
    expand.input = &compress.output;
    lz.SetHooks({&HookEnds::Read, &expand}, {&HookEnds::Write, &expand});
    lz.SetInputLength(compress.output.size());
    EXPECT_EQ(lz.ExpandThroughHooks(input.size()), static_cast<int>(input.size()));
    EXPECT_EQ(expand.output, input);
    for (size_t piece : expand.pieces) EXPECT_LE(piece, TLZ::kWindowPiece);

    HookEnds refusing;
    refusing.input = &compress.output;
    refusing.refuse = true;
    lz.SetHooks({&HookEnds::Read, &refusing}, {&HookEnds::Write, &refusing});
    EXPECT_EQ(lz.ExpandThroughHooks(input.size()), tlzHookFailed);
    lz.SetInputLength(compress.output.size() + 1);  // the reader runs dry
    EXPECT_EQ(lz.ExpandThroughHooks(input.size()), tlzHookFailed);
}

}  // namespace
}  // namespace velmora
