#include "app/IniText.h"

#include "app/TextCase.h"
#include "app/Utf16.h"

namespace {

constexpr const char* kBlanks = " \t\v\f";

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

// "[name]" (closing bracket optional, as the profile functions read it) → name.
std::optional<std::string> SectionName(const std::string& line) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] != '[') return std::nullopt;
    const auto close = t.find(']');
    return Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// "key = value" → key; lines without "=" are not key lines.
std::optional<std::string> KeyName(const std::string& line) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') return std::nullopt;
    return Trim(line.substr(0, eq));
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
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0xFFFFFFFFLL) value = 0xFFFFFFFFLL + 1;  // keep growing bounded
    }
    // The profile functions hand back a 32-bit value; larger numbers wrap as they do there.
    const auto wrapped = static_cast<unsigned int>(negative ? -value : value);
    return static_cast<int>(wrapped);
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
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i].text);
        if (name && EqualsNoCase(*name, section)) return i;
    }
    return std::nullopt;
}

size_t IniText::SectionEnd(size_t sectionLine) const {
    size_t i = sectionLine + 1;
    while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
    return i;
}

std::optional<size_t> IniText::FindKey(size_t sectionLine, const std::string& key) const {
    const size_t end = SectionEnd(sectionLine);
    for (size_t i = sectionLine + 1; i < end; ++i) {
        const auto name = KeyName(lines_[i].text);
        if (name && EqualsNoCase(*name, key)) return i;
    }
    return std::nullopt;
}

std::optional<std::string> IniText::Find(const std::string& section,
                                         const std::string& key) const {
    const auto s = FindSection(section);
    if (!s) return std::nullopt;
    const auto k = FindKey(*s, key);
    if (!k) return std::nullopt;
    return ValueOf(lines_[*k].text);
}

void IniText::Set(const std::string& section, const std::string& key, const std::string& value) {
    // A line break would end the value and start a line of its own (a new key, even), so only
    // the first line is stored: what a later read would have returned anyway.
    const std::string stored = value.substr(0, value.find_first_of("\r\n"));
    const std::string line = key + "=" + stored;
    const auto s = FindSection(section);
    if (!s) {
        endsWithNewline_ = true;
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
