#include "clientif/brokernames.h"

#include "clientif/ztinstance_slot.h"

namespace velmora {

bool CheckBrokerName(std::string_view name, std::string* why) {
    if (name.empty()) {
        if (why) *why = "the broker name is empty";
        return false;
    }
    if (name.size() > kBrokerNameMax) {
        if (why) {
            *why = "the broker name \"" + std::string(name) + "\" has " +
                   std::to_string(name.size()) + " characters; at most " +
                   std::to_string(kBrokerNameMax) + " are allowed";
        }
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x20 || byte >= 0x7F) {
            if (why) {
                *why = "the broker name holds a control or non-ASCII character at position " +
                       std::to_string(i + 1);
            }
            return false;
        }
    }
    return true;
}

std::string InstanceListLockName(std::string_view name) {
    return std::string(name) + "SHARE";
}

std::string ReceiveQueueName(std::string_view name, int32_t slot) {
    return std::string(name) + "R" + std::to_string(slot);
}

std::string SendQueueName(std::string_view name, int32_t slot) {
    return std::string(name) + "S" + std::to_string(slot);
}

std::string ReceiveQueueLockName(std::string_view name, int32_t slot) {
    return std::string(name) + "RM" + std::to_string(slot);
}

std::string SendQueueLockName(std::string_view name, int32_t slot) {
    return std::string(name) + "SM" + std::to_string(slot);
}

std::string BrokerLockFileName(std::string_view name) {
    std::string file(name);
    for (char& c : file) {
        const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (!kept) c = '_';
    }
    return file + ".lock";
}

}  // namespace velmora
