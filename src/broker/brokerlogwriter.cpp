#include "broker/brokerlogwriter.h"

#include <cstdio>

#include "platform/runtime_dir.h"

namespace velmora {

BrokerLogWriter::BrokerLogWriter(std::string path) : path_(std::move(path)) {
    if (path_.empty()) path_ = RuntimePath(kFileName);
}

std::string BrokerLogWriter::TimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d  %H:%M:%S", &local);
    return text;
}

void BrokerLogWriter::Write(int level, std::string_view text) {
    if (level != 1 || path_.empty()) return;
    const std::string line = TimeText(std::time(nullptr)) + std::string(text) + "\r\n";
    std::lock_guard<std::mutex> guard(lock_);
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (file == nullptr) return;
    (void)std::fwrite(line.data(), 1, line.size(), file);
    (void)std::fclose(file);
}

}  // namespace velmora
