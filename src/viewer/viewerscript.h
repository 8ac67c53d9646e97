// The headless viewer's commands, from a script file (--script) or from
// standard input (--commands), one a line; '#' starts a comment.
//
//   control on | control off     ask for / give up the control right
//   move X Y                     a held-back pointer move
//   click X Y [left|right|middle]   press and release
//   down X Y [button] | up X Y [button]
//   wheel X Y DELTA              a wheel turn (120 = one notch)
//   type TEXT                    the rest of the line, typed on a US layout
//   key NAME                     one key press, with modifiers: ctrl+alt+delete,
//                                shift+tab, enter, f5, 0x41 ...
//   sleep MS                     wait
//   settle MS [LIMIT_MS]         wait until no block came for MS (at most LIMIT)
//   snapshot FILE                write the picture as PNG
//   figures | members            print them
//   quit                         end the program
//
// Mouse and key commands act only while the viewer holds the control right,
// as in the window.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/screen/appmessages.h"

namespace velmora {

struct ScriptCommand {
    enum class Kind {
        kControl,
        kMove,
        kMouse,  // one button or wheel event: action, x, y, wheel
        kKeys,
        kSleep,
        kSettle,
        kSnapshot,
        kFigures,
        kMembers,
        kQuit
    };
    Kind kind = Kind::kQuit;
    bool on = false;  // kControl
    int32_t x = 0, y = 0;
    std::vector<int32_t> actions;  // kMouse: the events in order (down then up for a click)
    int32_t wheel = 0;
    std::vector<KEY_EVENT> keys;  // kKeys
    uint32_t ms = 0;
    uint32_t limitMs = 0;  // kSettle
    std::string file;      // kSnapshot
    int line = 0;          // in its script, for messages
};

class ViewerScript {
  public:
    // 1 and the command; 0 for a blank or comment line; -1 with a sentence.
    [[nodiscard]] static int ParseLine(std::string_view line, ScriptCommand* out,
                                       std::string* error);
    // Every command of a file; false with a sentence naming the line.
    [[nodiscard]] static bool Load(const std::string& path, std::vector<ScriptCommand>* out,
                                   std::string* error);

    // Key events that type `text` on a US layout (Shift around the shifted
    // characters); false for a character that has no key there.
    [[nodiscard]] static bool TextKeys(std::string_view text, std::vector<KEY_EVENT>* out,
                                       std::string* error);
    // A press and release of a named key with its modifiers ("ctrl+alt+delete").
    [[nodiscard]] static bool NamedKeys(std::string_view name, std::vector<KEY_EVENT>* out,
                                        std::string* error);
};

}  // namespace velmora
