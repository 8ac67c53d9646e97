// HeadlessViewer: the script and standard-input commands, snapshots and
// figures.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "platform/pngcodec.h"
#include "platform/tick.h"
#include "viewer/headlessviewer.h"
#include "viewer/viewcodes.h"

namespace velmora {
namespace {

constexpr uint32_t kControlAnswerLimitMs = 10000;

}  // namespace

bool HeadlessViewer::Execute(const ScriptCommand& command) {
    using Kind = ScriptCommand::Kind;
    const bool input =
        command.kind == Kind::kMove || command.kind == Kind::kMouse || command.kind == Kind::kKeys;
    if (input && !view_->HoldsControl()) {
        // As in the window: without the control right no input is sent.
        Print("line " + std::to_string(command.line) +
                  ": not holding the control right; input not sent",
              true);
        return true;
    }
    switch (command.kind) {
        case Kind::kControl:
            return ControlRequest(command.on);
        case Kind::kMove:
            view_->HoldMove(command.x, command.y);
            return true;
        case Kind::kMouse:
            for (const int32_t action : command.actions) {
                (void)view_->SendMouse(command.x, command.y, action, command.wheel);
            }
            return true;
        case Kind::kKeys:
            for (size_t at = 0; at < command.keys.size(); at += kMaxKeyEvents) {
                const size_t n = std::min<size_t>(kMaxKeyEvents, command.keys.size() - at);
                (void)view_->SendKeys(command.keys.data() + at, static_cast<int>(n));
            }
            return true;
        case Kind::kSleep:
            return Pump(command.ms, false);
        case Kind::kSettle:
            return Settle(command.ms, command.limitMs);
        case Kind::kSnapshot:
            Snapshot(command.file);
            return true;
        case Kind::kFigures:
            PrintFigures();
            return true;
        case Kind::kMembers:
            PrintMembers();
            return true;
        case Kind::kQuit:
            ending_ = true;
            return false;
    }
    return true;
}

bool HeadlessViewer::ControlRequest(bool on) {
    if (!on) {
        // As the window's release button: the right is given up at once and
        // the server sends no answer.
        view_->SetHoldsControl(false);
        (void)view_->SendControlRequest(0);
        Print("control released");
        return true;
    }
    if (view_->HoldsControl()) return true;
    uint32_t answers = controlAnswers_.load();
    if (view_->SendControlRequest(1) != static_cast<int32_t>(sizeof(CONTROL_REQUEST))) {
        Print("the control request could not be sent", true);
        return true;
    }
    const uint32_t start = Tick();
    while (TickSince(start) < kControlAnswerLimitMs) {
        if (!Pump(20, false)) return false;
        if (controlAnswers_.load() == answers) continue;
        answers = controlAnswers_.load();
        if (view_->HoldsControl()) return true;
        // "Taken" names the viewer that gets the right; the grant follows.
        if (lastControlCode_.load() != caTaken) return true;
    }
    Print("no answer to the control request", true);
    return true;
}

bool HeadlessViewer::Settle(uint32_t quietMs, uint32_t limitMs) {
    const uint32_t start = Tick();
    while (TickSince(lastChange_.load()) < quietMs) {
        if (TickSince(start) >= limitMs) {
            Print("not settled within " + std::to_string(limitMs) + " ms");
            return true;
        }
        if (!Pump(10, false)) return false;
    }
    Print("settled after " + std::to_string(TickSince(start)) + " ms");
    return true;
}

void HeadlessViewer::Snapshot(const std::string& file) {
    ViewImage picture;
    if (view_ == nullptr || !view_->Dispatcher().CopyPicture(&picture)) {
        Print("no picture to write to " + file, true);
        return;
    }
    std::string error;
    if (WritePngFile(file, picture.Pixels(), picture.Width(), picture.Height(),
                     static_cast<size_t>(picture.Width()), false, &error) != pngOk) {
        Print(error, true);
        return;
    }
    Print("snapshot " + file + " " + std::to_string(picture.Width()) + "x" +
          std::to_string(picture.Height()));
}

void HeadlessViewer::PrintFigures() {
    const ViewFigures f = view_->Figures();
    const double seconds = std::max(1u, TickSince(startTick_)) / 1000.0;
    char line[512];
    std::snprintf(
        line, sizeof(line),
        "figures: %.1f s, messages %" PRIu64 ", bytes %" PRIu64 " (%.1f KB/s), updates %" PRIu64
        " (%.1f/s), blocks %" PRIu64 " (%.1f/s), pointer updates %" PRIu64 ", drags %" PRIu64
        ", dropped %" PRIu64 ", decode %.3f ms mean, %.3f ms max",
        seconds, f.messages, f.bytes, f.bytes / 1024.0 / seconds, f.blockMessages,
        f.blockMessages / seconds, f.blocks, f.blocks / seconds, f.pointerUpdates, f.drags,
        f.dropped,
        f.blockMessages != 0 ? f.decodeNs / 1e6 / static_cast<double>(f.blockMessages) : 0.0,
        f.maxDecodeNs / 1e6);
    Print(line);
}

void HeadlessViewer::PrintMembers() {
    const std::vector<MemberList::Member> members = view_->Dispatcher().Members().Members();
    std::string line = "members " + std::to_string(members.size());
    for (const MemberList::Member& m : members) {
        line += m.name.empty() ? " (logging on)" : " " + m.name;
        if (m.holdsControl) line += "*";
    }
    Print(line);
}

}  // namespace velmora
