// The instance list: 500 connection slots of 248 bytes in the shared memory
// object named after the broker. Slot i lies at offset i * 248. Applications
// claim free slots and write connect requests into them; the broker answers
// through the state and error fields and keeps its connection figures there.
//
// State changes are single 32-bit stores (LoadShared/StoreShared): an
// application fills a request and publishes it by storing nsNewConnection
// last; the broker likewise fills a slot before it stores nsConnected. Other
// fields are plain little-endian bytes, ordered by those state stores.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clientif/shared_field.h"
#include "clientif/ztif_codes.h"
#include "platform/byte_order.h"

namespace velmora {

inline constexpr int32_t kInstanceSlots = 500;
inline constexpr size_t kInstanceSlotSize = 248;
inline constexpr size_t kInstanceListSize = 124000;  // kInstanceSlots * kInstanceSlotSize
inline constexpr size_t kBrokerNameMax = 29;         // characters, without the NUL
inline constexpr size_t kBrokerNameField = 30;
inline constexpr size_t kServerAddressTextField = 20;
inline constexpr size_t kBrokerPrivateCells = 11;

// Cache states (ZTINSTANCE_SLOT::cacheState).
inline constexpr int32_t kCacheNone = 0;   // no resources
inline constexpr int32_t kCacheKept = 1;   // resources of an earlier connection kept, idle
inline constexpr int32_t kCacheInUse = 2;  // resources in use

struct ZTINSTANCE_SLOT {
    LeI32 state;                  // ns*; written by both sides with StoreShared
    uint8_t applicationGuid[16];  // requesting application; the peerId of ccConnect
    LeI32 connectionKey;          // 0 while requested, the slot index when set up, -1 released
    char name[kBrokerNameField];  // broker name N, NUL-terminated; prefix of the queue names
    LeU16 dataCounter;            // seq of the next channel-0 packet to the server
    LeU16 controlCounter;         // seq of the next channel-1 packet to the server
    uint8_t padding1[2];
    LeI32 errorCode;                                  // nle*: last error of the slot
    LeI32 cacheState;                                 // kCache*
    int8_t silenceCounter;                            // broker counts up, applications clear
    uint8_t padding2[3];                              //
    LeU32 connectionType;                             // connectionType of ccConnect (4 = viewer)
    NetU32 serverAddress;                             // IPv4, network order
    NetU16 serverPort;                                // P, network order ...
    uint8_t serverPortHigh[2];                        // ... in the low half of 4 bytes; these are 0
    NetU16 serverAckPort;                             // P + 1, network order ...
    uint8_t serverAckPortHigh[2];                     // ... likewise
    char serverAddressText[kServerAddressTextField];  // dotted decimal, NUL-terminated
    LeU32 serverPortHost;                             // P, host value
    LeU32 setupTick;                                  // when the broker began the connection
    LeU32 lastReceiveTick;                            // last packet from the server
    LeU32 lastSendTick;                               // last packet to the server
    LeU32 lastApplicationSendTick;                    // last message taken from the send queue
    uint8_t reserved1[4];
    LeU32 lifeReplyTick;   // when the server last answered a life check
    LeU32 lifeReplyValue;  // the value of that answer
    uint8_t brokerPrivate[kBrokerPrivateCells *
                          4];  // the broker's own references; no one else reads them
    LeU32 roundTripMs;         // 90 at set-up, then the current average
    LeU32 connectTimeoutMs;    // how long the broker waits for the server to accept
    LeU32 packetsWaiting;      // statistics: packets waiting for the application
    LeU32 receiveRate;         // statistics: bytes per second
    LeU32 framesWaiting;       // statistics: frames to send or acknowledge
    LeU32 sendRate;            // statistics: bytes per second
    uint8_t reserved2[40];
};

static_assert(sizeof(ZTINSTANCE_SLOT) == kInstanceSlotSize);
static_assert(alignof(ZTINSTANCE_SLOT) == 1);
static_assert(kInstanceSlots * kInstanceSlotSize == kInstanceListSize);
static_assert(offsetof(ZTINSTANCE_SLOT, state) == 0);
static_assert(offsetof(ZTINSTANCE_SLOT, applicationGuid) == 4);
static_assert(offsetof(ZTINSTANCE_SLOT, connectionKey) == 20);
static_assert(offsetof(ZTINSTANCE_SLOT, name) == 24);
static_assert(offsetof(ZTINSTANCE_SLOT, dataCounter) == 54);
static_assert(offsetof(ZTINSTANCE_SLOT, controlCounter) == 56);
static_assert(offsetof(ZTINSTANCE_SLOT, padding1) == 58);
static_assert(offsetof(ZTINSTANCE_SLOT, errorCode) == 60);
static_assert(offsetof(ZTINSTANCE_SLOT, cacheState) == 64);
static_assert(offsetof(ZTINSTANCE_SLOT, silenceCounter) == 68);
static_assert(offsetof(ZTINSTANCE_SLOT, padding2) == 69);
static_assert(offsetof(ZTINSTANCE_SLOT, connectionType) == 72);
static_assert(offsetof(ZTINSTANCE_SLOT, serverAddress) == 76);
static_assert(offsetof(ZTINSTANCE_SLOT, serverPort) == 80);
static_assert(offsetof(ZTINSTANCE_SLOT, serverPortHigh) == 82);
static_assert(offsetof(ZTINSTANCE_SLOT, serverAckPort) == 84);
static_assert(offsetof(ZTINSTANCE_SLOT, serverAckPortHigh) == 86);
static_assert(offsetof(ZTINSTANCE_SLOT, serverAddressText) == 88);
static_assert(offsetof(ZTINSTANCE_SLOT, serverPortHost) == 108);
static_assert(offsetof(ZTINSTANCE_SLOT, setupTick) == 112);
static_assert(offsetof(ZTINSTANCE_SLOT, lastReceiveTick) == 116);
static_assert(offsetof(ZTINSTANCE_SLOT, lastSendTick) == 120);
static_assert(offsetof(ZTINSTANCE_SLOT, lastApplicationSendTick) == 124);
static_assert(offsetof(ZTINSTANCE_SLOT, reserved1) == 128);
static_assert(offsetof(ZTINSTANCE_SLOT, lifeReplyTick) == 132);
static_assert(offsetof(ZTINSTANCE_SLOT, lifeReplyValue) == 136);
static_assert(offsetof(ZTINSTANCE_SLOT, brokerPrivate) == 140);
static_assert(offsetof(ZTINSTANCE_SLOT, roundTripMs) == 184);
static_assert(offsetof(ZTINSTANCE_SLOT, connectTimeoutMs) == 188);
static_assert(offsetof(ZTINSTANCE_SLOT, packetsWaiting) == 192);
static_assert(offsetof(ZTINSTANCE_SLOT, receiveRate) == 196);
static_assert(offsetof(ZTINSTANCE_SLOT, framesWaiting) == 200);
static_assert(offsetof(ZTINSTANCE_SLOT, sendRate) == 204);
static_assert(offsetof(ZTINSTANCE_SLOT, reserved2) == 208);
// The atomic fields keep their natural alignment in every slot.
static_assert(kInstanceSlotSize % 4 == 0);

// Slot `index` of a mapped instance list. The caller has checked the index
// and that the mapping holds kInstanceListSize bytes.
inline ZTINSTANCE_SLOT& SlotAt(uint8_t* list, int32_t index) {
    return *reinterpret_cast<ZTINSTANCE_SLOT*>(list +
                                               static_cast<size_t>(index) * kInstanceSlotSize);
}

inline int32_t SlotState(const ZTINSTANCE_SLOT& slot) {
    return LoadShared(slot.state);
}
inline void SetSlotState(ZTINSTANCE_SLOT& slot, int32_t state) {
    StoreShared(slot.state, state);
}
// Moves the slot from `from` to `to` only if it is still in `from`, so a
// change the other side made meanwhile is never overwritten.
inline bool ChangeSlotState(ZTINSTANCE_SLOT& slot, int32_t from, int32_t to) {
    return CompareExchangeShared(slot.state, from, to);
}

// The state a free slot has, as the broker writes it at start and release:
// nsNotUse, error nleInvalidConnect, every other byte 0.
void ResetSlot(ZTINSTANCE_SLOT& slot);

}  // namespace velmora
