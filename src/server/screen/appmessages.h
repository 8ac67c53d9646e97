// The application messages between a server session and a viewer, carried
// whole on channel 0 of their connection.
//
// Typed messages (server to viewer) begin with MESSAGE_HEADER, whose first
// byte is the type. Untyped messages are known by their exact length: the
// logon exchange, and everything a viewer sends (17 MOUSE_EVENT, 33
// CONTROL_REQUEST, 642 KEY_EVENTS). Every record is defined once here, made
// of bytes and little-endian fields only. Readers take a buffer and its
// length and refuse what does not fit; text fields are read up to their NUL
// or their end, never beyond.
//
// Blocks: appmessages_blocks.h. Pointer updates: appmessages_pointer.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/byte_order.h"

namespace velmora {

class TLZ;

// Message types: the first byte of MESSAGE_HEADER.
inline constexpr uint8_t mtScreenBlocks = 0;
inline constexpr uint8_t mtWindowDrag = 4;
inline constexpr uint8_t mtScreenInfo = 9;
inline constexpr uint8_t mtPointerUpdate = 10;
inline constexpr uint8_t mtMemberList = 11;
inline constexpr uint8_t mtControlAnswer = 12;

// Results of readers and builders.
inline constexpr int amOk = 1;
inline constexpr int amBadLength = -1;  // the length does not fit the layout
inline constexpr int amBadCount = -2;   // a count is negative or runs past the message
inline constexpr int amBadBlock = -3;   // a block outside 1..56, off the screen or past the payload
inline constexpr int amBadDepth = -4;   // not 8, 16 or 24
inline constexpr int amBadType = -5;    // another message type than the reader's
inline constexpr int amTooLarge = -6;   // an announced length beyond what a server sends
inline constexpr int amBadShape = -7;   // pointer shape sizes that do not fit
inline constexpr int amBadStream = -8;  // the compressed payload did not expand as announced

inline constexpr int kBlockSize = 56;
// Largest payloads a server announces: a batch of 1024 full blocks at depth
// 24, and a pointer record with two planes of the largest 16-bit size.
inline constexpr uint32_t kMaxBatchBlocks = 1024;
inline constexpr uint32_t kMaxScreenBlocksPayload = kMaxBatchBlocks * (8 + 56 * 56 * 3);
inline constexpr uint32_t kMaxPointerPayload = 23 + 2 * 32767;

// WINDOW_DRAG events (the window-message numbers of a move or size loop).
inline constexpr int32_t wdEnterSizeMove = 561;  // a drag starts, or starts again
inline constexpr int32_t wdMoving = 534;
inline constexpr int32_t wdSizing = 532;
// WINDOW_DRAG edges, with wdSizing.
inline constexpr int32_t weLeft = 1, weRight = 2, weTop = 3, weTopLeft = 4, weTopRight = 5,
                         weBottom = 6, weBottomLeft = 7, weBottomRight = 8;

// MOUSE_EVENT actions (the mouse-event flag values of the original platform).
inline constexpr int32_t maMove = 1, maLeftDown = 2, maLeftUp = 4, maRightDown = 8, maRightUp = 16,
                         maMiddleDown = 32, maMiddleUp = 64, maWheel = 2048;

// KEY_EVENT flags and the keys of the secure-attention request.
inline constexpr int32_t kfExtended = 1, kfKeyUp = 2;
inline constexpr uint8_t vkControl = 0x11, vkAlt = 0x12, vkDelete = 0x2E;

// LOGON_ANSWER and CONTROL_ANSWER codes.
inline constexpr int16_t laAccepted = 0, laUserLimit = -1;
inline constexpr int16_t caGranted = 0, caForbidden = -1, caTaken = -2;

struct MESSAGE_HEADER {
    uint8_t type;
    LeU32 payloadLength;  // SCREEN_BLOCKS, POINTER_UPDATE: length before compression
    LeI16 blockCount;     // SCREEN_BLOCKS
    uint8_t depth;        // SCREEN_BLOCKS: 8, 16 or 24
    uint8_t reserved[16];
};
static_assert(sizeof(MESSAGE_HEADER) == 24);
static_assert(offsetof(MESSAGE_HEADER, payloadLength) == 1);
static_assert(offsetof(MESSAGE_HEADER, blockCount) == 5);
static_assert(offsetof(MESSAGE_HEADER, depth) == 7);
static_assert(offsetof(MESSAGE_HEADER, reserved) == 8);

struct BLOCK_HEADER {
    LeI16 index;     // number in the server's grid; the viewer does not use it
    uint8_t width;   // 1..56
    uint8_t height;  // 1..56
    LeI16 left;
    LeI16 bottom;  // one past the lowest row: rows bottom - height .. bottom - 1
};
static_assert(sizeof(BLOCK_HEADER) == 8);
static_assert(offsetof(BLOCK_HEADER, width) == 2 && offsetof(BLOCK_HEADER, height) == 3);
static_assert(offsetof(BLOCK_HEADER, left) == 4 && offsetof(BLOCK_HEADER, bottom) == 6);

struct SCREEN_INFO {
    uint8_t depth;
    LeI16 width;
    LeI16 height;
    LeI16 reserved;   // 0
    LeI16 blockSize;  // 56
};
static_assert(sizeof(SCREEN_INFO) == 9);
static_assert(offsetof(SCREEN_INFO, width) == 1 && offsetof(SCREEN_INFO, height) == 3);
static_assert(offsetof(SCREEN_INFO, reserved) == 5 && offsetof(SCREEN_INFO, blockSize) == 7);

struct SCREEN_INFO_MESSAGE {  // type 9
    MESSAGE_HEADER header;
    SCREEN_INFO info;
};
static_assert(sizeof(SCREEN_INFO_MESSAGE) == 33 && offsetof(SCREEN_INFO_MESSAGE, info) == 24);

struct WINDOW_DRAG {  // type 4
    MESSAGE_HEADER header;
    LeI32 event;  // wdEnterSizeMove, wdMoving or wdSizing
    uint8_t reserved[4];
    LeI32 edge;  // with wdSizing: we* constants
    LeI32 left, top, right, bottom;
};
static_assert(sizeof(WINDOW_DRAG) == 52);
static_assert(offsetof(WINDOW_DRAG, event) == 24 && offsetof(WINDOW_DRAG, reserved) == 28);
static_assert(offsetof(WINDOW_DRAG, edge) == 32 && offsetof(WINDOW_DRAG, left) == 36);
static_assert(offsetof(WINDOW_DRAG, top) == 40 && offsetof(WINDOW_DRAG, right) == 44);
static_assert(offsetof(WINDOW_DRAG, bottom) == 48);

struct MEMBER_ENTRY {
    uint8_t name[30];  // dotted IPv4 address; empty while logging on
    uint8_t control;   // 1 when this session holds the control right
};
static_assert(sizeof(MEMBER_ENTRY) == 31 && offsetof(MEMBER_ENTRY, control) == 30);

struct MEMBER_LIST {  // type 11; `count` MEMBER_ENTRY records follow
    MESSAGE_HEADER header;
    LeI32 count;
};
static_assert(sizeof(MEMBER_LIST) == 28 && offsetof(MEMBER_LIST, count) == 24);

struct CONTROL_REQUEST {
    uint8_t name[30];  // answer: the session obtaining the right
    uint8_t flag;      // request: 1 request, 0 release; answer: 1 granted
    LeI16 code;        // answer: caGranted, caForbidden or caTaken
};
static_assert(sizeof(CONTROL_REQUEST) == 33);
static_assert(offsetof(CONTROL_REQUEST, flag) == 30 && offsetof(CONTROL_REQUEST, code) == 31);

struct CONTROL_ANSWER {  // type 12
    MESSAGE_HEADER header;
    CONTROL_REQUEST answer;
};
static_assert(sizeof(CONTROL_ANSWER) == 57 && offsetof(CONTROL_ANSWER, answer) == 24);

struct LOGON_REQUEST {
    uint8_t userName[100];
    uint8_t password[100];
};
static_assert(sizeof(LOGON_REQUEST) == 200 && offsetof(LOGON_REQUEST, password) == 100);

struct LOGON_ANSWER {
    uint8_t accepted;  // 1 accepted, 0 refused
    LeI16 code;        // laAccepted or laUserLimit
};
static_assert(sizeof(LOGON_ANSWER) == 3 && offsetof(LOGON_ANSWER, code) == 1);

struct MOUSE_EVENT {
    uint8_t pending;  // 1 on a held-back move; the server ignores it
    LeI32 x, y;       // server-screen coordinates
    LeI32 action;     // ma* constants
    LeI32 wheel;      // with maWheel
};
static_assert(sizeof(MOUSE_EVENT) == 17);
static_assert(offsetof(MOUSE_EVENT, x) == 1 && offsetof(MOUSE_EVENT, y) == 5);
static_assert(offsetof(MOUSE_EVENT, action) == 9 && offsetof(MOUSE_EVENT, wheel) == 13);

struct KEY_EVENT {
    uint8_t virtualKey;
    LeI32 flags;  // kfExtended, kfKeyUp
};
static_assert(sizeof(KEY_EVENT) == 5 && offsetof(KEY_EVENT, flags) == 1);

inline constexpr int kMaxKeyEvents = 128;

struct KEY_EVENTS {
    uint8_t marker;  // 1
    uint8_t count;   // valid entries, 0..128
    KEY_EVENT entries[kMaxKeyEvents];
};
static_assert(sizeof(KEY_EVENTS) == 642 && offsetof(KEY_EVENTS, entries) == 2);

// Every record above is plain bytes, so it is sent as it lies in memory.
template <typename Record>
const uint8_t* RecordBytes(const Record& record) {
    static_assert(alignof(Record) == 1 && std::is_trivially_copyable_v<Record>);
    return reinterpret_cast<const uint8_t*>(&record);
}

// Copies a record of exactly sizeof(Record) bytes; amBadLength otherwise.
template <typename Record>
[[nodiscard]] int ReadRecord(const uint8_t* data, size_t length, Record* out) {
    static_assert(alignof(Record) == 1 && std::is_trivially_copyable_v<Record>);
    if (data == nullptr || length != sizeof(Record)) return amBadLength;
    std::memcpy(out, data, sizeof(Record));
    return amOk;
}

// Text of a fixed field: up to its first NUL, or the whole field.
template <size_t N>
std::string_view FieldText(const uint8_t (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    const size_t n =
        nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : N;
    return {reinterpret_cast<const char*>(field), n};
}

// Stores text cut to N - 1 bytes, NUL-terminated, the rest of the field zero.
template <size_t N>
void SetFieldText(uint8_t (&field)[N], std::string_view text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

// What a server session does with a viewer message, by its length alone.
enum ViewerMessageKind { vmIgnored, vmMouse, vmControl, vmKeys };
constexpr ViewerMessageKind ClassifyViewerMessage(size_t length) {
    return length == sizeof(MOUSE_EVENT)       ? vmMouse
           : length == sizeof(CONTROL_REQUEST) ? vmControl
           : length == sizeof(KEY_EVENTS)      ? vmKeys
                                               : vmIgnored;
}

// Builders of the fixed messages; reserved bytes and text tails are zero.
LOGON_REQUEST MakeLogonRequest();
LOGON_ANSWER MakeLogonAnswer(bool accepted, int16_t code);
SCREEN_INFO MakeScreenInfo(uint8_t depth, int16_t width, int16_t height);
SCREEN_INFO_MESSAGE MakeScreenInfoMessage(const SCREEN_INFO& info);
WINDOW_DRAG MakeWindowDrag(int32_t event, int32_t edge, int32_t left, int32_t top, int32_t right,
                           int32_t bottom);
CONTROL_REQUEST MakeControlRequest(uint8_t flag);
CONTROL_ANSWER MakeControlAnswer(std::string_view name, uint8_t flag, int16_t code);
MOUSE_EVENT MakeMouseEvent(int32_t x, int32_t y, int32_t action, int32_t wheel = 0,
                           uint8_t pending = 0);
KEY_EVENTS MakeKeyEvents();
// Appends one key; false when all 128 slots are taken.
bool AddKeyEvent(KEY_EVENTS& keys, uint8_t virtualKey, int32_t flags);

// Count above 2 with Control, Alt, Delete first: the keys are not injected,
// the secure-attention sequence runs instead.
bool IsSecureAttention(const KEY_EVENTS& keys);

// Readers of typed messages: the exact length and the type byte are checked.
[[nodiscard]] int ReadMessageHeader(const uint8_t* data, size_t length, MESSAGE_HEADER* out);
[[nodiscard]] int ReadScreenInfoMessage(const uint8_t* data, size_t length, SCREEN_INFO* out);
[[nodiscard]] int ReadWindowDrag(const uint8_t* data, size_t length, WINDOW_DRAG* out);
[[nodiscard]] int ReadControlAnswer(const uint8_t* data, size_t length, CONTROL_REQUEST* out);
// A KEY_EVENTS whose count is above 128 is refused (amBadCount).
[[nodiscard]] int ReadKeyEvents(const uint8_t* data, size_t length, KEY_EVENTS* out);

struct MemberInfo {
    std::string_view name;  // empty while the session logs on
    bool holdsControl;
};
// MEMBER_LIST of `count` members into `out` (resized; its capacity is reused).
void BuildMemberList(const MemberInfo* members, int count, std::vector<uint8_t>& out);
// Points *entries at the message's entries; the count must fill the message
// exactly.
[[nodiscard]] int ReadMemberList(const uint8_t* data, size_t length, int* count,
                                 const MEMBER_ENTRY** entries);

// Typed message whose payload travels compressed (SCREEN_BLOCKS,
// POINTER_UPDATE): header, then the stream of `payload`. `out` is resized to
// the message; returns its length or a negative am/tlz code.
[[nodiscard]] int BuildCompressedMessage(TLZ& lz, uint8_t type, int16_t blockCount, uint8_t depth,
                                         const uint8_t* payload, size_t payloadLength,
                                         std::vector<uint8_t>& out);
// Expands the payload of a SCREEN_BLOCKS or POINTER_UPDATE into `payload`
// (resized to payloadLength; capacity reused). Refuses other types, lengths
// beyond what a server sends, and streams that do not expand to exactly
// payloadLength bytes (amBadStream). Returns the payload length.
[[nodiscard]] int ExpandMessagePayload(TLZ& lz, const uint8_t* data, size_t length,
                                       MESSAGE_HEADER* header, std::vector<uint8_t>& payload);

}  // namespace velmora
