// libdeflate behind TLZ: whole-buffer raw deflate. Its decompressor stops at
// the final block, never reads past the given input nor writes past the given
// output, and reports any expanded length other than the one given.
#include <libdeflate.h>

#include "server/screen/tlz_engine.h"

namespace velmora {
namespace {

class LibdeflateEngine final : public TlzEngine {
  public:
    ~LibdeflateEngine() override {
        libdeflate_free_compressor(compressor_);
        libdeflate_free_decompressor(decompressor_);
    }

    int Deflate(int level, const uint8_t* input, size_t inputLength, uint8_t* out,
                size_t outCapacity) override {
        if (compressor_ == nullptr || compressorLevel_ != level) {
            libdeflate_free_compressor(compressor_);
            compressor_ = libdeflate_alloc_compressor(level);
            compressorLevel_ = level;
            if (compressor_ == nullptr) return tlzNoMemory;
        }
        // 0 means the stream did not fit (even an empty input makes a block).
        const size_t n =
            libdeflate_deflate_compress(compressor_, input, inputLength, out, outCapacity);
        return n == 0 ? tlzNoSpace : static_cast<int>(n);
    }

    int Inflate(const uint8_t* body, size_t bodyLength, uint8_t* out, size_t outLength) override {
        if (decompressor_ == nullptr) {
            decompressor_ = libdeflate_alloc_decompressor();
            if (decompressor_ == nullptr) return tlzNoMemory;
        }
        uint8_t probe = 0;
        switch (libdeflate_deflate_decompress(decompressor_, body, bodyLength,
                                              outLength != 0 ? out : &probe, outLength, nullptr)) {
            case LIBDEFLATE_SUCCESS:
                return static_cast<int>(outLength);
            case LIBDEFLATE_SHORT_OUTPUT:
            case LIBDEFLATE_INSUFFICIENT_SPACE:
                return tlzLengthMismatch;
            default:
                return tlzBadData;
        }
    }

  private:
    libdeflate_compressor* compressor_ = nullptr;
    int compressorLevel_ = 0;
    libdeflate_decompressor* decompressor_ = nullptr;
};

}  // namespace

std::unique_ptr<TlzEngine> MakeLibdeflateEngine() {
    return std::make_unique<LibdeflateEngine>();
}

size_t LibdeflateBound(size_t inputLength) {
    return libdeflate_deflate_compress_bound(nullptr, inputLength);
}

}  // namespace velmora
