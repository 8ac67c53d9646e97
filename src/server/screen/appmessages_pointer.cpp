#include "server/screen/appmessages_pointer.h"

#include <new>

#include "server/screen/tlz.h"

namespace velmora {

int PointerShapeBytes(const POINTER_RECORD& record) {
    if (record.shapeIncluded == 0) return 0;
    const int format = record.format;
    const int first = record.firstSize;
    const int mask = record.maskSize;
    if (format < pfMonochrome || format > pf32Bits || first < 0 || mask < 0) return amBadShape;
    if (format != pfMonochrome && record.hasMask != 0) return first + mask;
    return first;
}

int BuildPointerUpdate(TLZ& lz, const POINTER_RECORD& record, const uint8_t* shape,
                       size_t shapeLength, std::vector<uint8_t>& message) {
    const int declared = PointerShapeBytes(record);
    if (declared < 0) return declared;
    if (static_cast<size_t>(declared) != shapeLength || (shapeLength != 0 && shape == nullptr)) {
        return amBadShape;
    }
    std::vector<uint8_t> payload;  // a few per second at most: no buffer kept
    try {
        payload.resize(sizeof(POINTER_RECORD) + shapeLength);
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    POINTER_RECORD stored = record;
    stored.one = 1;
    std::memcpy(payload.data(), &stored, sizeof(stored));
    if (shapeLength != 0) std::memcpy(payload.data() + sizeof(stored), shape, shapeLength);
    return BuildCompressedMessage(lz, mtPointerUpdate, 0, 0, payload.data(), payload.size(),
                                  message);
}

int ReadPointerUpdate(const uint8_t* payload, size_t length, POINTER_RECORD* record,
                      const uint8_t** shape, size_t* shapeLength) {
    if (payload == nullptr || length < sizeof(POINTER_RECORD)) return amBadLength;
    std::memcpy(record, payload, sizeof(POINTER_RECORD));
    const int declared = PointerShapeBytes(*record);
    if (declared < 0) return declared;
    if (length - sizeof(POINTER_RECORD) != static_cast<size_t>(declared)) return amBadShape;
    *shape = declared != 0 ? payload + sizeof(POINTER_RECORD) : nullptr;
    *shapeLength = static_cast<size_t>(declared);
    return amOk;
}

}  // namespace velmora
