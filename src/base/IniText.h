#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Size limit of a value as the profile functions deliver it (a 4095-character buffer).
inline constexpr size_t kMaxSettingChars = 4094;

// Cuts a UTF-8 value to kMaxSettingChars characters (code points), never inside a character.
std::string CutSettingValue(const std::string& value);

// The decimal number at the start of `text` (after blanks, with an optional sign); 0 if none.
int LeadingDecimal(const std::string& text);

// An INI file held as its lines, so that a write changes one line and keeps everything else
// (comments, blank lines, junk, order, line endings, encoding) as it was.
class IniText {
  public:
    enum class Encoding { Utf8, Utf8Bom, Utf16LeBom };

    static IniText Decode(const std::string& bytes);
    std::string Encode() const;

    // First matching section, then first matching key in it; names compare ASCII-case-free.
    std::optional<std::string> Find(const std::string& section, const std::string& key) const;

    // Every key of the first matching section with the value Find gives it, in file order
    // (a repeated key name appears once, with its first value).
    std::vector<std::pair<std::string, std::string>> Entries(const std::string& section) const;

    // Replaces the first matching key's value in place, or adds the key at the end of the first
    // matching section, or adds the section at the end of the file. Only the value's first line
    // is stored. Changes nothing and returns false when the section or key is not a name that
    // reads back as itself (see IsStorableName).
    bool Set(const std::string& section, const std::string& key, const std::string& value);

    // True for a section or key name that a later read finds again as the same name: not
    // empty, no line break, no blank at either end and, for keys, no "=" and no leading "["
    // (such a line would read as another key or as a section header).
    static bool IsStorableName(const std::string& name, bool isKey);

    Encoding encoding() const { return encoding_; }

  private:
    struct Line {
        std::string text;    // without its line ending
        std::string ending;  // "\r\n", "\n", "\r" or, on a last line, nothing
    };
    void InsertLine(size_t at, std::string text);
    std::optional<size_t> FindSection(const std::string& section) const;
    std::optional<size_t> FindKey(size_t sectionLine, const std::string& key) const;
    size_t SectionEnd(size_t sectionLine) const;

    std::vector<Line> lines_;
    std::string newline_ = "\n";  // the file's first line ending, given to added lines
    Encoding encoding_ = Encoding::Utf8;
};
