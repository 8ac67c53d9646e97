#include "server/screen/appmessages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/screen/tlz.h"

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes AsBytes(const Record& record) {
    return Bytes(RecordBytes(record), RecordBytes(record) + sizeof(Record));
}

// Each builder's bytes at the offsets the wire layout gives, little-endian.
TEST(AppMessages, BuildersPutEveryFieldAtItsWireOffset) {
    KEY_EVENTS keys = MakeKeyEvents();
    ASSERT_TRUE(AddKeyEvent(keys, vkDelete, kfExtended | kfKeyUp));
    const struct {
        const char* name;
        Bytes bytes;
        size_t length;
        std::vector<std::pair<size_t, Bytes>> expected;
    } cases[] = {
        {"SCREEN_INFO",
         AsBytes(MakeScreenInfo(16, 1366, 768)),
         9,
         {{0, {16, 0x56, 0x05, 0x00, 0x03, 0, 0, 56, 0}}}},
        {"SCREEN_INFO message",
         AsBytes(MakeScreenInfoMessage(MakeScreenInfo(8, 800, 600))),
         33,
         {{0, {mtScreenInfo}}, {24, {8, 0x20, 0x03, 0x58, 0x02, 0, 0, 56, 0}}}},
        {"WINDOW_DRAG",
         AsBytes(MakeWindowDrag(wdMoving, weBottomRight, 10, 20, -1, 0x01020304)),
         52,
         {{0, {mtWindowDrag}},
          {24, {0x16, 0x02, 0, 0}},
          {32, {8, 0, 0, 0}},
          {36, {10, 0, 0, 0, 20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1}}}},
        {"CONTROL_ANSWER",
         AsBytes(MakeControlAnswer("10.0.0.7", 0, caTaken)),
         57,
         {{0, {mtControlAnswer}},
          {24, {'1', '0', '.', '0', '.', '0', '.', '7', 0}},
          {54, {0, 0xFE, 0xFF}}}},
        {"CONTROL_REQUEST", AsBytes(MakeControlRequest(1)), 33, {{0, {0}}, {30, {1, 0, 0}}}},
        {"LOGON_ANSWER", AsBytes(MakeLogonAnswer(false, laUserLimit)), 3, {{0, {0, 0xFF, 0xFF}}}},
        {"MOUSE_EVENT",
         AsBytes(MakeMouseEvent(100, -2, maWheel, -120, 1)),
         17,
         {{0, {1, 100, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 8, 0, 0, 0x88, 0xFF, 0xFF, 0xFF}}}},
        {"KEY_EVENTS", AsBytes(keys), 642, {{0, {1, 1, vkDelete, 3, 0, 0, 0}}, {7, {0}}}},
        {"LOGON_REQUEST",
         AsBytes(MakeLogonRequest()),
         200,
         {{0, {'v', 'e', 'l', 0}}, {100, {'v', 'e', 'l', 0}}}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.bytes.size(), c.length) << c.name;
        for (const auto& [offset, want] : c.expected) {
            EXPECT_EQ(Bytes(c.bytes.begin() + offset, c.bytes.begin() + offset + want.size()), want)
                << c.name << " at " << offset;
        }
    }
}

TEST(AppMessages, ViewerMessagesAreKnownByTheirLengthAlone) {
    const struct {
        size_t length;
        ViewerMessageKind kind;
    } cases[] = {{17, vmMouse},   {33, vmControl}, {642, vmKeys},    {0, vmIgnored},
                 {16, vmIgnored}, {18, vmIgnored}, {200, vmIgnored}, {643, vmIgnored}};
    for (const auto& c : cases) EXPECT_EQ(ClassifyViewerMessage(c.length), c.kind) << c.length;
}

