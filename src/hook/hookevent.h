// The window-event records of the hook queue and the block of memory that
// every process with the hook library shares.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/byte_order.h"

namespace velmora {

// Window messages that produce a record.
inline constexpr uint32_t kWmHScroll = 0x114;
inline constexpr uint32_t kWmVScroll = 0x115;
inline constexpr uint32_t kWmMouseWheel = 0x20A;
inline constexpr uint32_t kWmSizing = 0x214;         // 532: a resize step, rect proposed, edge
inline constexpr uint32_t kWmMoving = 0x216;         // 534: a move step, rect proposed
inline constexpr uint32_t kWmEnterSizeMove = 0x231;  // 561: a move or resize begins
inline constexpr uint32_t kWmExitSizeMove = 0x232;   // 562: it ends

// The dragged edge of a resize (the edge field of 532).
inline constexpr uint32_t kEdgeLeft = 1;
inline constexpr uint32_t kEdgeRight = 2;
inline constexpr uint32_t kEdgeTop = 3;
inline constexpr uint32_t kEdgeTopLeft = 4;
inline constexpr uint32_t kEdgeTopRight = 5;
inline constexpr uint32_t kEdgeBottom = 6;
inline constexpr uint32_t kEdgeBottomLeft = 7;
inline constexpr uint32_t kEdgeBottomRight = 8;

inline constexpr int32_t kWheelDelta = 120;  // one wheel click

// One queued window event, 40 bytes. Fields a message does not fill are 0.
struct HOOKEVENT {
    LeU32 message;
    LeI32 left;  // screen rectangle; right and bottom exclusive
    LeI32 top;
    LeI32 right;
    LeI32 bottom;
    LeU32 edge;        // 532: the dragged edge
    LeU32 scrollCode;  // scroll messages: the scroll request
    LeI32 value;       // scroll position, or the wheel delta (signed)
    LeI32 x;           // wheel: cursor position
    LeI32 y;
};
static_assert(sizeof(HOOKEVENT) == 40);
static_assert(offsetof(HOOKEVENT, message) == 0);
static_assert(offsetof(HOOKEVENT, left) == 4);
static_assert(offsetof(HOOKEVENT, top) == 8);
static_assert(offsetof(HOOKEVENT, right) == 12);
static_assert(offsetof(HOOKEVENT, bottom) == 16);
static_assert(offsetof(HOOKEVENT, edge) == 20);
static_assert(offsetof(HOOKEVENT, scrollCode) == 24);
static_assert(offsetof(HOOKEVENT, value) == 28);
static_assert(offsetof(HOOKEVENT, x) == 32);
static_assert(offsetof(HOOKEVENT, y) == 36);

inline constexpr uint32_t kHookQueueCapacity = 2000;

// The shared block, zero when first made. The ring fields (count, records,
// readIndex, writeIndex) are touched only under the named mutex "ZTHOOK";
// the other fields are single values written and read without it.
struct HOOKSHARED {
    LeU64 hookHandles[4];  // [0]: id of the process whose watcher runs, 0 when none
    LeI32 count;           // records GetQue would deliver
    HOOKEVENT records[kHookQueueCapacity];
    LeU32 readIndex;      // next record to take
    LeU32 writeIndex;     // next slot to fill
    LeU64 currentCursor;  // serial of the cursor shape last seen
    LeU32 ownerWindow;    // SetHooks' arguments, stored only
    LeU32 ownerMessage;
    LeI32 mouseX;  // last pointer position seen
    LeI32 mouseY;
    LeI32 moveStartX;  // pointer position when the last 561 was queued; stored only
    LeI32 moveStartY;
    uint8_t hideMouse;  // SetHideMouse's flag, stored only
};
static_assert(offsetof(HOOKSHARED, hookHandles) == 0);
static_assert(offsetof(HOOKSHARED, count) == 32);
static_assert(offsetof(HOOKSHARED, records) == 36);
static_assert(offsetof(HOOKSHARED, readIndex) == 36 + 40 * kHookQueueCapacity);
static_assert(offsetof(HOOKSHARED, writeIndex) == 80040);
static_assert(offsetof(HOOKSHARED, currentCursor) == 80044);
static_assert(offsetof(HOOKSHARED, ownerWindow) == 80052);
static_assert(offsetof(HOOKSHARED, ownerMessage) == 80056);
static_assert(offsetof(HOOKSHARED, mouseX) == 80060);
static_assert(offsetof(HOOKSHARED, mouseY) == 80064);
static_assert(offsetof(HOOKSHARED, moveStartX) == 80068);
static_assert(offsetof(HOOKSHARED, moveStartY) == 80072);
static_assert(offsetof(HOOKSHARED, hideMouse) == 80076);
static_assert(sizeof(HOOKSHARED) == 80077);

}  // namespace velmora
