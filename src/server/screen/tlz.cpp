#include "server/screen/tlz.h"

#include <algorithm>
#include <new>

#include "server/screen/tlz_engine.h"

namespace velmora {
namespace {

constexpr uint8_t kOsCode = 0x0B;

void WriteHeader(uint8_t* out, int level) {
    const uint8_t header[TLZ::kHeaderSize] = {
        0x1F, 0x8B, 8, 0, 0, 0, 0, 0, static_cast<uint8_t>(level), kOsCode};
    std::copy(std::begin(header), std::end(header), out);
}

// The shortest deflate body, an empty final fixed block, takes 10 bits.
constexpr size_t kMinStreamLength = TLZ::kHeaderSize + 2;

std::unique_ptr<TlzEngine> MakeEngine(TlzLibrary library) {
    return library == TlzLibrary::Zlib ? MakeZlibEngine() : MakeLibdeflateEngine();
}

}  // namespace

TLZ::TLZ(TlzLibrary compressor, TlzLibrary expander)
    : compressor_(compressor),
      expander_(expander),
      compressEngine_(MakeEngine(compressor)),
      expandEngine_(MakeEngine(expander)) {}

TLZ::~TLZ() = default;

void TLZ::SetLevel(int level) {
    level_ = std::clamp(level, kMinLevel, kMaxLevel);
}

size_t TLZ::CompressBound(size_t inputLength) {
    return kHeaderSize + std::max(ZlibBound(inputLength), LibdeflateBound(inputLength));
}

int TLZ::Compress(const uint8_t* input, size_t inputLength, uint8_t* output,
                  size_t outputCapacity) {
    if (inputLength > kMaxInputLength) return tlzTooLarge;
    if (outputCapacity < kMinStreamLength) return tlzNoSpace;  // before the header is written
    WriteHeader(output, level_);
    const int body = compressEngine_->Deflate(level_, input, inputLength, output + kHeaderSize,
                                              outputCapacity - kHeaderSize);
    return body < 0 ? body : static_cast<int>(kHeaderSize) + body;
}

int TLZ::Expand(const uint8_t* stream, size_t streamLength, uint8_t* output,
                size_t expandedLength) {
    if (expandedLength > kMaxInputLength) return tlzTooLarge;
    if (streamLength < kMinStreamLength) return tlzShortStream;
    // The header is skipped unread: level and time bytes carry nothing the
    // expander needs, and other encoders fill them differently.
    return expandEngine_->Inflate(stream + kHeaderSize, streamLength - kHeaderSize, output,
                                  expandedLength);
}

void TLZ::SetHooks(ReadHook reader, WriteHook writer) {
    reader_ = reader;
    writer_ = writer;
}

int TLZ::GatherInput() {
    if (inputLength_ > kMaxInputLength) return tlzTooLarge;
    if (reader_.read == nullptr) return tlzHookFailed;
    try {
        inputScratch_.resize(inputLength_);
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    for (size_t offset = 0; offset < inputLength_;) {
        const size_t want = std::min(kWindowPiece, inputLength_ - offset);
        const size_t got =
            reader_.read(reader_.context, offset, inputScratch_.data() + offset, want);
        if (got == 0 || got > want) return tlzHookFailed;
        offset += got;
    }
    return 0;
}

int TLZ::Deliver(const uint8_t* data, size_t length, size_t piece) {
    if (writer_.write == nullptr) return tlzHookFailed;
    for (size_t offset = 0; offset < length; offset += piece) {
        const size_t n = std::min(piece, length - offset);
        if (!writer_.write(writer_.context, offset, data + offset, n)) return tlzHookFailed;
    }
    return 0;
}

int TLZ::CompressThroughHooks() {
    int result = GatherInput();
    if (result < 0) return result;
    try {
        outputScratch_.resize(CompressBound(inputLength_));
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    result =
        Compress(inputScratch_.data(), inputLength_, outputScratch_.data(), outputScratch_.size());
    if (result < 0) return result;
    const int delivered = Deliver(outputScratch_.data(), static_cast<size_t>(result), kWritePiece);
    return delivered < 0 ? delivered : result;
}

int TLZ::ExpandThroughHooks(size_t expandedLength) {
    if (expandedLength > kMaxInputLength) return tlzTooLarge;
    int result = GatherInput();
    if (result < 0) return result;
    try {
        outputScratch_.resize(expandedLength);
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    result = Expand(inputScratch_.data(), inputLength_, outputScratch_.data(), expandedLength);
    if (result < 0) return result;
    const int delivered = Deliver(outputScratch_.data(), expandedLength, kWindowPiece);
    return delivered < 0 ? delivered : result;
}

}  // namespace velmora
