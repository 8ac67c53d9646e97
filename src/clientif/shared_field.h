// Fields of shared memory that another process reads or writes while we
// look at them: slot states, the silence counter, queue heads, tails and
// counts. Each is read and written as one atomic operation on its
// little-endian bytes, so a reader never sees half of a store, and a store
// with release order publishes everything written before it (the fields of a
// connect request, the record a put has just copied).
//
// The field must be naturally aligned in memory. The instance list and the
// queues are mapped at page boundaries and their atomic fields sit at
// multiples of their size, so this holds for every use in this library.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>

#include "platform/byte_order.h"

namespace velmora {
namespace shared_field_detail {

template <typename T>
constexpr T FromLittle(T v) {
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else if constexpr (sizeof(T) == 4) {
        return __builtin_bswap32(v);
    } else {
        return __builtin_bswap16(v);
    }
}

template <typename T>
T* Word(uint8_t* bytes) {
    assert(reinterpret_cast<uintptr_t>(bytes) % sizeof(T) == 0);
    return reinterpret_cast<T*>(bytes);
}

template <typename T>
const T* Word(const uint8_t* bytes) {
    assert(reinterpret_cast<uintptr_t>(bytes) % sizeof(T) == 0);
    return reinterpret_cast<const T*>(bytes);
}

}  // namespace shared_field_detail

inline int32_t LoadShared(const LeI32& field) {
    using namespace shared_field_detail;
    return static_cast<int32_t>(
        FromLittle(__atomic_load_n(Word<uint32_t>(field.bytes), __ATOMIC_ACQUIRE)));
}

inline void StoreShared(LeI32& field, int32_t value) {
    using namespace shared_field_detail;
    __atomic_store_n(Word<uint32_t>(field.bytes), FromLittle(static_cast<uint32_t>(value)),
                     __ATOMIC_RELEASE);
}

// Replaces `expected` by `desired` only if the field still holds `expected`.
inline bool CompareExchangeShared(LeI32& field, int32_t expected, int32_t desired) {
    using namespace shared_field_detail;
    uint32_t seen = FromLittle(static_cast<uint32_t>(expected));
    return __atomic_compare_exchange_n(Word<uint32_t>(field.bytes), &seen,
                                       FromLittle(static_cast<uint32_t>(desired)), false,
                                       __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

inline uint16_t LoadShared(const LeU16& field) {
    using namespace shared_field_detail;
    return FromLittle(__atomic_load_n(Word<uint16_t>(field.bytes), __ATOMIC_ACQUIRE));
}

inline void StoreShared(LeU16& field, uint16_t value) {
    using namespace shared_field_detail;
    __atomic_store_n(Word<uint16_t>(field.bytes), FromLittle(value), __ATOMIC_RELEASE);
}

inline int8_t LoadShared(const int8_t& field) {
    return __atomic_load_n(&field, __ATOMIC_ACQUIRE);
}

inline void StoreShared(int8_t& field, int8_t value) {
    __atomic_store_n(&field, value, __ATOMIC_RELEASE);
}

}  // namespace velmora
