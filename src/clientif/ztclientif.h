// The client-interface library: how an application reaches servers without a
// socket of its own. It finds or starts the broker program of a named broker,
// asks it through the broker's instance list to connect to a server, and then
// exchanges messages with that server through the connection's two shared
// ring queues. Any thread may call it; one thread receives on a connection and
// the sends on one connection are serialised by the caller.
//
// Results are the small signed codes of ztif_codes.h. Every failed connect
// leaves its code in ZtifLastError() and a sentence in ZtifLastErrorText();
// the per-connection operations leave theirs in the connection's lastError
// (ZtifConnectionError). No exception leaves these functions.
//
// The broker of a name is alive while it holds its lifetime lock
// (brokerlock.h). A broker that died leaves its instance list behind; the
// library treats such a list as gone: the per-connection operations answer
// as for a missing list, and the next connect removes it and starts a new
// broker.
#pragma once

#include <cstdint>
#include <string>

#include "clientif/ztif_codes.h"
#include "clientif/ztif_connection.h"

namespace velmora {

// A new connection to serverAddress (dotted IPv4) port P through the broker
// `brokerName` (at most 29 characters), starting the broker when needed
// (show = 1: it shows its window). Waits for the broker's answer at most
// timeoutMs plus a grace of 3000 ms. Null on failure, with ZtifLastError():
//   nleHostExcuteNotFound  the broker program is missing or cannot be started
//   nleHostExcuteError     the broker ended at once with a negative code
//   nleServerConnectFail   no instance list after the start, or the server
//                          did not answer (the broker's verdict)
//   nleServerConnectFull   all 500 slots are taken
//   nleTimeout             the broker did not decide in time
//   nleInvalidConnect      the queues cannot be opened; also a refused broker
//                          name, server address or port
//   other                  the slot's error, as the broker set it
// After ZtifStopBroker every connect answers null and leaves ZtifLastError()
// as it was.
[[nodiscard]] ZTIF_CONNECTION* ZtifConnect(const char* brokerName, const char* serverAddress,
                                           uint16_t serverPort, uint32_t connectionType,
                                           int32_t show, uint32_t timeoutMs);

// Queues a message of `length` bytes (noAck copied into every record).
// Answers the bytes queued: `length`, or fewer when the send queue stayed
// full longer than timeoutMs (lastError nleTimeout; 0 gives up at the first
// full queue). Otherwise:
//   -1  null connection or bad arguments, or the broker has gone (lastError unchanged)
//   -5  the slot is not connected (lastError nleNotConnected)
//   -6  the slot left the connected state while sending (nleNotConnected)
//   -2  the send queue is damaged; the connection is ended (nleInvalidPacket)
// Note: a message cut short by a time-out stays half queued; the broker ends
// the connection when its rest does not follow.
[[nodiscard]] int32_t ZtifSend(ZTIF_CONNECTION* connection, const void* data, int32_t length,
                               uint8_t noAck, uint32_t timeoutMs);

// The total length of the next waiting message, 0 when none waits. Empty
// messages at the head of the queue are taken and dropped on the way (they
// carry nothing, and would otherwise hide every message behind them).
// Takes no lock unless it drops one.
//   -1  null connection, or the broker has gone (lastError unchanged)
//   -5  the slot is not connected (nleNotConnected)
//   -2  the queue holds an impossible record; the connection is ended
//       (nleInvalidPacket)
[[nodiscard]] int32_t ZtifPeek(ZTIF_CONNECTION* connection);

// Takes the next message into `buffer` (bufferSize bytes), waiting at most
// timeoutMs for its first record and then at most timeoutMs for each further
// one. Answers the message's length, or 0 when nothing came in time
// (lastError nleTimeout) or the message is empty (lastError nleOk).
//   -1  the broker has gone (nleInvalidConnect), the slot left the connected
//       state in the middle of the message (nleNotConnected), or the rest of
//       the message did not come in time (nleTimeout; the connection is ended)
//   -5  the slot is not connected (nleNotConnected)
//   -2  a record does not fit its message, or the queue is damaged; nothing
//       beyond the message's length is written and the connection is ended
//       (nleInvalidPacket)
//   -3  the message is longer than bufferSize; it stays in the queue
//       (nlePacketRcvBufferOverFlow)
[[nodiscard]] int32_t ZtifReceive(ZTIF_CONNECTION* connection, void* buffer, int32_t bufferSize,
                                  uint32_t timeoutMs);

// Asks the broker to close the connection and frees the handle. 1 when the
// broker was reachable, else 0 (also for a null connection).
int32_t ZtifDisconnect(ZTIF_CONNECTION* connection);

// Asks the broker to exit (slot 0 := nsBrokerExit, made again should the
// broker overwrite it while closing that slot) and returns once its instance
// list has gone (or its broker has died). Afterwards this process refuses
// every further connect.
// Note: a broker that lives on but never exits is waited for without limit
// unless the settings give one.
void ZtifStopBroker(const char* brokerName);

// The error of the last failed connect of this process (initially 0).
int32_t ZtifLastError();
// A sentence about that failure, for the user; empty before any failure.
std::string ZtifLastErrorText();
// The connection's last error; nleInvalidConnect for a null connection.
int32_t ZtifConnectionError(const ZTIF_CONNECTION* connection);

// The library's waits. The defaults are the system's; tests shorten them.
struct ZtifSettings {
    uint32_t startCheckMs = 500;     // after a start, when the broker's exit code is asked
    uint32_t listWaitMs = 63000;     // how long a started broker has to make its instance list
    uint32_t listPollMs = 10;        // how often it is looked for meanwhile
    uint32_t connectGraceMs = 3000;  // added to a connect's time-out
    uint32_t keepAliveMs = 1000;     // between keep-alive rounds
    uint32_t stopPollMs = 500;       // how often ZtifStopBroker looks for the list
    uint32_t stopLimitMs = 0;        // how long it looks at most; 0 = no limit
    uint32_t reapWaitMs = 2000;      // how long it then waits for a started broker to end
    std::string brokerProgram;       // overrides ZTIF_BROKER_PROGRAM and ZTBROKER.DLL
};

void ZtifSetSettings(const ZtifSettings& settings);
ZtifSettings ZtifGetSettings();

// Tests only: returns the process-wide state to its start (no closing flag,
// last error 0, empty keep-alive list, keep-alive thread stopped, a new
// application GUID to be made, default settings).
void ZtifResetForTesting();

}  // namespace velmora
