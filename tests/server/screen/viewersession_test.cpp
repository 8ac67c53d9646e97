// The session's logon and its handling of viewer messages, over a scripted
// link, with a capture thread that is not running (no screen: the full
// picture is empty) and an injector that records.
#include "server/screen/viewersession.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "server/app/liveconfig.h"
#include "server/screen/appmessages.h"
#include "server/screen/inputinjector.h"
#include "server/screen/sessionlink.h"
#include "server/screen/tscreencapture.h"
#include "server/screen/userlist.h"

namespace velmora {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes Of(const Record& r) {
    return Bytes(RecordBytes(r), RecordBytes(r) + sizeof r);
}

class ScriptedLink : public SessionLink {
  public:
    std::deque<Bytes> incoming;  // handed out one per Receive
    std::vector<Bytes> sent;
    std::vector<int32_t> disconnects;

    std::string AddressText() override { return "10.1.2.3"; }
    int Receive(uint8_t* buffer, size_t capacity, uint32_t) override {
        if (incoming.empty()) return 0;
        const Bytes m = incoming.front();
        incoming.pop_front();
        std::copy_n(m.begin(), std::min(capacity, m.size()), buffer);
        return int(m.size());
    }
    int Send(const uint8_t* data, size_t length, uint32_t) override {
        sent.emplace_back(data, data + length);
        return int(length);
    }
    void Disconnect(int32_t reason) override { disconnects.push_back(reason); }
};

class RecordingInjector : public InputInjector {
  public:
    std::vector<std::string> calls;
    void MoveTo(int32_t x, int32_t y) override {
        calls.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseButton(int32_t action) override {
        calls.push_back("button " + std::to_string(action));
    }
    void Wheel(int32_t delta) override { calls.push_back("wheel " + std::to_string(delta)); }
    void Key(uint8_t vk, int32_t flags) override {
        calls.push_back("key " + std::to_string(vk) + "/" + std::to_string(flags));
    }
    void SecureAttention() override { calls.push_back("secure attention"); }
};

class ViewerSessionTest : public ::testing::Test {
  protected:
    ViewerSessionTest() {
        CaptureTimings timings;
        timings.controlHandOverMs = 1;
        capture_ = std::make_unique<TScreentCapture>(ZTVL::Options{}, config_, users_,
                                                     CaptureEnvironment{}, timings);
        services_ = {&users_, capture_.get(), &injector_, &config_, {}, {}, {}};
        services_.onConnect = [this](ViewerSession&) { ++connects_; };
        services_.onTrace = [this](const std::string& t) { traces_.push_back(t); };
    }

    // Runs a session that logs on and then handles `messages`; it stops when
    // the script is used up and everything queued was sent.
    int RunSession(ViewerSession& session, std::vector<Bytes> messages) {
        link_.incoming.push_back(Of(MakeLogonRequest()));
        for (auto& m : messages) link_.incoming.push_back(m);
        users_.Add(&session);
        return session.Run(link_, [this, &session] {
            return link_.incoming.empty() && session.QueuedCount() == 0;
        });
    }

