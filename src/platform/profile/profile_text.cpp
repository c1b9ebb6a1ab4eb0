#include "platform/profile/profile_text.h"

#include <cstdint>

namespace platform::profile {

namespace {

enum class Kind { Other, Section, Key };

// One line of the text, as offsets into it. Names point into the text.
struct Line {
    size_t begin = 0;      // first byte of the line
    size_t contentEnd = 0; // end of the content: before "\r\n", "\n" or the end of the text
    size_t end = 0;        // after the line ending
    Kind kind = Kind::Other;
    std::string_view name;  // section or key name, trimmed
    size_t afterEquals = 0; // key lines: the byte after the first '='
    size_t valueBegin = 0;  // key lines: first non-blank byte after '=' (or afterEquals)
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Sets kind, name and valueBegin of a line from its content.
void classify(std::string_view text, Line& line) {
    std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    size_t first = 0;
    while (first < content.size() && isBlank(content[first])) {
        ++first;
    }
    if (first == content.size() || content[first] == ';' || content[first] == '#') {
        return;
    }
    if (content[first] == '[') {
        size_t close = content.find(']', first + 1);
        if (close != std::string_view::npos) {
            line.kind = Kind::Section;
            line.name = trimBlanks(content.substr(first + 1, close - first - 1));
            return;
        }
    }
    size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    std::string_view name = trimBlanks(content.substr(0, equals));
    if (name.empty()) {
        return;
    }
    line.kind = Kind::Key;
    line.name = name;
    size_t value = equals + 1;
    while (value < content.size() && isBlank(content[value])) {
        ++value;
    }
    line.afterEquals = line.begin + equals + 1;
    line.valueBegin = value < content.size() ? line.begin + value : line.afterEquals;
}

// The line that starts at pos (pos < text.size()).
Line lineAt(std::string_view text, size_t pos) {
    Line line;
    line.begin = pos;
    size_t newline = text.find('\n', pos);
    if (newline == std::string_view::npos) {
        line.end = line.contentEnd = text.size();
    } else {
        line.end = newline + 1;
        line.contentEnd = (newline > pos && text[newline - 1] == '\r') ? newline - 1 : newline;
    }
    classify(text, line);
    return line;
}

// Where a section and a key are in the text.
struct Match {
    bool sectionFound = false;
    Line header;
    bool keyFound = false;
    Line key;
    Line lastContent;      // the section's last key line, else its header
    size_t sectionEnd = 0; // start of the next header or end of the text; valid unless keyFound
};

// Finds the first section named section and the first key line named key inside it
// (no key is looked for when key is empty). Stops as soon as the key is found.
Match locate(std::string_view text, std::string_view section, std::string_view key) {
    Match m;
    size_t pos = 0;
    while (pos < text.size()) {
        Line line = lineAt(text, pos);
        if (line.kind == Kind::Section) {
            if (m.sectionFound) {
                m.sectionEnd = line.begin;
                return m;
            }
            if (equalNoCase(line.name, section)) {
                m.sectionFound = true;
                m.header = line;
                m.lastContent = line;
            }
        } else if (m.sectionFound && line.kind == Kind::Key) {
            if (!key.empty() && equalNoCase(line.name, key)) {
                m.keyFound = true;
                m.key = line;
                return m;
            }
            m.lastContent = line;
        }
        pos = line.end;
    }
    m.sectionEnd = text.size();
    return m;
}

// The line ending used first in the text, "\n" when it has none.
std::string_view fileEnding(std::string_view text) {
    size_t newline = text.find('\n');
    if (newline != std::string_view::npos && newline > 0 && text[newline - 1] == '\r') {
        return "\r\n";
    }
    return "\n";
}

// True when the text ends with "\n" and the line before that final ending is blank.
bool lastLineIsBlank(std::string_view text) {
    std::string_view body = text.substr(0, text.size() - 1);
    size_t previous = body.rfind('\n');
    std::string_view last = previous == std::string_view::npos ? body : body.substr(previous + 1);
    return trimBlanks(last).empty();
}

// The UTF-8 byte-order mark that some editors put at the start of a file.
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// The byte-order mark at the start of the text, or an empty view.
std::string_view markOf(std::string_view text) {
    return text.substr(0, text.rfind(BYTE_ORDER_MARK, 0) == 0 ? BYTE_ORDER_MARK.size() : 0);
}

std::string setValueInBody(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value);
std::string deleteKeyInBody(std::string_view text, std::string_view section, std::string_view key);
std::string deleteSectionInBody(std::string_view text, std::string_view section);

} // namespace

std::string_view trimBlanks(std::string_view s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && isBlank(s[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(s[end - 1])) {
        --end;
    }
    return s.substr(begin, end - begin);
}

std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    text.remove_prefix(markOf(text).size());
    Match m = locate(text, trimBlanks(section), trimBlanks(key));
    if (!m.keyFound) {
        return std::nullopt;
    }
    std::string_view value = text.substr(m.key.valueBegin, m.key.contentEnd - m.key.valueBegin);
    size_t nul = value.find('\0');
    if (nul != std::string_view::npos) {
        value = value.substr(0, nul);
    }
    value = trimBlanks(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

UINT parseLeadingInt(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    uint32_t accumulated = 0;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
        accumulated = accumulated * 10u + static_cast<uint32_t>(value[i] - '0');
        ++i;
    }
    return negative ? 0u - accumulated : accumulated;
}

bool isWritableSection(std::string_view section) {
    return section.find_first_of("\r\n]") == std::string_view::npos;
}

bool isWritableKey(std::string_view key) {
    std::string_view name = trimBlanks(key);
    if (name.empty() || name.front() == '[' || name.front() == ';' || name.front() == '#') {
        return false;
    }
    return key.find_first_of("\r\n=") == std::string_view::npos;
}

bool isWritableValue(std::string_view value) {
    return value.find_first_of("\r\n") == std::string_view::npos;
}

std::string setValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value) {
    std::string_view mark = markOf(text);
    return std::string(mark) + setValueInBody(text.substr(mark.size()), section, key, value);
}

std::string deleteKey(std::string_view text, std::string_view section, std::string_view key) {
    std::string_view mark = markOf(text);
    return std::string(mark) + deleteKeyInBody(text.substr(mark.size()), section, key);
}

std::string deleteSection(std::string_view text, std::string_view section) {
    std::string_view mark = markOf(text);
    return std::string(mark) + deleteSectionInBody(text.substr(mark.size()), section);
}

namespace {

// The edits on the text after its byte-order mark; contracts as for the public forms.
std::string setValueInBody(std::string_view text, std::string_view section, std::string_view key,
                           std::string_view value) {
    section = trimBlanks(section);
    key = trimBlanks(key);
    Match m = locate(text, section, key);
    std::string out;
    out.reserve(text.size() + section.size() + key.size() + value.size() + 8);
    if (m.keyFound) {
        // Blanks between '=' and the old value stay, unless the new value is empty.
        out.append(text.substr(0, value.empty() ? m.key.afterEquals : m.key.valueBegin));
        out.append(value);
        out.append(text.substr(m.key.contentEnd));
        return out;
    }
    if (m.sectionFound) {
        const Line& after = m.lastContent;
        std::string_view ending = text.substr(after.contentEnd, after.end - after.contentEnd);
        out.append(text.substr(0, after.end));
        if (ending.empty()) {
            ending = fileEnding(text);
            out.append(ending);
        }
        out.append(key).append("=").append(value).append(ending);
        out.append(text.substr(after.end));
        return out;
    }
    std::string_view ending = fileEnding(text);
    out.append(text);
    if (!out.empty() && out.back() != '\n') {
        out.append(ending);
    }
    if (!out.empty() && !lastLineIsBlank(out)) {
        out.append(ending);
    }
    out.append("[").append(section).append("]").append(ending);
    out.append(key).append("=").append(value).append(ending);
    return out;
}

std::string deleteKeyInBody(std::string_view text, std::string_view section, std::string_view key) {
    Match m = locate(text, trimBlanks(section), trimBlanks(key));
    if (!m.keyFound) {
        return std::string(text);
    }
    std::string out(text.substr(0, m.key.begin));
    out.append(text.substr(m.key.end));
    return out;
}

std::string deleteSectionInBody(std::string_view text, std::string_view section) {
    Match m = locate(text, trimBlanks(section), std::string_view());
    if (!m.sectionFound) {
        return std::string(text);
    }
    std::string out(text.substr(0, m.header.begin));
    out.append(text.substr(m.sectionEnd));
    return out;
}

} // namespace

} // namespace platform::profile
