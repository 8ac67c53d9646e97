#include "server/screen/appmessages.h"

#include <new>

#include "server/screen/tlz.h"

namespace velmora {
namespace {

// The viewer's logon text; the server never reads it.
constexpr std::string_view kLogonPlaceholder = "vel";

// A typed message of exactly sizeof(Record) bytes and the given type.
template <typename Record>
int ReadTyped(const uint8_t* data, size_t length, uint8_t type, Record* out) {
    const int result = ReadRecord(data, length, out);
    if (result < 0) return result;
    return out->header.type == type ? amOk : amBadType;
}

MESSAGE_HEADER MakeHeader(uint8_t type) {
    MESSAGE_HEADER header{};
    header.type = type;
    return header;
}

}  // namespace

LOGON_REQUEST MakeLogonRequest() {
    LOGON_REQUEST request{};
    SetFieldText(request.userName, kLogonPlaceholder);
    SetFieldText(request.password, kLogonPlaceholder);
    return request;
}

LOGON_ANSWER MakeLogonAnswer(bool accepted, int16_t code) {
    LOGON_ANSWER answer{};
    answer.accepted = accepted ? 1 : 0;
    answer.code = code;
    return answer;
}

SCREEN_INFO MakeScreenInfo(uint8_t depth, int16_t width, int16_t height) {
    SCREEN_INFO info{};
    info.depth = depth;
    info.width = width;
    info.height = height;
    info.reserved = 0;
    info.blockSize = kBlockSize;
    return info;
}

SCREEN_INFO_MESSAGE MakeScreenInfoMessage(const SCREEN_INFO& info) {
    SCREEN_INFO_MESSAGE message{};
    message.header = MakeHeader(mtScreenInfo);
    message.info = info;
    return message;
}

WINDOW_DRAG MakeWindowDrag(int32_t event, int32_t edge, int32_t left, int32_t top, int32_t right,
                           int32_t bottom) {
    WINDOW_DRAG drag{};
    drag.header = MakeHeader(mtWindowDrag);
    drag.event = event;
    drag.edge = edge;
    drag.left = left;
    drag.top = top;
    drag.right = right;
    drag.bottom = bottom;
    return drag;
}

CONTROL_REQUEST MakeControlRequest(uint8_t flag) {
    CONTROL_REQUEST request{};
    request.flag = flag;
    return request;
}

CONTROL_ANSWER MakeControlAnswer(std::string_view name, uint8_t flag, int16_t code) {
    CONTROL_ANSWER answer{};
    answer.header = MakeHeader(mtControlAnswer);
    SetFieldText(answer.answer.name, name);
    answer.answer.flag = flag;
    answer.answer.code = code;
    return answer;
}

MOUSE_EVENT MakeMouseEvent(int32_t x, int32_t y, int32_t action, int32_t wheel, uint8_t pending) {
    MOUSE_EVENT event{};
    event.pending = pending;
    event.x = x;
    event.y = y;
    event.action = action;
    event.wheel = wheel;
    return event;
}

KEY_EVENTS MakeKeyEvents() {
    KEY_EVENTS keys{};
    keys.marker = 1;
    return keys;
}

bool AddKeyEvent(KEY_EVENTS& keys, uint8_t virtualKey, int32_t flags) {
    if (keys.count >= kMaxKeyEvents) return false;
    KEY_EVENT& entry = keys.entries[keys.count++];
    entry.virtualKey = virtualKey;
    entry.flags = flags;
    return true;
}

bool IsSecureAttention(const KEY_EVENTS& keys) {
    return keys.count > 2 && keys.entries[0].virtualKey == vkControl &&
           keys.entries[1].virtualKey == vkAlt && keys.entries[2].virtualKey == vkDelete;
}

int ReadMessageHeader(const uint8_t* data, size_t length, MESSAGE_HEADER* out) {
    if (data == nullptr || length < sizeof(MESSAGE_HEADER)) return amBadLength;
    std::memcpy(out, data, sizeof(MESSAGE_HEADER));
    return amOk;
}

int ReadScreenInfoMessage(const uint8_t* data, size_t length, SCREEN_INFO* out) {
    SCREEN_INFO_MESSAGE message;
    const int result = ReadTyped(data, length, mtScreenInfo, &message);
    if (result == amOk) *out = message.info;
    return result;
}

int ReadWindowDrag(const uint8_t* data, size_t length, WINDOW_DRAG* out) {
    return ReadTyped(data, length, mtWindowDrag, out);
}

int ReadControlAnswer(const uint8_t* data, size_t length, CONTROL_REQUEST* out) {
    CONTROL_ANSWER message;
    const int result = ReadTyped(data, length, mtControlAnswer, &message);
    if (result == amOk) *out = message.answer;
    return result;
}

int ReadKeyEvents(const uint8_t* data, size_t length, KEY_EVENTS* out) {
    const int result = ReadRecord(data, length, out);
    if (result < 0) return result;
    return out->count <= kMaxKeyEvents ? amOk : amBadCount;
}

void BuildMemberList(const MemberInfo* members, int count, std::vector<uint8_t>& out) {
    if (count < 0) count = 0;
    out.assign(sizeof(MEMBER_LIST) + static_cast<size_t>(count) * sizeof(MEMBER_ENTRY), 0);
    MEMBER_LIST head{};
    head.header = MakeHeader(mtMemberList);
    head.count = count;
    std::memcpy(out.data(), &head, sizeof(head));
    for (int i = 0; i < count; ++i) {
        MEMBER_ENTRY entry{};
        SetFieldText(entry.name, members[i].name);
        entry.control = members[i].holdsControl ? 1 : 0;
        std::memcpy(out.data() + sizeof(MEMBER_LIST) + static_cast<size_t>(i) * sizeof(entry),
                    &entry, sizeof(entry));
    }
}

int ReadMemberList(const uint8_t* data, size_t length, int* count, const MEMBER_ENTRY** entries) {
    if (data == nullptr || length < sizeof(MEMBER_LIST)) return amBadLength;
    MEMBER_LIST head;
    std::memcpy(&head, data, sizeof(head));
    if (head.header.type != mtMemberList) return amBadType;
    const int32_t n = head.count;
    if (n < 0 || static_cast<uint64_t>(n) * sizeof(MEMBER_ENTRY) != length - sizeof(MEMBER_LIST)) {
        return amBadCount;
    }
    *count = n;
    // MEMBER_ENTRY has alignment 1, so the message's bytes serve as records.
    *entries = reinterpret_cast<const MEMBER_ENTRY*>(data + sizeof(MEMBER_LIST));
    return amOk;
}

int BuildCompressedMessage(TLZ& lz, uint8_t type, int16_t blockCount, uint8_t depth,
                           const uint8_t* payload, size_t payloadLength,
                           std::vector<uint8_t>& out) {
    if (payloadLength > UINT32_MAX || payloadLength > TLZ::kMaxInputLength) return amTooLarge;
    try {
        out.resize(sizeof(MESSAGE_HEADER) + TLZ::CompressBound(payloadLength));
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    MESSAGE_HEADER header = MakeHeader(type);
    header.payloadLength = static_cast<uint32_t>(payloadLength);
    header.blockCount = blockCount;
    header.depth = depth;
    std::memcpy(out.data(), &header, sizeof(header));
    const int stream = lz.Compress(payload, payloadLength, out.data() + sizeof(header),
                                   out.size() - sizeof(header));
    if (stream < 0) return stream;
    out.resize(sizeof(header) + static_cast<size_t>(stream));
    return static_cast<int>(out.size());
}

int ExpandMessagePayload(TLZ& lz, const uint8_t* data, size_t length, MESSAGE_HEADER* header,
                         std::vector<uint8_t>& payload) {
    int result = ReadMessageHeader(data, length, header);
    if (result < 0) return result;
    const uint32_t announced = header->payloadLength;
    if (header->type == mtScreenBlocks) {
        if (announced > kMaxScreenBlocksPayload) return amTooLarge;
    } else if (header->type == mtPointerUpdate) {
        if (announced > kMaxPointerPayload) return amTooLarge;
    } else {
        return amBadType;
    }
    try {
        payload.resize(announced);
    } catch (const std::bad_alloc&) {
        return tlzNoMemory;
    }
    result = lz.Expand(data + sizeof(MESSAGE_HEADER), length - sizeof(MESSAGE_HEADER),
                       payload.data(), announced);
    return result < 0 ? amBadStream : result;
}

}  // namespace velmora
