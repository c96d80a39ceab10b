#include "app/IniText.h"

#include "app/TextCase.h"
#include "app/Utf16.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr const char* kBlanks = " \t\v\f";

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
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

// A name or value is one line: whatever follows a line break would otherwise become lines of
// their own (a forged key or section, even).
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
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
    if (text.find("\r\n") != std::string::npos) ini.newline_ = "\r\n";
    ini.endsWithNewline_ = text.empty() || text.back() == '\n';
    size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ini.lines_.push_back({std::move(line)});
        start = end + 1;
    }
    return ini;
}

std::string IniText::Encode() const {
    std::string text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i].text;
        if (i + 1 < lines_.size() || endsWithNewline_) text += newline_;
    }
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

void IniText::Set(const std::string& sectionName, const std::string& keyName,
                  const std::string& value) {
    // Only the first line is stored: what a later read would have returned anyway.
    const std::string section = Trim(FirstLine(sectionName));
    const std::string key = Trim(FirstLine(keyName));
    const std::string stored = FirstLine(value);
    const std::string line = key + "=" + stored;
    const auto s = FindSection(section);
    if (!s) {
        endsWithNewline_ = true;
        // A blank line between sections, as the profile functions lay them out.
        if (!lines_.empty() && !Trim(lines_.back().text).empty()) lines_.push_back({""});
        lines_.push_back({"[" + section + "]"});
        lines_.push_back({line});
        return;
    }
    if (const auto k = FindKey(*s, key)) {
        // Keep the key's own spelling; only the value changes.
        const std::string& old = lines_[*k].text;
        lines_[*k].text = Trim(old.substr(0, old.find('='))) + "=" + stored;
        return;
    }
    // After the section's last non-blank line, so blank separators stay between sections.
    size_t at = SectionEnd(*s);
    while (at > *s + 1 && Trim(lines_[at - 1].text).empty()) --at;
    if (at == lines_.size()) endsWithNewline_ = true;
    lines_.insert(lines_.begin() + static_cast<long>(at), {line});
}
