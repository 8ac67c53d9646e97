// Results of the viewer core: the state of a view (what its window's start
// timer reads) and what became of one server message.
#pragma once

#include <cstdint>

namespace velmora {

// The view's result (TVelmoraView::Result).
inline constexpr int vrConnecting = 0;
inline constexpr int vrConnected = 1;
inline constexpr int vrRefused = -1;   // the server refused the logon (user count)
inline constexpr int vrNoAnswer = -4;  // no connection, or no logon answer or screen description
inline constexpr int vrEnded = -6;     // the connection ended or the view was stopped

// What Dispatch did with a message.
inline constexpr int vwApplied = 1;
inline constexpr int vwIgnored = 0;     // another type, another drag event, nothing to update
inline constexpr int vwBadLength = -1;  // shorter than its header, or not its fixed length
inline constexpr int vwBadDepth = -2;   // blocks of another depth than the screen's
inline constexpr int vwBadStream = -3;  // the payload did not expand to what it announced
inline constexpr int vwBadBlock = -4;   // a block off the screen, or blocks not filling the payload
inline constexpr int vwBadShape = -5;   // pointer sizes that do not match the shape's bytes
inline constexpr int vwBadScreen = -6;  // a screen description of no depth or an unusable size
inline constexpr int vwNoMemory = -7;

// A sentence for a vr* result, as the window and the headless program show it.
const char* ViewResultText(int result);
// A short name for a vw* code, for figures and logs.
const char* DispatchCodeName(int code);

}  // namespace velmora
