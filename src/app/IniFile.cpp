#include "app/IniFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "model/StringList.h"

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// The section name of a header line "[name]", or false when the line is no header.
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return false;
    const auto close = t.find(']');
    if (close == std::string::npos)
        return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool IsComment(const std::string& line) {
    const std::string t = Trim(line);
    return t.empty() || t.front() == ';';
}

// Splits an entry line into key and value; false for a line without "=".
bool SplitEntry(const std::string& line, std::string& key, std::string& value) {
    const auto eq = line.find('=');
    if (eq == std::string::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return true;
}

} // namespace

TIniFile::TIniFile(std::string name) : fileName(std::move(name)) {
    std::error_code ec;
    if (!std::filesystem::exists(fileName, ec))
        return;
    if (std::filesystem::is_directory(fileName, ec))
        throw EIniFileError(fileName + ": is a folder, not a file");
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        throw EIniFileError(fileName + ": " + std::strerror(errno));
    std::stringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        throw EIniFileError(fileName + ": read error");
    std::string text = buffer.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) // a UTF-8 byte order mark is no part of the first line
        text.erase(0, 3);
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (lines.empty())
                crlf = true;
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
}

int TIniFile::FindSection(const std::string& section) const {
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (SectionName(lines[i], name) && SameTextAscii(name, section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::SectionEnd(int header) const {
    std::string name;
    std::size_t i = static_cast<std::size_t>(header) + 1;
    while (i < lines.size() && !SectionName(lines[i], name))
        ++i;
    return static_cast<int>(i);
}

int TIniFile::FindKey(int header, const std::string& key) const {
    const int end = SectionEnd(header);
    std::string k, v;
    for (int i = header + 1; i < end; ++i) {
        const auto& line = lines[static_cast<std::size_t>(i)];
        if (!IsComment(line) && SplitEntry(line, k, v) && SameTextAscii(k, key))
            return i;
    }
    return -1;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const int header = FindSection(section);
    if (header < 0)
        return defaultValue;
    const int i = FindKey(header, key);
    if (i < 0)
        return defaultValue;
    std::string k, v;
    SplitEntry(lines[static_cast<std::size_t>(i)], k, v);
    // As the profile functions do: "Server = 127.0.0.1" means "127.0.0.1", a hand-edited file's
    // blanks around the "=" are no part of the value.
    return Trim(v);
}

bool TIniFile::SectionExists(const std::string& section) const {
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    const int header = FindSection(section);
    return header >= 0 && FindKey(header, key) >= 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    int header = FindSection(section);
    if (header < 0) {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.emplace_back();
        lines.push_back("[" + section + "]");
        lines.push_back(key + "=" + value);
        return;
    }
    const int i = FindKey(header, key);
    if (i >= 0) {
        auto& line = lines[static_cast<std::size_t>(i)];
        line = line.substr(0, line.find('=') + 1) + value;
        return;
    }
    // After the section's last non-blank line, so the blank line before the next section stays.
    int at = SectionEnd(header);
    while (at - 1 > header && Trim(lines[static_cast<std::size_t>(at - 1)]).empty())
        --at;
    lines.insert(lines.begin() + at, key + "=" + value);
}

void TIniFile::UpdateFile() const {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EIniFileError(fileName + ": " + std::strerror(errno));
    const char* eol = crlf ? "\r\n" : "\n";
    for (const auto& line : lines)
        out << line << eol;
    out.flush();
    if (!out)
        throw EIniFileError(fileName + ": write error");
}
