// The one table of slot states and error codes shared by the broker and the
// client-interface library: the values in a slot's state and error fields,
// the library's last errors and the results of the broker's engine.
//
// The names are those the broker window shows; a value without a name is
// shown as "???-" followed by the number.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Slot states (ZTINSTANCE_SLOT::state).
inline constexpr int32_t nsError = 0;          // not made or dropped; the error field says why
inline constexpr int32_t nsNotUse = 1;         // free
inline constexpr int32_t nsNewConnection = 2;  // an application's connect request waits
inline constexpr int32_t nsConnected = 3;      // connected; the queues are in use
inline constexpr int32_t nsConnecting = 4;     // set up, waiting for the server's acknowledgement
inline constexpr int32_t nsDisConnecting = 5;  // the broker is closing it
inline constexpr int32_t nsDisConnected = 6;   // closing requested
inline constexpr int32_t nsCreating = 7;       // the instance manager took the request
inline constexpr int32_t nsBrokerExit = 8;     // slot 0 only: the broker is asked to exit

// Error codes.
inline constexpr int32_t nleOk = 0;
inline constexpr int32_t nleServerNotRun = -1;
inline constexpr int32_t nleServerConnectFail = -2;
inline constexpr int32_t nleServerConnectFull = -3;
inline constexpr int32_t nleShareMemAllocFail = -4;
inline constexpr int32_t nleShareMemError = -5;
inline constexpr int32_t nleShareMemOverFlow = -6;
inline constexpr int32_t nleHostExcuteNotFound = -7;
inline constexpr int32_t nleInvalidConnect = -8;
inline constexpr int32_t nleTimeout = -9;
inline constexpr int32_t nleInvalidPacket = -10;
inline constexpr int32_t nleSendFail = -11;
inline constexpr int32_t nlePacketRcvBufferOverFlow = -12;
inline constexpr int32_t nleClientNoResponse = -13;
inline constexpr int32_t nleNetworkFail = -14;
inline constexpr int32_t nleBrokerNotStart = -15;
inline constexpr int32_t nleHostExcuteError = -16;
inline constexpr int32_t nleNotConnected = -17;
inline constexpr int32_t nleSetUpFailed = -18;  // has no display name
inline constexpr int32_t nleUnknownError = -1000;

// "nsConnected", ..., or "???-" and the number (states 7 and 8).
std::string SlotStateName(int32_t state);
// "nleTimeout", ..., or "???-" and the number for codes without a name.
std::string ErrorCodeName(int32_t code);

}  // namespace velmora
