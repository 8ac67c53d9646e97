// Field types for records that cross a process or machine boundary.
//
// Every wire, shared-memory and shared-file record is a struct made only of
// these types and plain bytes, so it has alignment 1, no padding, and its
// layout is checked with static_assert on sizeof and offsetof. Integers are
// stored little-endian whatever the host; IPv4 addresses and ports keep the
// network order the socket interface gives them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velmora {

// Unsigned or signed integer stored little-endian in sizeof(T) bytes.
template <typename T>
struct LittleEndian {
    static_assert(std::is_integral_v<T>);
    uint8_t bytes[sizeof(T)];

    constexpr T get() const {
        using U = std::make_unsigned_t<T>;
        U v = 0;
        for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<U>(static_cast<U>(bytes[i]) << (8 * i));
        return static_cast<T>(v);
    }
    constexpr void set(T value) {
        using U = std::make_unsigned_t<T>;
        U v = static_cast<U>(value);
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    }
    constexpr operator T() const { return get(); }
    constexpr LittleEndian& operator=(T value) {
        set(value);
        return *this;
    }
};

using LeU16 = LittleEndian<uint16_t>;
using LeU32 = LittleEndian<uint32_t>;
using LeI16 = LittleEndian<int16_t>;
using LeI32 = LittleEndian<int32_t>;
using LeU64 = LittleEndian<uint64_t>;
using LeI64 = LittleEndian<int64_t>;

// A value kept exactly as the socket interface gives it (network byte order):
// raw() is the in-memory value of sockaddr_in's sin_addr.s_addr or sin_port.
template <typename T>
struct NetworkOrder {
    static_assert(std::is_unsigned_v<T>);
    uint8_t bytes[sizeof(T)];

    T raw() const {
        T v;
        std::memcpy(&v, bytes, sizeof(T));
        return v;
    }
    void setRaw(T v) { std::memcpy(bytes, &v, sizeof(T)); }
};

using NetU16 = NetworkOrder<uint16_t>;  // a port as in sin_port
using NetU32 = NetworkOrder<uint32_t>;  // an IPv4 address as in sin_addr.s_addr

static_assert(sizeof(LeU16) == 2 && alignof(LeU16) == 1);
static_assert(sizeof(LeU32) == 4 && alignof(LeU32) == 1);
static_assert(sizeof(LeU64) == 8 && alignof(LeU64) == 1);
static_assert(sizeof(NetU32) == 4 && alignof(NetU32) == 1);
static_assert(std::is_trivially_copyable_v<LeU32> && std::is_standard_layout_v<LeU32>);

// Reading and writing integers at a byte offset of a buffer, for parsers that
// walk a variable layout. The caller has checked that the bytes are there.
template <typename T>
constexpr T LoadLe(const uint8_t* p) {
    LittleEndian<T> v{};
    for (size_t i = 0; i < sizeof(T); ++i) v.bytes[i] = p[i];
    return v.get();
}

template <typename T>
constexpr void StoreLe(uint8_t* p, T value) {
    LittleEndian<T> v{};
    v.set(value);
    for (size_t i = 0; i < sizeof(T); ++i) p[i] = v.bytes[i];
}

}  // namespace velmora