    LiveConfig config_;
    UserList users_;
    RecordingInjector injector_;
    std::unique_ptr<TScreentCapture> capture_;
    SessionServices services_;
    ScriptedLink link_;
    int connects_ = 0;
    std::vector<std::string> traces_;
};

TEST_F(ViewerSessionTest, LogonIsAnsweredWithTheAnswerAndTheScreenRecord) {
    ViewerSession session(services_);
    EXPECT_EQ(RunSession(session, {}), ViewerSession::kEndedByStop);
    ASSERT_GE(link_.sent.size(), 2u);
    LOGON_ANSWER answer{};
    ASSERT_EQ(ReadRecord(link_.sent[0].data(), link_.sent[0].size(), &answer), amOk);
    EXPECT_EQ(answer.accepted, 1);
    EXPECT_EQ(answer.code, laAccepted);
    EXPECT_EQ(link_.sent[1].size(), 9u);
    EXPECT_EQ(session.Name(), "10.1.2.3");
    EXPECT_EQ(connects_, 1);
    EXPECT_EQ(users_.Count(), 0) << "an ended session leaves the list";
    EXPECT_FALSE(session.Active());
}

TEST_F(ViewerSessionTest, OverTheLimitIsRefusedButASessionBeingReplacedDoesNotCount) {
    ScreenSession other, same;
    other.SetName("10.9.9.9");
    same.SetName("10.1.2.3");  // the address this viewer connects from
    users_.Add(&other);
    users_.Add(&same);
    config_.Update([](VelmoraConfig& c) { c.maxUsers = 2; });
    {
        // Two others plus this one would be three, but the older session from
        // the same address is replaced: accepted.
        ViewerSession session(services_);
        EXPECT_EQ(RunSession(session, {}), ViewerSession::kEndedByStop);
        EXPECT_TRUE(same.Replaced());
        EXPECT_FALSE(other.Replaced());
    }
    {
        ScreenSession third;
        users_.Add(&third);  // now three that count, with this one four
        link_.sent.clear();
        ViewerSession session(services_);
        EXPECT_EQ(RunSession(session, {}), ViewerSession::kRefused);
        ASSERT_EQ(link_.sent.size(), 1u);
        LOGON_ANSWER answer{};
        ASSERT_EQ(ReadRecord(link_.sent[0].data(), link_.sent[0].size(), &answer), amOk);
        EXPECT_EQ(answer.accepted, 0);
        EXPECT_EQ(answer.code, laUserLimit);
        users_.Remove(&third);
    }
    users_.Remove(&other);
    users_.Remove(&same);
}

TEST_F(ViewerSessionTest, ViewerMessagesAreKnownByTheirExactLengthOnly) {
    KEY_EVENTS typed = MakeKeyEvents();
    ASSERT_TRUE(AddKeyEvent(typed, 'A', 0));
    ASSERT_TRUE(AddKeyEvent(typed, 'A', kfKeyUp));
    KEY_EVENTS sas = MakeKeyEvents();
    for (uint8_t vk : {vkControl, vkAlt, vkDelete, uint8_t('Q')})
        ASSERT_TRUE(AddKeyEvent(sas, vk, 0));
    KEY_EVENTS twoKeys = MakeKeyEvents();
    for (uint8_t vk : {vkControl, vkAlt}) ASSERT_TRUE(AddKeyEvent(twoKeys, vk, 0));
    Bytes tooMany = Of(MakeKeyEvents());
    tooMany[1] = 129;  // count beyond the 128 slots

    ViewerSession session(services_);
    RunSession(session, {
                            Bytes(18, 1),                               // ignored
                            Bytes(5000, 2),                             // beyond the buffer
                            Of(MakeMouseEvent(5000, -7, maMove)),       // moves only
                            Of(MakeMouseEvent(10, 20, maLeftDown)),     // traced, pressed
                            Of(MakeMouseEvent(10, 20, maWheel, -240)),  // wheel
                            Of(MakeMouseEvent(1, 2, 4096)),             // unknown: moves only
                            Of(typed),                                  // two keys
                            Of(sas),                                    // nothing injected
                            Of(twoKeys),                                // injected
                            tooMany,                                    // refused
                        });
    const std::vector<std::string> expected = {
        "move 5000,-7", "move 10,20", "button 2",         "move 10,20", "wheel -240", "move 1,2",
        "key 65/0",     "key 65/2",   "secure attention", "key 17/0",   "key 18/0",
    };
    EXPECT_EQ(injector_.calls, expected);
    EXPECT_EQ(traces_, std::vector<std::string>{ViewerSession::kLeftButtonTrace});
}

TEST_F(ViewerSessionTest, AControlRequestIsAnsweredAndFollowedByTheMemberList) {
    ViewerSession session(services_);
    RunSession(session, {Of(MakeControlRequest(1))});
    // Whatever the session queued was sent: the grant, then member lists.
    int grants = 0, memberLists = 0;
    for (const Bytes& m : link_.sent) {
        CONTROL_REQUEST answer{};
        if (ReadControlAnswer(m.data(), m.size(), &answer) == amOk) {
            grants += answer.flag == 1 && answer.code == caGranted;
        }
        memberLists += m.size() >= 24 && m[0] == mtMemberList;
    }
    EXPECT_EQ(grants, 1);
    EXPECT_GE(memberLists, 2);
    EXPECT_TRUE(session.HoldsControl());
}

}  // namespace
}  // namespace velmora
