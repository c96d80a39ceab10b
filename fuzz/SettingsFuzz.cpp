// Settings file writer and reader on hostile files: one write of (section, key, value) into
// whatever bytes the file held must read back as written, touch no other line (byte for byte,
// line endings included), and change nothing when repeated. A refused write leaves the file
// exactly as it was.
//
// Input: section, key and value as FuzzedDataProvider strings ("\" ends one, "\\" is a
// backslash), then the file's bytes; no bytes means no file.
#include "base/IniText.h"
#include "base/Settings.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// What the failing run wrote and found, shown with the broken property.
struct Shown {
    std::string section, key, value, before, after;
} shown;

std::string Escaped(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char piece[8];
        std::snprintf(piece, sizeof piece, c >= 0x20 && c < 0x7F && c != '\\' ? "%c" : "\\x%02X",
                      c);
        out += piece;
    }
    return out;
}

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr,
                 "settings property broken: %s\nsection: %s\nkey: %s\nvalue: %s\nbefore: "
                 "%s\nafter: %s\n",
                 what, Escaped(shown.section).c_str(), Escaped(shown.key).c_str(),
                 Escaped(shown.value).c_str(), Escaped(shown.before).c_str(),
                 Escaped(shown.after).c_str());
    std::abort();
}

// One folder per fuzzing process, on tmpfs when there is one: every run replaces the file.
const std::string& SettingsFile() {
    static const std::string file = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string folder = std::string(base && *base ? base : "/tmp") + "/maplenook-fuzz-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr) std::abort();
        static const std::string kept = folder;
        std::atexit([] { std::filesystem::remove_all(kept); });
        return folder + "/cfg.ini";
    }();
    return file;
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
        std::fclose(f);
    }
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string Trimmed(const std::string& s) {
    size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first])) ++first;
    while (last > first && IsBlank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

bool ValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const size_t n = b < 0x80             ? 1
                         : (b & 0xE0) == 0xC0 ? 2
                         : (b & 0xF0) == 0xE0 ? 3
                         : (b & 0xF8) == 0xF0 ? 4
                                              : 0;
        if (n == 0 || i + n > s.size()) return false;
        uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

size_t CodePoints(const std::string& s) {
    size_t n = 0;
    for (char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// A file's text as lines, each with its own ending (LF, CRLF or a lone CR), in code units of
// `unit` bytes (2 for UTF-16 LE).
struct Lines {
    std::vector<std::string> lines;
    bool lastUnterminated = false;
};

Lines SplitLines(const std::string& text, size_t unit) {
    auto at = [&](size_t i) -> uint32_t {
        return unit == 1 ? static_cast<unsigned char>(text[i])
                         : static_cast<unsigned char>(text[i]) |
                               (static_cast<unsigned char>(text[i + 1]) << 8);
    };
    Lines out;
    size_t start = 0, i = 0;
    while (i + unit <= text.size()) {
        const uint32_t c = at(i);
        i += unit;
        if (c == '\r' && i + unit <= text.size() && at(i) == '\n') i += unit;
        if (c == '\r' || c == '\n') {
            out.lines.push_back(text.substr(start, i - start));
            start = i;
        }
    }
    if (start < text.size()) {
        out.lines.push_back(text.substr(start));
        out.lastUnterminated = true;
    }
    return out;
}

bool IsLineEnding(const std::string& s, size_t unit) {
    const std::string cr = unit == 1 ? "\r" : std::string("\r\0", 2);
    const std::string lf = unit == 1 ? "\n" : std::string("\n\0", 2);
    return s == cr || s == lf || s == cr + lf;
}

// Well-formed UTF-16 LE: whole units, surrogates in pairs. Anything else cannot be kept byte
// for byte through the UTF-8 text the settings are edited as.
bool WellFormedUtf16(const std::string& bytes) {
    if (bytes.size() % 2 != 0) return false;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned u =
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (u >= 0xDC00 && u <= 0xDFFF) return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 3 >= bytes.size()) return false;
            const unsigned low = static_cast<unsigned char>(bytes[i + 2]) |
                                 (static_cast<unsigned char>(bytes[i + 3]) << 8);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            i += 2;
        }
    }
    return true;
}

