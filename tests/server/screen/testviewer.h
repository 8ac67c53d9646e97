// A viewer for the pipeline's tests and benchmarks: a broker-side transport
// peer that connects to a server, logs on as the viewer does, and sorts what
// the server sends: SCREEN_BLOCKS drawn into a picture, pointer updates,
// member lists, control answers and window-drag notices.
//
// Its address is 127.0.0.N (the server tells viewers apart by address), so
// several viewers on one machine are several users.
//
// Not thread-safe: one test thread drives it; the transport's threads only
// fill the peer's inbox.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "picturemodel.h"
#include "platform/tick.h"
#include "server/screen/appmessages.h"
#include "server/screen/appmessages_pointer.h"
#include "support/brokerpeer.h"
#include "transport/ztudp.h"

namespace velmora::testing {

class TestViewer {
  public:
    struct Logon {
        bool answered = false;  // a 3-byte answer came
        LOGON_ANSWER answer{};
        bool screenInfo = false;  // a 9-byte record came
        SCREEN_INFO info{};
    };

    // host: the last byte of its 127.0.0.x address; key: the connection key.
    TestViewer(uint8_t host, uint16_t key) : peer_(key, Config(host)) {}

    // Opens the peer and connects (ccConnect, acknowledged) to the server's
    // port P on 127.0.0.1.
    bool Connect(uint16_t port, uint32_t waitMs = 5000) {
        if (!peer_.Open()) return false;
        peer_.SetServer(LoopbackAddressRaw(), htons(port), htons(uint16_t(port + 1)));
        if (!peer_.Start()) return false;
        return peer_.Connect(ctViewerSession, waitMs) > 0;
    }

    // LOGON_REQUEST, then the answer and, when accepted, the screen record.
    Logon LogOn(uint32_t waitMs = 10000) {
        Logon logon;
        const LOGON_REQUEST request = MakeLogonRequest();
        if (peer_.Send(RecordBytes(request), sizeof request, waitMs) <= 0) return logon;
        std::vector<uint8_t> m;
        if (!peer_.Receive(m, waitMs) || ReadRecord(m.data(), m.size(), &logon.answer) != amOk) {
            return logon;
        }
        logon.answered = true;
        if (logon.answer.accepted != 1) return logon;
        if (peer_.Receive(m, waitMs) && ReadRecord(m.data(), m.size(), &logon.info) == amOk) {
            logon.screenInfo = true;
            picture_ = std::make_unique<PictureModel>(logon.info.width, logon.info.height);
        }
        return logon;
    }

    template <typename Record>
    bool Send(const Record& record, uint32_t waitMs = 5000) {
        return peer_.Send(RecordBytes(record), sizeof record, waitMs) > 0;
    }
    bool SendBytes(const std::vector<uint8_t>& bytes, uint32_t waitMs = 5000) {
        return peer_.Send(bytes.data(), uint32_t(bytes.size()), waitMs) > 0;
    }

    // Takes whatever arrived within waitMs (of the last message), sorting it;
    // with a frame, blocks are also checked against it (see PictureModel).
    // Answers how many messages came.
    int Pump(uint32_t waitMs, const uint8_t* frame = nullptr, size_t stride = 0) {
        int count = 0;
        std::vector<uint8_t> m;
        while (peer_.Receive(m, waitMs)) {
            ++count;
            Sort(m, frame, stride);
        }
        return count;
    }

    PictureModel* Picture() { return picture_.get(); }
    int BlockMessages() const { return blockMessages_; }
    int BadMessages() const { return badMessages_; }
    const std::vector<std::pair<POINTER_RECORD, size_t>>& Pointers() const { return pointers_; }
    // Each MEMBER_LIST: the names, "*" after the holder of the control right.
    const std::vector<std::vector<std::string>>& MemberLists() const { return memberLists_; }
    const std::vector<CONTROL_REQUEST>& ControlAnswers() const { return controlAnswers_; }
    // The order in which typed messages came: their type bytes.
    const std::vector<uint8_t>& Types() const { return types_; }
    BrokerPeer& Peer() { return peer_; }

  private:
    static PeerConfig Config(uint8_t host) {
        PeerConfig c;
        c.addressRaw = htonl(0x7F000000u | host);
        c.maxMessage = 64u << 20;  // a batch of blocks can exceed the default
        return c;
    }

    void Sort(const std::vector<uint8_t>& m, const uint8_t* frame, size_t stride) {
        if (m.size() < sizeof(MESSAGE_HEADER)) {
            ++badMessages_;
            return;
        }
        types_.push_back(m[0]);
        switch (m[0]) {
            case mtScreenBlocks:
                ++blockMessages_;
                if (picture_ == nullptr || picture_->Apply(m.data(), m.size(), frame, stride) < 0) {
                    ++badMessages_;
                }
                break;
            case mtPointerUpdate: {
                MESSAGE_HEADER h{};
                POINTER_RECORD r{};
                const uint8_t* shape = nullptr;
                size_t shapeLength = 0;
                if (ExpandMessagePayload(lz_, m.data(), m.size(), &h, payload_) < 0 ||
                    ReadPointerUpdate(payload_.data(), payload_.size(), &r, &shape, &shapeLength) !=
                        amOk) {
                    ++badMessages_;
                } else {
                    pointers_.emplace_back(r, shapeLength);
                }
                break;
            }
            case mtMemberList: {
                int count = 0;
                const MEMBER_ENTRY* entries = nullptr;
                if (ReadMemberList(m.data(), m.size(), &count, &entries) != amOk) {
                    ++badMessages_;
                    break;
                }
                std::vector<std::string> names;
                for (int i = 0; i < count; ++i) {
                    names.push_back(std::string(FieldText(entries[i].name)) +
                                    (entries[i].control != 0 ? "*" : ""));
                }
                memberLists_.push_back(names);
                break;
            }
            case mtControlAnswer: {
                CONTROL_REQUEST answer{};
                if (ReadControlAnswer(m.data(), m.size(), &answer) != amOk) {
                    ++badMessages_;
                } else {
                    controlAnswers_.push_back(answer);
                }
                break;
            }
            default:
                break;
        }
    }

    BrokerPeer peer_;
    std::unique_ptr<PictureModel> picture_;
    TLZ lz_;
    std::vector<uint8_t> payload_;
    int blockMessages_ = 0;
    int badMessages_ = 0;
    std::vector<std::pair<POINTER_RECORD, size_t>> pointers_;
    std::vector<std::vector<std::string>> memberLists_;
    std::vector<CONTROL_REQUEST> controlAnswers_;
    std::vector<uint8_t> types_;
};

}  // namespace velmora::testing
