// The broker's time constants and limits, in one record. The defaults are the
// system's values and are what the program uses; tests construct the engine
// and the instance manager with shorter ones.
//
// Test hook: the program reads the environment variable
// ZTBROKER_TEST_SETTINGS, a comma-separated list of name=value pairs of the
// fields below (for example "lifeCheckIntervalMs=1000,serverSilenceMs=500").
// It exists only so end-to-end tests can shorten the 30-second checks of a
// broker that the client-interface library starts; unknown names and bad
// values are reported on stderr and ignored.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

struct BrokerSettings {
    // Engine.
    uint32_t startSettleMs = 100;      // Start waits this long before it reports running
    uint32_t shutdownSettleMs = 3000;  // Shutdown's pause before it closes the slots
    uint32_t socketWaitMs = 250;       // longest block of the receive and ack threads
    uint32_t bindAddressRaw = 0;       // both sockets bind here (network order; 0 = any)
    uint32_t controlPollMs = 5;        // SendControl's look for its acknowledgement
    uint32_t idleWaitMs = 500;  // connection thread of a kept slot, between looks (woken on reuse)

    // Connection thread.
    uint32_t activePassMs = 1;  // longest wait between turns while there is traffic
    uint32_t quietPassMs = 50;  // ... once nothing happened for quietAfterMs
    uint32_t quietAfterMs = 1000;
    uint32_t maxInFlight = 500;        // application data is taken up to this many frames
    uint32_t deliveryStallMs = 60000;  // a full receive queue without progress closes (-6)
    uint32_t takeStallMs = 10000;      // an incomplete message in the send queue closes (-10)

    // Instance manager.
    uint32_t managerActivePollMs = 1;  // loop wait while requests come in
    uint32_t managerQuietPollMs = 50;  // ... once none came for quietAfterMs
    uint32_t maxSetupThreads = 5;
    int32_t maxKeptSlots = 5;              // closed slots that keep their objects
    uint32_t setupRoundTripMs = 15000;     // initial round-trip estimate of a set-up
    uint32_t setupPollMs = 10;             // set-up thread's look for the connect acknowledgement
    uint32_t disconnectWaitMs = 5000;      // close thread's wait for the disconnect acknowledgement
    uint32_t lifeCheckIntervalMs = 30000;  // both life checks run this often
    uint32_t serverSilenceMs = 30000;      // a connected slot this silent both ways is checked
    uint32_t applicationSilenceMs = 30000;  // ... and this long without application sends
    uint32_t pingWaitMs = 500;              // the echo check's wait after its request
    uint32_t lifeCheckAckWaitMs = 1000;     // how long ccLifeCheck may wait for its acknowledgement
};

// The settings with ZTBROKER_TEST_SETTINGS applied (see above). Lines about
// entries that were not understood are appended to *complaints.
BrokerSettings BrokerSettingsFromEnvironment(std::string* complaints);

// Applies "name=value,name=value" to settings; false when an entry was not
// understood (the others are still applied; *complaints says which).
bool ApplyBrokerSettings(const std::string& text, BrokerSettings& settings,
                         std::string* complaints);

}  // namespace velmora