TEST(AppMessages, ControlAltDeleteFirstWithCountAboveTwoIsASecureAttentionRequest) {
    const struct {
        std::vector<uint8_t> keys;
        bool secureAttention;
    } cases[] = {
        {{vkControl, vkAlt, vkDelete}, true},
        {{vkControl, vkAlt, vkDelete, 'A'}, true},  // the fourth key is not injected either
        {{vkControl, vkAlt}, false},
        {{vkAlt, vkControl, vkDelete}, false},
        {{'A', vkControl, vkAlt, vkDelete}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        KEY_EVENTS keys = MakeKeyEvents();
        for (uint8_t vk : c.keys) ASSERT_TRUE(AddKeyEvent(keys, vk, 0));
        KEY_EVENTS read;
        ASSERT_EQ(ReadKeyEvents(RecordBytes(keys), sizeof(keys), &read), amOk);
        EXPECT_EQ(IsSecureAttention(read), c.secureAttention) << c.keys.size() << " keys";
    }
}

TEST(AppMessages, KeyEventsHoldAtMost128Entries) {
    KEY_EVENTS keys = MakeKeyEvents();
    for (int i = 0; i < kMaxKeyEvents; ++i) ASSERT_TRUE(AddKeyEvent(keys, 'A', 0));
    EXPECT_FALSE(AddKeyEvent(keys, 'B', 0));
    KEY_EVENTS read;
    EXPECT_EQ(ReadKeyEvents(RecordBytes(keys), sizeof(keys), &read), amOk);
    Bytes bytes = AsBytes(keys);
    bytes[1] = 129;
    EXPECT_EQ(ReadKeyEvents(bytes.data(), bytes.size(), &read), amBadCount);
    EXPECT_EQ(ReadKeyEvents(bytes.data(), bytes.size() - 1, &read), amBadLength);
}

TEST(AppMessages, MemberListCarriesNamesControlFlagsAndAnEmptyNameWhileLoggingOn) {
    const std::string longName(40, 'x');
    const MemberInfo members[] = {{"10.0.0.2", true}, {"", false}, {longName, false}};
    Bytes message;
    BuildMemberList(members, 3, message);
    ASSERT_EQ(message.size(), 28u + 3 * 31u);
    EXPECT_EQ(message[0], mtMemberList);
    int count = 0;
    const MEMBER_ENTRY* entries = nullptr;
    ASSERT_EQ(ReadMemberList(message.data(), message.size(), &count, &entries), amOk);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(FieldText(entries[0].name), "10.0.0.2");
    EXPECT_EQ(entries[0].control, 1);
    EXPECT_EQ(FieldText(entries[1].name), "");
    EXPECT_EQ(entries[1].control, 0);
    EXPECT_EQ(FieldText(entries[2].name), std::string(29, 'x'));

    // A name field without its NUL is read to the end of the field only.
    Bytes unterminated = message;
    std::fill_n(unterminated.begin() + 28, 30, 'y');
    ASSERT_EQ(ReadMemberList(unterminated.data(), unterminated.size(), &count, &entries), amOk);
    EXPECT_EQ(FieldText(entries[0].name), std::string(30, 'y'));
}

TEST(AppMessages, MemberListReaderRefusesCountsThatDoNotFillTheMessage) {
    const MemberInfo members[] = {{"a", false}, {"b", false}};
    Bytes good;
    BuildMemberList(members, 2, good);
    const auto withCount = [&](int32_t n) {
        Bytes m = good;
        StoreLe<int32_t>(m.data() + 24, n);
        return m;
    };
    Bytes wrongType = good;
    wrongType[0] = mtControlAnswer;
    const struct {
        const char* name;
        Bytes message;
        int result;
    } cases[] = {
        {"count beyond the entries", withCount(3), amBadCount},
        {"negative count", withCount(-1), amBadCount},
        {"huge count", withCount(0x7FFFFFFF), amBadCount},
        {"a stray byte",
         [&] {
             Bytes m = good;
             m.push_back(0);
             return m;
         }(),
         amBadCount},
        {"shorter than its header", Bytes(good.begin(), good.begin() + 27), amBadLength},
        {"another type", wrongType, amBadType},
    };
    for (const auto& c : cases) {
        int count = -5;
        const MEMBER_ENTRY* entries = nullptr;
        EXPECT_EQ(ReadMemberList(c.message.data(), c.message.size(), &count, &entries), c.result)
            << c.name;
        EXPECT_EQ(count, -5) << c.name;
    }
}

TEST(AppMessages, TypedReadersCheckLengthAndType) {
    SCREEN_INFO info;
    WINDOW_DRAG drag;
    CONTROL_REQUEST answer;
    const auto infoMessage = MakeScreenInfoMessage(MakeScreenInfo(24, 1920, 1080));
    const auto dragMessage = MakeWindowDrag(wdEnterSizeMove, 0, 1, 2, 3, 4);
    const auto answerMessage = MakeControlAnswer("", 1, caGranted);
    EXPECT_EQ(ReadScreenInfoMessage(RecordBytes(infoMessage), 33, &info), amOk);
    EXPECT_EQ(info.width, 1920);
    EXPECT_EQ(ReadScreenInfoMessage(RecordBytes(infoMessage), 32, &info), amBadLength);
    EXPECT_EQ(ReadScreenInfoMessage(RecordBytes(answerMessage), 33, &info), amBadType);
    EXPECT_EQ(ReadWindowDrag(RecordBytes(dragMessage), 52, &drag), amOk);
    EXPECT_EQ(drag.bottom, 4);
    Bytes retyped = AsBytes(dragMessage);
    retyped[0] = mtScreenBlocks;
    EXPECT_EQ(ReadWindowDrag(retyped.data(), retyped.size(), &drag), amBadType);
    EXPECT_EQ(ReadControlAnswer(RecordBytes(answerMessage), 57, &answer), amOk);
    EXPECT_EQ(answer.flag, 1);
    EXPECT_EQ(ReadControlAnswer(RecordBytes(answerMessage), 58, &answer), amBadLength);

    LOGON_ANSWER logon;
    const auto refused = MakeLogonAnswer(false, laUserLimit);
    EXPECT_EQ(ReadRecord(RecordBytes(refused), 3, &logon), amOk);
    EXPECT_EQ(logon.code, laUserLimit);
    EXPECT_EQ(ReadRecord(RecordBytes(refused), 2, &logon), amBadLength);
    EXPECT_EQ(ReadRecord<SCREEN_INFO>(RecordBytes(infoMessage), 10, &info), amBadLength);
}

TEST(AppMessages, CompressedPayloadExpandsOnlyAsAnnounced) {
    TLZ lz;
    const Bytes payload(5000, 7);
    Bytes message;
    ASSERT_GT(
        BuildCompressedMessage(lz, mtScreenBlocks, 3, 16, payload.data(), payload.size(), message),
        24);
    EXPECT_EQ(message[0], mtScreenBlocks);
    EXPECT_EQ(LoadLe<uint32_t>(message.data() + 1), 5000u);
    EXPECT_EQ(LoadLe<int16_t>(message.data() + 5), 3);
    EXPECT_EQ(message[7], 16);
    EXPECT_EQ(message[24], 0x1F);

    MESSAGE_HEADER header;
    Bytes out;
    ASSERT_EQ(ExpandMessagePayload(lz, message.data(), message.size(), &header, out), 5000);
    EXPECT_EQ(out, payload);

    const auto mutated = [&](size_t offset, uint8_t value) {
        Bytes m = message;
        m[offset] = value;
        return m;
    };
    const struct {
        const char* name;
        Bytes message;
        int result;
    } cases[] = {
        {"announced one byte more", mutated(1, 0x89), amBadStream},
        {"announced beyond any batch", mutated(4, 0x7F), amTooLarge},
        {"not a compressed type", mutated(0, mtMemberList), amBadType},
        {"cut inside the stream", Bytes(message.begin(), message.end() - 3), amBadStream},
        {"shorter than the header", Bytes(message.begin(), message.begin() + 23), amBadLength},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpandMessagePayload(lz, c.message.data(), c.message.size(), &header, out),
                  c.result)
            << c.name;
    }
}

}  // namespace
}  // namespace velmora