std::string KeyOfLine(const std::string& line) {
    return Trimmed(line.substr(0, line.find('=')));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(8192);
    const std::string before = input.ConsumeRemainingBytesAsString();

    const std::string& file = SettingsFile();
    if (before.empty()) {
        unlink(file.c_str());
    } else {
        WriteBytes(file, before);
    }

    // Reads of whatever is there must not fail in any way, whatever the names.
    (void)ReadSettingString(file, section, key, "default");
    (void)ReadSettingSection(file, section);
    (void)ReadSettingInt(file, section, key, -7);

    const bool written = WriteSettingString(file, section, key, value) != 0;
    const std::string after = ReadBytes(file);
    shown = {section, key, value, before, after};
    if (!written) {
        Require(after == before, "a refused write changed the file");
        return 0;
    }

    // Which encoding the file is edited in, and the text after its byte-order mark.
    size_t unit = 1, bom = 0;
    if (before.size() >= 2 && before.compare(0, 2, "\xFF\xFE") == 0) {
        unit = 2;
        bom = 2;
    } else if (before.size() >= 3 && before.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        bom = 3;
    }
    Require(after.compare(0, bom, before, 0, bom) == 0, "the byte-order mark changed");

    // The value reads back as written, when it is something a settings line can hold: one
    // line, no blanks or quote pair around it (those the reader strips), within the size limit,
    // and for a UTF-16 file, text that UTF-16 can hold. Section names come from the program,
    // never with a line break.
    const bool textOk = unit == 1 || (ValidUtf8(section) && ValidUtf8(key) && ValidUtf8(value));
    const bool holdable = value.find_first_of("\r\n") == std::string::npos &&
                          (value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()))) &&
                          !(value.size() >= 2 && value.front() == value.back() &&
                            (value.front() == '"' || value.front() == '\'')) &&
                          CodePoints(value) <= kMaxSettingChars;
    if (textOk && holdable && section.find_first_of("\r\n") == std::string::npos) {
        Require(ReadSettingString(file, section, key, "\x01unset") == value,
                "a written value does not read back");
        bool listed = false;
        for (const auto& [name, v] : ReadSettingSection(file, section)) {
            if (SameNoCase(name, Trimmed(key))) {
                Require(v == value, "the section listing gives another value for the key");
                listed = true;
                break;
            }
        }
        Require(listed, "the section listing misses a written key");
    }

    // No line but the one written changes. Only files the editor can hold byte for byte count:
    // a UTF-16 file with an odd byte or a lone surrogate is rewritten as well-formed text.
    const std::string beforeText = before.substr(bom);
    if (unit == 2 && !WellFormedUtf16(beforeText)) return 0;
    const Lines in = SplitLines(beforeText, unit);
    const Lines out = SplitLines(after.substr(std::min(bom, after.size())), unit);
    size_t prefix = 0;
    while (prefix < in.lines.size() && prefix < out.lines.size()) {
        const std::string& a = in.lines[prefix];
        const std::string& b = out.lines[prefix];
        // Lines after an unterminated last line need it to end first.
        const bool gainedEnding = prefix + 1 == in.lines.size() && in.lastUnterminated &&
                                  b.size() > a.size() && b.compare(0, a.size(), a) == 0 &&
                                  IsLineEnding(b.substr(a.size()), unit);
        if (a != b && !gainedEnding) break;
        ++prefix;
    }
    size_t suffix = 0;
    while (suffix < in.lines.size() - prefix && suffix < out.lines.size() - prefix &&
           in.lines[in.lines.size() - 1 - suffix] == out.lines[out.lines.size() - 1 - suffix]) {
        ++suffix;
    }
    const size_t removed = in.lines.size() - prefix - suffix;
    const size_t added = out.lines.size() - prefix - suffix;
    Require(removed <= 1, "a write changed more than one line");
    Require(added <= 2, "a write added more than a section and its key");
    if (removed == 1 && unit == 1) {
        const std::string& old = in.lines[prefix];
        Require(old.find('=') != std::string::npos && SameNoCase(KeyOfLine(old), Trimmed(key)),
                "a write replaced a line that is not the key's");
    }

    // Writing the same again changes nothing.
    Require(WriteSettingString(file, section, key, value) != 0, "a repeated write failed");
    Require(ReadBytes(file) == after, "a repeated write changed the file");
    return 0;
}
