// Fuzz target: a receive queue whose header and records are arbitrary bytes,
// read the way the library reads it (peek, take, rebuild a message). Nothing
// may be read or written outside the mapping or the message buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "clientif/sharedqueue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace velmora;
    // A small mapping keeps the fuzzer able to fill the records it reads.
    std::vector<uint8_t> mapping(kQueueHeaderSize + 4 * sizeof(ZTRECV_RECORD));
    std::memcpy(mapping.data(), data, size < mapping.size() ? size : mapping.size());
    ReceiveQueue queue(mapping.data(), mapping.size(), nullptr);

    ZTRECV_RECORD record;
    if (queue.PeekHead(record) != kQueueDone) return 0;
    const int32_t total = record.totalLength.get();
    if (total < 0 || total > 4 * 998) return 0;
    std::vector<uint8_t> message(static_cast<size_t>(total));
    int32_t copied = 0;
    bool first = true;
    while ((copied < total || first) && queue.Take(record) == kQueueDone) {
        const int32_t length = record.dataLength.get();
        if (!RecordFitsMessage(record.totalLength.get(), length, total, total - copied,
                               sizeof(record.data))) {
            return 0;
        }
        if (length > 0)
            std::memcpy(message.data() + copied, record.data, static_cast<size_t>(length));
        copied += length;
        first = false;
    }
    return 0;
}
