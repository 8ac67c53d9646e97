#include "viewer/viewerscript.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <fstream>

namespace velmora {
namespace {

constexpr uint8_t kShift = 0x10, kControl = 0x11, kAlt = 0x12;

struct Named {
    const char* name;
    uint8_t vk;
    bool extended;
};
constexpr Named kNamed[] = {
    {"enter", 0x0D, false},    {"return", 0x0D, false},      {"tab", 0x09, false},
    {"escape", 0x1B, false},   {"esc", 0x1B, false},         {"backspace", 0x08, false},
    {"space", 0x20, false},    {"delete", 0x2E, true},       {"del", 0x2E, true},
    {"insert", 0x2D, true},    {"home", 0x24, true},         {"end", 0x23, true},
    {"pageup", 0x21, true},    {"pagedown", 0x22, true},     {"left", 0x25, true},
    {"up", 0x26, true},        {"right", 0x27, true},        {"down", 0x28, true},
    {"ctrl", kControl, false}, {"control", kControl, false}, {"alt", kAlt, false},
    {"shift", kShift, false},  {"super", 0x5B, true},        {"hangul", 0x15, true},
};

// Unshifted and shifted characters of the US layout's punctuation keys.
struct Punctuation {
    char plain, shifted;
    uint8_t vk;
};
constexpr Punctuation kPunctuation[] = {
    {';', ':', 0xBA},  {'=', '+', 0xBB}, {',', '<', 0xBC},  {'-', '_', 0xBD},
    {'.', '>', 0xBE},  {'/', '?', 0xBF}, {'`', '~', 0xC0},  {'[', '{', 0xDB},
    {'\\', '|', 0xDC}, {']', '}', 0xDD}, {'\'', '"', 0xDE},
};
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

KEY_EVENT Event(uint8_t vk, bool up, bool extended) {
    KEY_EVENT e{};
    e.virtualKey = vk;
    e.flags = (extended ? kfExtended : 0) | (up ? kfKeyUp : 0);
    return e;
}

void Press(std::vector<KEY_EVENT>* out, uint8_t vk, bool shift, bool extended = false) {
    if (shift) out->push_back(Event(kShift, false, false));
    out->push_back(Event(vk, false, extended));
    out->push_back(Event(vk, true, extended));
    if (shift) out->push_back(Event(kShift, true, false));
}

// The key of one character: its code, and whether Shift is held for it.
bool CharacterKey(char c, uint8_t* vk, bool* shift) {
    *shift = false;
    if (c >= 'a' && c <= 'z') {
        *vk = static_cast<uint8_t>(c - 'a' + 'A');
        return true;
    }
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ') {
        *vk = static_cast<uint8_t>(c);
        *shift = c >= 'A' && c <= 'Z';
        return true;
    }
    if (const char* d = std::strchr(kShiftedDigits, c); d != nullptr && c != '\0') {
        *vk = static_cast<uint8_t>('0' + (d - kShiftedDigits));
        *shift = true;
        return true;
    }
    for (const Punctuation& p : kPunctuation) {
        if (c == p.plain || c == p.shifted) {
            *vk = p.vk;
            *shift = c == p.shifted;
            return true;
        }
    }
    return false;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The next blank-separated word of `rest`, which is advanced past it.
std::string_view Word(std::string_view& rest) {
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const size_t end = rest.find_first_of(" \t");
    const std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    return word;
}

bool Number(std::string_view word, int32_t* value) {
    if (word.empty()) return false;
    const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), *value);
    return ec == std::errc() && end == word.data() + word.size();
}

int32_t Button(std::string_view word, bool down, bool* ok) {
    *ok = true;
    const std::string b = Lower(word);
    if (b.empty() || b == "left") return down ? maLeftDown : maLeftUp;
    if (b == "right") return down ? maRightDown : maRightUp;
    if (b == "middle") return down ? maMiddleDown : maMiddleUp;
    *ok = false;
    return 0;
}

int ParseMouse(const std::string& verb, std::string_view rest, ScriptCommand* out,
               std::string* error) {
    if (!Number(Word(rest), &out->x) || !Number(Word(rest), &out->y)) {
        *error = verb + " needs X and Y";
        return -1;
    }
    const std::string_view extra = Word(rest);
    if (verb == "move") {
        out->kind = ScriptCommand::Kind::kMove;
        if (extra.empty()) return 1;
        *error = "move takes X and Y only";
        return -1;
    }
    out->kind = ScriptCommand::Kind::kMouse;
    if (verb == "wheel") {
        if (!Number(extra, &out->wheel)) {
            *error = "wheel needs X, Y and DELTA";
            return -1;
        }
        out->actions = {maWheel};
        return 1;
    }
    bool ok = true;
    if (verb == "click") {
        out->actions = {Button(extra, true, &ok), Button(extra, false, &ok)};
    } else {
        out->actions = {Button(extra, verb == "down", &ok)};
    }
    if (!ok) *error = "unknown button " + std::string(extra) + " (left, right or middle)";
    return ok ? 1 : -1;
}

}  // namespace

