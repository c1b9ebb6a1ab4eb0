// The text rules of private-profile files (see profile_internal.h); nothing here touches
// the file system.
#include "platform/profile/profile_internal.h"

#include <algorithm>
#include <cstdint>
#include <vector>

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

// What names and values are trimmed of.
constexpr std::string_view BLANKS = " \t\r";

// Blanks, tabs and carriage returns removed from both ends.
std::string_view trimBlanks(std::string_view s) {
    size_t begin = s.find_first_not_of(BLANKS);
    if (begin == std::string_view::npos) {
        return std::string_view();
    }
    return s.substr(begin, s.find_last_not_of(BLANKS) - begin + 1);
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

// Sets kind, name and valueBegin of a line from its content.
void classify(std::string_view text, Line& line) {
    std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    size_t first = content.find_first_not_of(BLANKS);
    if (first == std::string_view::npos || content[first] == ';' || content[first] == '#') {
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
    size_t value = content.find_first_not_of(BLANKS, equals + 1);
    line.afterEquals = line.begin + equals + 1;
    line.valueBegin = value != std::string_view::npos ? line.begin + value : line.afterEquals;
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
    bool keyFound = false;
    Line key;
    Line lastContent; // the section's last key line, else its header
};

// Finds the first section named section and the first key line named key inside it;
// stops at the key or at the next section header.
Match locate(std::string_view text, std::string_view section, std::string_view key) {
    Match m;
    for (size_t pos = 0; pos < text.size();) {
        Line line = lineAt(text, pos);
        if (line.kind == Kind::Section) {
            if (m.sectionFound) {
                return m;
            }
            m.sectionFound = equalNoCase(line.name, section);
            m.lastContent = line;
        } else if (m.sectionFound && line.kind == Kind::Key) {
            if (equalNoCase(line.name, key)) {
                m.keyFound = true;
                m.key = line;
                return m;
            }
            m.lastContent = line;
        }
        pos = line.end;
    }
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

// The UTF-8 byte-order mark that some editors put at the start of a file, or an empty view.
std::string_view markOf(std::string_view text) {
    return text.substr(0, text.starts_with("\xEF\xBB\xBF") ? 3 : 0);
}

} // namespace

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

void forEachName(std::string_view text,
                 void (*visit)(std::string_view section, std::string_view key, int line,
                               void* context),
                 void* context) {
    text.remove_prefix(markOf(text).size());
    std::string_view section;
    int number = 0;
    for (size_t pos = 0; pos < text.size();) {
        Line line = lineAt(text, pos);
        ++number;
        if (line.kind == Kind::Section) {
            section = line.name;
            visit(section, std::string_view(), number, context);
        } else if (line.kind == Kind::Key) {
            visit(section, line.name, number, context);
        }
        pos = line.end;
    }
}

std::string keyNames(std::string_view text, std::string_view section) {
    text.remove_prefix(markOf(text).size());
    std::string names;
    std::vector<std::string_view> seen;
    bool inSection = false;
    bool found = false;
    for (size_t pos = 0; pos < text.size();) {
        Line line = lineAt(text, pos);
        if (line.kind == Kind::Section) {
            if (found) {
                break;
            }
            inSection = found = equalNoCase(line.name, trimBlanks(section));
        } else if (inSection && line.kind == Kind::Key &&
                   std::none_of(seen.begin(), seen.end(),
                                [&](std::string_view s) { return equalNoCase(s, line.name); })) {
            seen.push_back(line.name);
            names.append(line.name);
            names.push_back('\0');
        }
        pos = line.end;
    }
    return names;
}

UINT parseLeadingInt(std::string_view value) {
    size_t i = std::min(value.find_first_not_of(" \t"), value.size());
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
    const size_t mark = markOf(text).size();
    std::string out(text.substr(0, mark));
    text.remove_prefix(mark);
    section = trimBlanks(section);
    key = trimBlanks(key);
    Match m = locate(text, section, key);
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
    if (!text.empty() && text.back() != '\n') {
        out.append(ending);
    }
    if (!text.empty() && !lastLineIsBlank(std::string_view(out).substr(mark))) {
        out.append(ending);
    }
    out.append("[").append(section).append("]").append(ending);
    out.append(key).append("=").append(value).append(ending);
    return out;
}

} // namespace platform::profile
