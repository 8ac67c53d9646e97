#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace velmora {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

enum class LineKind { Other, Section, Key };

// What a line is, with the section name or the key name and raw value.
LineKind Classify(std::string_view line, std::string_view* name, std::string_view* value) {
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') return LineKind::Other;
    if (t.front() == '[') {
        const size_t close = t.find(']');
        *name =
            Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return LineKind::Section;
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) return LineKind::Other;
    *name = Trim(t.substr(0, eq));
    *value = t.substr(eq + 1);
    return name->empty() ? LineKind::Other : LineKind::Key;
}

std::string_view CleanValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

int IniFile::Load() {
    lines_.clear();
    crlf_ = false;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return errno == ENOENT ? iniNoFile : iniReadFailed;
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return iniReadFailed;
    const std::string text = buffer.str();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (lines_.empty()) crlf_ = true;
        }
        lines_.push_back(std::move(line));
        start = end + 1;
    }
    return iniOk;
}

int IniFile::FindKey(std::string_view section, std::string_view key, int* sectionEnd) const {
    *sectionEnd = -1;
    bool inSection = false;
    for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
        std::string_view name, value;
        const LineKind kind = Classify(lines_[static_cast<size_t>(i)], &name, &value);
        if (kind == LineKind::Section) {
            if (inSection) break;  // only the first section of that name counts
            if (SameName(name, section)) {
                inSection = true;
                *sectionEnd = i + 1;
            }
        } else if (inSection && kind == LineKind::Key) {
            *sectionEnd = i + 1;
            if (SameName(name, key)) return i;
        }
    }
    return -1;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    int sectionEnd;
    const int line = FindKey(section, key, &sectionEnd);
    if (line < 0) return std::string(defaultValue);
    std::string_view name, value;
    Classify(lines_[static_cast<size_t>(line)], &name, &value);
    return std::string(CleanValue(value));
}

int32_t IniFile::ParseProfileInteger(std::string_view text, int32_t defaultValue) {
    std::string_view t = Trim(text);
    if (t.empty()) return defaultValue;
    bool negative = false;
    if (t.front() == '-' || t.front() == '+') {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    uint32_t value = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        for (char c : t.substr(2)) {
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) break;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
    } else {
        for (char c : t) {
            if (c < '0' || c > '9') break;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
    int sectionEnd;
    if (FindKey(section, key, &sectionEnd) < 0) return defaultValue;
    return ParseProfileInteger(ReadString(section, key, ""), defaultValue);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::KeyExists(std::string_view section, std::string_view key) const {
    int sectionEnd;
    return FindKey(section, key, &sectionEnd) >= 0;
}

int IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // A line break inside a value would end the entry; the value stops there.
    value = value.substr(0, value.find_first_of("\r\n"));
    int sectionEnd;
    const int line = FindKey(section, key, &sectionEnd);
    if (line >= 0) {
        std::string_view name, old;
        Classify(lines_[static_cast<size_t>(line)], &name, &old);
        lines_[static_cast<size_t>(line)] = std::string(name) + "=" + std::string(value);
    } else if (sectionEnd >= 0) {
        lines_.insert(lines_.begin() + sectionEnd, std::string(key) + "=" + std::string(value));
    } else {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        // Built piece by piece: "[" + std::string trips GCC 12's -Wrestrict at -O3.
        std::string header(1, '[');
        header.append(section).push_back(']');
        lines_.push_back(std::move(header));
        lines_.push_back(std::string(key) + "=" + std::string(value));
    }
    return Save();
}

int IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    return WriteString(section, key, std::to_string(value));
}

int IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    return WriteString(section, key, value ? "1" : "0");
}

int IniFile::Save() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += crlf_ ? "\r\n" : "\n";
    }
    const std::string temporary = path_ + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return iniWriteFailed;
    struct stat existing;
    if (stat(path_.c_str(), &existing) == 0) (void)fchmod(fd, existing.st_mode & 07777);
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    const bool complete = written == text.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !complete || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        std::remove(temporary.c_str());
        return iniWriteFailed;
    }
    return iniOk;
}

}  // namespace velmora
