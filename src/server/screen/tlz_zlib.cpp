// zlib behind TLZ: raw deflate and inflate (windowBits -15), memLevel 8, the
// default strategy, so levels 1..9 select zlib's standard parameter rows.
#define ZLIB_CONST
#include <zlib.h>

#include <climits>

#include "server/screen/tlz_engine.h"

namespace velmora {
namespace {

class ZlibEngine final : public TlzEngine {
  public:
    ~ZlibEngine() override {
        if (deflaterLevel_ != 0) deflateEnd(&deflater_);
        if (inflaterReady_) inflateEnd(&inflater_);
    }

    int Deflate(int level, const uint8_t* input, size_t inputLength, uint8_t* out,
                size_t outCapacity) override {
        if (!PrepareDeflater(level)) return tlzNoMemory;
        deflater_.next_in = input;
        deflater_.avail_in = static_cast<uInt>(inputLength);
        deflater_.next_out = out;
        deflater_.avail_out = static_cast<uInt>(outCapacity > UINT_MAX ? UINT_MAX : outCapacity);
        // Z_OK or Z_BUF_ERROR here mean the output area filled up first.
        if (deflate(&deflater_, Z_FINISH) != Z_STREAM_END) return tlzNoSpace;
        return static_cast<int>(deflater_.total_out);
    }

    int Inflate(const uint8_t* body, size_t bodyLength, uint8_t* out, size_t outLength) override {
        if (bodyLength > UINT_MAX || outLength > UINT_MAX) return tlzTooLarge;
        if (!PrepareInflater()) return tlzNoMemory;
        uint8_t probe = 0;
        inflater_.next_in = body;
        inflater_.avail_in = static_cast<uInt>(bodyLength);
        inflater_.next_out = outLength != 0 ? out : &probe;
        inflater_.avail_out = static_cast<uInt>(outLength);
        int ret = inflate(&inflater_, Z_FINISH);
        if (ret == Z_STREAM_END) {
            return inflater_.total_out == outLength ? static_cast<int>(outLength)
                                                    : tlzLengthMismatch;
        }
        if (ret == Z_MEM_ERROR) return tlzNoMemory;
        if (ret != Z_BUF_ERROR && ret != Z_OK) return tlzBadData;
        if (inflater_.avail_out != 0) return tlzBadData;  // input ended inside the stream
        // The output is full but the final block has not been seen: the end
        // code may still be pending, or more bytes would follow. One spare
        // byte tells which.
        inflater_.next_out = &probe;
        inflater_.avail_out = 1;
        ret = inflate(&inflater_, Z_FINISH);
        if (inflater_.avail_out == 0) return tlzLengthMismatch;
        if (ret == Z_STREAM_END) return static_cast<int>(outLength);
        return ret == Z_MEM_ERROR ? tlzNoMemory : tlzBadData;
    }

  private:
    bool PrepareDeflater(int level) {
        if (deflaterLevel_ == level) return deflateReset(&deflater_) == Z_OK;
        if (deflaterLevel_ != 0) deflateEnd(&deflater_);
        deflaterLevel_ = 0;
        deflater_ = z_stream{};
        if (deflateInit2(&deflater_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return false;
        }
        deflaterLevel_ = level;
        return true;
    }

    bool PrepareInflater() {
        if (inflaterReady_) return inflateReset(&inflater_) == Z_OK;
        inflater_ = z_stream{};
        inflaterReady_ = inflateInit2(&inflater_, -15) == Z_OK;
        return inflaterReady_;
    }

    z_stream deflater_{};
    int deflaterLevel_ = 0;  // 0 = no deflater yet
    z_stream inflater_{};
    bool inflaterReady_ = false;
};

}  // namespace

std::unique_ptr<TlzEngine> MakeZlibEngine() {
    return std::make_unique<ZlibEngine>();
}

// compressBound covers the zlib wrapper too, so it is above the raw bound.
size_t ZlibBound(size_t inputLength) {
    return compressBound(static_cast<uLong>(inputLength));
}

}  // namespace velmora
