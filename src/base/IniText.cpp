#include "base/IniText.h"

#include "base/TextCase.h"
#include "base/TextTrim.h"
#include "base/Utf16.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr const char* kBlanks = " \t\v\f";

std::string Trim(const std::string& s) {
    return TrimmedOf(s, kBlanks);
}

// "[name]" → name. The last "]" closes it, as the profile functions read it; a line with no
// "]" is junk, so a stray "[" cannot swallow the keys that follow it.
std::optional<std::string> SectionName(const std::string& line) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const auto close = t.rfind(']');
    if (close == 0 || close == std::string::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// "key = value" → key; lines without "=" are not key lines.
std::optional<std::string> KeyName(const std::string& line) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    if (SectionName(line)) return std::nullopt;
    return Trim(line.substr(0, eq));
}

// A value is one line: whatever follows a line break would otherwise become lines of its own (a
// forged key or section, even).
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

bool Utf16Keeps(const std::string& text) {
    return Utf16LeToUtf8(Utf8ToUtf16Le(text)) == text;
}

std::string ValueOf(const std::string& line) {
    std::string v = Trim(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

std::string CutSettingValue(const std::string& value) {
    size_t chars = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto byte = static_cast<unsigned char>(value[i]);
        if ((byte & 0xC0) == 0x80) continue;  // continuation byte
        if (chars == kMaxSettingChars) return value.substr(0, i);
        ++chars;
    }
    return value;
}

int LeadingDecimal(const std::string& text) {
    size_t i = text.find_first_not_of(kBlanks);
    if (i == std::string::npos) return 0;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    // The profile functions add up in 32 bits, so larger numbers wrap as they do there.
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

IniText IniText::Decode(const std::string& bytes) {
    IniText ini;
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        ini.encoding_ = Encoding::Utf16LeBom;
        text = Utf16LeToUtf8(bytes.substr(2));
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        ini.encoding_ = Encoding::Utf8Bom;
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    // A line ends at CR LF, LF or a lone CR, as the profile functions read it; each line keeps
    // its own ending so that a rewrite gives back every untouched byte.
    bool sawEnding = false;
    size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find_first_of("\r\n", start);
        Line line;
        if (end == std::string::npos) {
            line.text = text.substr(start);
            start = text.size();
        } else {
            line.text = text.substr(start, end - start);
            const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
            line.ending = text.substr(end, crlf ? 2 : 1);
            start = end + line.ending.size();
            if (!sawEnding) ini.newline_ = line.ending;
            sawEnding = true;
        }
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

std::string IniText::Encode() const {
    std::string text;
    for (const Line& line : lines_) text += line.text + line.ending;
    switch (encoding_) {
        case Encoding::Utf16LeBom:
            return std::string("\xFF\xFE", 2) + Utf8ToUtf16Le(text);
        case Encoding::Utf8Bom:
            return "\xEF\xBB\xBF" + text;
        case Encoding::Utf8:
            break;
    }
    return text;
}

std::optional<size_t> IniText::FindSection(const std::string& section) const {
    const std::string wanted = Trim(section);
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].text);
        if (name && EqualsNoCase(*name, wanted)) return i;
    }
    return std::nullopt;
}

size_t IniText::SectionEnd(size_t sectionLine) const {
    size_t i = sectionLine + 1;
    while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
    return i;
}

std::optional<size_t> IniText::FindKey(size_t sectionLine, const std::string& key) const {
    const std::string wanted = Trim(key);
    const size_t end = SectionEnd(sectionLine);
    for (size_t i = sectionLine + 1; i < end; ++i) {
        const auto name = KeyName(lines_[i].text);
        if (name && EqualsNoCase(*name, wanted)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniText::Find(const std::string& section, const std::string& key) const {
    const auto s = FindSection(section);
    if (!s) return std::nullopt;
    const auto k = FindKey(*s, key);
    if (!k) return std::nullopt;
    return ValueOf(lines_[*k].text);
}

std::vector<std::pair<std::string, std::string>> IniText::Entries(
    const std::string& section) const {
    std::vector<std::pair<std::string, std::string>> entries;
    const auto s = FindSection(section);
    if (!s) return entries;
    const size_t end = SectionEnd(*s);
    for (size_t i = *s + 1; i < end; ++i) {
        const auto name = KeyName(lines_[i].text);
        if (!name) continue;
        const bool seen = std::any_of(entries.begin(), entries.end(),
                                      [&](const auto& e) { return EqualsNoCase(e.first, *name); });
        if (!seen) entries.emplace_back(*name, ValueOf(lines_[i].text));
    }
    return entries;
}

bool IniText::IsStorableName(const std::string& name, bool isKey) {
    if (name.empty() || name.find_first_of("\r\n") != std::string::npos) return false;
    if (Trim(name) != name) return false;
    if (isKey && (name.front() == '[' || name.find('=') != std::string::npos)) return false;
    return true;
}

void IniText::InsertLine(size_t at, std::string text) {
    // The line before an addition at the end may have had no ending of its own.
    if (at == lines_.size() && at > 0 && lines_[at - 1].ending.empty()) {
        lines_[at - 1].ending = newline_;
    }
    // A bare CR before an empty LF line would read back as one CR LF line, and that blank line
    // would be gone.
    const bool joinsNext = newline_ == "\r" && at < lines_.size() && lines_[at].text.empty() &&
                           lines_[at].ending == "\n";
    lines_.insert(lines_.begin() + static_cast<long>(at),
                  Line{std::move(text), joinsNext ? "\r\n" : newline_});
}

bool IniText::Set(const std::string& section, const std::string& key, const std::string& value) {
    if (!IsStorableName(section, false) || !IsStorableName(key, true)) return false;
    // A UTF-16 file holds names as text only: bytes that are not UTF-8 would be stored as
    // replacement characters, the name never found again, and every write add another line.
    if (encoding_ == Encoding::Utf16LeBom && (!Utf16Keeps(section) || !Utf16Keeps(key))) {
        return false;
    }
    // Only the first line is stored: what a later read would have returned anyway.
    const std::string stored = FirstLine(value);
    const auto s = FindSection(section);
    if (!s) {
        InsertLine(lines_.size(), "[" + section + "]");
        InsertLine(lines_.size(), key + "=" + stored);
        return true;
    }
    if (const auto k = FindKey(*s, key)) {
        // Keep the key's own spelling and the line's ending; only the value changes.
        std::string& old = lines_[*k].text;
        old = Trim(old.substr(0, old.find('='))) + "=" + stored;
        return true;
    }
    // After the section's last non-blank line, so blank separators stay between sections.
    size_t at = SectionEnd(*s);
    while (at > *s + 1 && Trim(lines_[at - 1].text).empty()) --at;
    InsertLine(at, key + "=" + stored);
    return true;
}