bool ViewerScript::TextKeys(std::string_view text, std::vector<KEY_EVENT>* out,
                            std::string* error) {
    for (const char c : text) {
        uint8_t vk = 0;
        bool shift = false;
        if (!CharacterKey(c, &vk, &shift)) {
            *error = "no key types the character '" + std::string(1, c) + "'";
            return false;
        }
        Press(out, vk, shift);
    }
    return true;
}

bool ViewerScript::NamedKeys(std::string_view name, std::vector<KEY_EVENT>* out,
                             std::string* error) {
    std::vector<std::pair<uint8_t, bool>> keys;  // modifiers first, the key last
    std::string_view rest = name;
    while (!rest.empty()) {
        const size_t plus = rest.find('+');
        const std::string part = Lower(rest.substr(0, plus));
        rest.remove_prefix(plus == std::string_view::npos ? rest.size() : plus + 1);
        if (part.empty() || (plus != std::string_view::npos && rest.empty())) {
            *error = "a key name is missing in " + std::string(name);
            return false;
        }
        uint8_t vk = 0;
        bool extended = false, shift = false, found = false;
        for (const Named& n : kNamed) {
            if (part == n.name) vk = n.vk, extended = n.extended, found = true;
        }
        int32_t code = 0;
        if (!found && part.size() > 2 && part.compare(0, 2, "0x") == 0) {
            const auto [end, ec] =
                std::from_chars(part.data() + 2, part.data() + part.size(), code, 16);
            found = ec == std::errc() && end == part.data() + part.size() && code > 0 && code < 256;
            vk = static_cast<uint8_t>(code);
        } else if (!found && part.size() >= 2 && part[0] == 'f' &&
                   Number(std::string_view(part).substr(1), &code) && code >= 1 && code <= 24) {
            vk = static_cast<uint8_t>(0x70 + code - 1);
            found = true;
        } else if (!found && part.size() == 1) {
            found = CharacterKey(part[0], &vk, &shift) && !shift;
        }
        if (!found) {
            *error = "unknown key " + part;
            return false;
        }
        keys.emplace_back(vk, extended);
    }
    if (keys.empty()) {
        *error = "key needs a NAME";
        return false;
    }
    for (const auto& [vk, extended] : keys) out->push_back(Event(vk, false, extended));
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        out->push_back(Event(it->first, true, it->second));
    }
    return true;
}

int ViewerScript::ParseLine(std::string_view line, ScriptCommand* out, std::string* error) {
    *out = ScriptCommand();
    if (const size_t hash = line.find('#'); hash != std::string_view::npos && !line.empty()) {
        // '#' inside "type" text is typed; anywhere else it starts a comment.
        std::string_view probe = line;
        if (Lower(Word(probe)) != "type") line = line.substr(0, hash);
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::string_view rest = line;
    const std::string verb = Lower(Word(rest));
    if (verb.empty()) return 0;
    using Kind = ScriptCommand::Kind;
    if (verb == "control") {
        const std::string what = Lower(Word(rest));
        if ((what != "on" && what != "off") || !Word(rest).empty()) {
            *error = "control takes on or off";
            return -1;
        }
        out->kind = Kind::kControl;
        out->on = what == "on";
        return 1;
    }
    if (verb == "move" || verb == "click" || verb == "down" || verb == "up" || verb == "wheel") {
        return ParseMouse(verb, rest, out, error);
    }
    if (verb == "type") {
        out->kind = Kind::kKeys;
        if (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
        return TextKeys(rest, &out->keys, error) ? 1 : -1;
    }
    if (verb == "key") {
        out->kind = Kind::kKeys;
        const std::string_view name = Word(rest);
        return NamedKeys(name, &out->keys, error) ? 1 : -1;
    }
    if (verb == "sleep" || verb == "settle") {
        int32_t ms = 0, limit = 0;
        const bool hasMs = Number(Word(rest), &ms);
        const std::string_view limitWord = Word(rest);
        const bool limitOk =
            limitWord.empty() || (verb == "settle" && Number(limitWord, &limit) && limit > 0);
        if (!hasMs || ms < 0 || !limitOk || !Word(rest).empty()) {
            *error = verb + (verb == "settle" ? " takes MS [LIMIT_MS]" : " takes MS");
            return -1;
        }
        out->kind = verb == "sleep" ? Kind::kSleep : Kind::kSettle;
        out->ms = static_cast<uint32_t>(ms);
        out->limitMs = limit > 0 ? static_cast<uint32_t>(limit) : 10000;
        return 1;
    }
    if (verb == "snapshot") {
        out->kind = Kind::kSnapshot;
        out->file = std::string(Word(rest));
        if (!out->file.empty()) return 1;
        *error = "snapshot needs a FILE";
        return -1;
    }
    if (verb == "figures" || verb == "members" || verb == "quit") {
        out->kind = verb == "figures"   ? Kind::kFigures
                    : verb == "members" ? Kind::kMembers
                                        : Kind::kQuit;
        return 1;
    }
    *error = "unknown command " + verb;
    return -1;
}

bool ViewerScript::Load(const std::string& path, std::vector<ScriptCommand>* out,
                        std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the script " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        ScriptCommand command;
        std::string why;
        const int result = ParseLine(line, &command, &why);
        if (result < 0) {
            *error = path + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        if (result == 0) continue;
        command.line = number;
        out->push_back(std::move(command));
    }
    return true;
}

}  // namespace velmora
