// An INI file with the semantics of the Windows profile functions, for the
// settings files the design keeps in the current directory ("ZTVLSRV.INI",
// "ZTVL.INI").
//
// - Section and key names compare case-insensitively (ASCII); surrounding
//   blanks are ignored, blanks inside ("FRAME CHECK TIME") are part of them.
//   The first matching section and key win.
// - A value is the text after the first '=', without surrounding blanks and
//   without one pair of enclosing quotes ("..." or '...').
// - Integers read like the profile-integer reader: optional blanks and sign,
//   then leading decimal digits ("55zz" is 55) or 0x and hex digits; text
//   without digits is 0; an absent key or an empty value gives the default.
//   Values wrap modulo 2^32 as the 32-bit reader does.
// - A write replaces the value in place, keeps every other line (comments,
//   blank lines, unknown text) as it was, appends a missing key after the
//   last entry of its section and a missing section at the end of the file,
//   and writes the file at once (through a temporary file and a rename, so a
//   crash leaves the old or the new file, never half of one).
// - Lines end as the file's first line does (CRLF or LF); a new file uses LF.
//
// Note: lines without '=' inside a section are kept but are not keys (the
// profile reader treats them as keys without value, which reads as absent).
// Not thread-safe: one owner (the settings page's thread) uses it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr int iniOk = 1;
inline constexpr int iniNoFile = 0;        // Load: no such file, nothing read
inline constexpr int iniReadFailed = -1;   // Load: the file exists but cannot be read
inline constexpr int iniWriteFailed = -2;  // a write could not replace the file

class IniFile {
  public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    // Reads the file, replacing what was held. A missing file reads as empty
    // (iniNoFile); every key then reads as absent.
    [[nodiscard]] int Load();

    const std::string& Path() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
    // Booleans are integers: 0 is false, any other number true.
    bool ReadBool(std::string_view section, std::string_view key, bool defaultValue) const;
    bool KeyExists(std::string_view section, std::string_view key) const;

    // Each write updates the held lines and then the file; the lines are
    // updated even when the file cannot be written (iniWriteFailed).
    [[nodiscard]] int WriteString(std::string_view section, std::string_view key,
                                  std::string_view value);
    [[nodiscard]] int WriteInteger(std::string_view section, std::string_view key, int32_t value);
    [[nodiscard]] int WriteBool(std::string_view section, std::string_view key, bool value);

    // The profile reader's integer parse of a value (see the file comment).
    static int32_t ParseProfileInteger(std::string_view text, int32_t defaultValue);

  private:
    // Index of the line holding the key, or -1; `sectionEnd` gets the index
    // after the section's last entry (-1 when the section is missing).
    int FindKey(std::string_view section, std::string_view key, int* sectionEnd) const;
    int Save() const;

    std::string path_;
    std::vector<std::string> lines_;  // without line ends
    bool crlf_ = false;
};

}  // namespace velmora
