// The time constants and sizes of the server engine, in one record passed at
// construction. The defaults are the designed values and are what the server
// program uses; tests shorten the times so that a time-out is seen in
// milliseconds rather than minutes.
#pragma once

#include <cstdint>

namespace velmora {

struct EngineSettings {
    // A connection with neither data received nor a frame acknowledged for
    // this long is probed with ccLifeCheck; the rule is evaluated this often.
    uint32_t lifeCheckIntervalMs = 60000;
    // How long the probe waits for its acknowledgement before the connection
    // is dropped.
    uint32_t lifeCheckWaitMs = 10000;
    // HostDisconnect waits this long for the acknowledgement of ccDisconnect.
    uint32_t disconnectWaitMs = 5000;
    // Releasing a record waits this long for its application thread to stop;
    // a thread still running then is left to end on its own (see
    // ZTSERVERCLIENT_THREAD).
    uint32_t clientStopLimitMs = 3000;
    // The echo reply is sent without acknowledgement; this is its send wait.
    uint32_t echoReplyWaitMs = 1000;
    // A host manager's wait between passes while it serves a record, and
    // while it serves none.
    uint32_t managerBusySleepMs = 1;
    uint32_t managerIdleSleepMs = 100;
    // Completing a connect in mode emClientThread when the application gave
    // the record no thread.
    uint32_t connectWithoutThreadSleepMs = 100;
    // Length of the rate windows (rxRate, txRate).
    uint32_t rateWindowMs = 1000;
    // The receive, router and acknowledgement threads block for input at most
    // this long before they look at their stop request. Input ends the wait at
    // once; the value only bounds how long a stop takes, and a longer wait
    // keeps an idle engine from waking a thousand times a second.
    uint32_t threadWaitMs = 50;
    // Send wait of the router's one-packet refusal.
    uint32_t refusalWaitMs = 10;
    // Entries of the receive queue.
    int32_t receiveQueueCapacity = 10000;
    // Backlog of the data channel beyond which a peer that was refused a
    // frame is asked to pause, and below which it is asked to resume.
    uint32_t flowThreshold = 250;
    // False: host managers are created but their threads are never started,
    // so a test drives ZTHOSTS::Pass itself. The program always starts them.
    bool startManagerThreads = true;
};

}  // namespace velmora
