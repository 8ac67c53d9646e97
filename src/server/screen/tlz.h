// The compressed stream of SCREEN_BLOCKS and POINTER_UPDATE payloads.
//
// A stream is a 10-byte header laid out like a gzip member header (1F 8B 08 00,
// four zero time bytes, the level, OS code 0B) followed by one raw deflate
// stream (RFC 1951) and nothing else: no CRC, no length. The expanded length
// travels in the carrying message (payloadLength), so the expander is always
// told how many bytes to produce and refuses any other count.
//
// Two deflate libraries sit behind the same format: zlib (raw deflate,
// windowBits -15) and libdeflate; each reads the other's streams. By default
// libdeflate compresses: on screen-like data it is 1.2 times as fast as zlib
// at level 1 and 1.8 times at level 6, with streams within a few percent of
// zlib's size (bench/codec). The level keeps its meaning (1 fastest ..
// 9 smallest), but the encoded bytes differ. zlib expands by default:
// libdeflate's decoder, though about 3 times as fast, is lenient where
// RFC 1951 is strict (it accepts dynamic blocks declaring 287 or 288
// literal/length or 31 or 32 distance codes, and decodes the reserved length
// symbols 286 and 287 as 258), and a corrupt stream must be refused; zlib
// still expands several times faster than any link delivers.
//
// Not thread-safe: one TLZ per compressing or expanding thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

// Results of TLZ operations (a non-negative result is a length).
inline constexpr int tlzShortStream = -1;     // fewer bytes than the header and one block
inline constexpr int tlzBadData = -2;         // not a valid deflate stream, or cut short
inline constexpr int tlzLengthMismatch = -3;  // expands to another length than announced
inline constexpr int tlzNoSpace = -4;         // the output area cannot hold the stream
inline constexpr int tlzNoMemory = -5;
inline constexpr int tlzTooLarge = -6;    // input beyond kMaxInputLength
inline constexpr int tlzHookFailed = -7;  // a read hook gave less, or a write hook refused

enum class TlzLibrary { Zlib, Libdeflate };

class TlzEngine;  // one deflate library's compressor and decompressor

class TLZ {
  public:
    static constexpr size_t kHeaderSize = 10;
    static constexpr int kMinLevel = 1;
    static constexpr int kMaxLevel = 9;
    static constexpr int kDefaultLevel = 6;
    static constexpr TlzLibrary kDefaultCompressor = TlzLibrary::Libdeflate;
    static constexpr TlzLibrary kDefaultExpander = TlzLibrary::Zlib;
    // Lengths are returned as int; nothing the system sends comes near this.
    static constexpr size_t kMaxInputLength = size_t{1} << 28;
    // Piece sizes of the hook interface.
    static constexpr size_t kWritePiece = 16384;
    static constexpr size_t kWindowPiece = 32768;

    explicit TLZ(TlzLibrary compressor = kDefaultCompressor,
                 TlzLibrary expander = kDefaultExpander);
    ~TLZ();
    TLZ(const TLZ&) = delete;
    TLZ& operator=(const TLZ&) = delete;

    // Levels outside 1..9 (a hand-edited settings file) are clamped.
    void SetLevel(int level);
    int Level() const { return level_; }
    TlzLibrary Compressor() const { return compressor_; }
    TlzLibrary Expander() const { return expander_; }

    // Largest stream Compress can produce for inputLength bytes, header
    // included, whichever library compresses.
    static size_t CompressBound(size_t inputLength);

    // Writes header and deflate stream into output; returns the stream length
    // or a negative tlz code. Never writes beyond outputCapacity.
    [[nodiscard]] int Compress(const uint8_t* input, size_t inputLength, uint8_t* output,
                               size_t outputCapacity);

    // Expands stream (header skipped unread; bytes after the final block,
    // such as a gzip trailer, are ignored) into exactly expandedLength bytes.
    // Returns expandedLength, or a negative tlz code when the stream is
    // invalid or would expand to any other length. Never reads beyond
    // streamLength nor writes beyond expandedLength; on failure the output's
    // content is undefined.
    [[nodiscard]] int Expand(const uint8_t* stream, size_t streamLength, uint8_t* output,
                             size_t expandedLength);

    // Hook interface: the caller owns both ends and the codec pulls and
    // pushes pieces. The read hook copies up to n bytes of input starting at
    // input offset `offset` into dst and returns how many it copied; the write
    // hook takes n bytes that belong at output offset `offset` and returns
    // false to refuse them. Note: both libraries work on whole buffers, so the
    // input is gathered first; the hooks keep callers free of buffer sizes.
    struct ReadHook {
        size_t (*read)(void* context, size_t offset, uint8_t* dst, size_t n) = nullptr;
        void* context = nullptr;
    };
    struct WriteHook {
        bool (*write)(void* context, size_t offset, const uint8_t* src, size_t n) = nullptr;
        void* context = nullptr;
    };
    void SetHooks(ReadHook reader, WriteHook writer);
    void SetInputLength(size_t inputLength) { inputLength_ = inputLength; }
    // Compress the input through the hooks (output in pieces of at most
    // kWritePiece); returns the stream length or a negative tlz code.
    [[nodiscard]] int CompressThroughHooks();
    // Expand the input through the hooks (pieces of at most kWindowPiece)
    // into exactly expandedLength bytes; returns it or a negative tlz code.
    [[nodiscard]] int ExpandThroughHooks(size_t expandedLength);

  private:
    int GatherInput();
    int Deliver(const uint8_t* data, size_t length, size_t piece);

    TlzLibrary compressor_;
    TlzLibrary expander_;
    int level_ = kDefaultLevel;
    std::unique_ptr<TlzEngine> compressEngine_;  // each allocates its state on first use
    std::unique_ptr<TlzEngine> expandEngine_;
    ReadHook reader_;
    WriteHook writer_;
    size_t inputLength_ = 0;
    std::vector<uint8_t> inputScratch_;   // hook interface only; reused
    std::vector<uint8_t> outputScratch_;  // hook interface only; reused
};

}  // namespace velmora
