#include "model/StringList.h"

#include <stdexcept>

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    // Names are mostly looked up as they were written: equal bytes need no folding.
    if (a == b)
        return true;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string LowerCaseAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::size_t TStringList::TNameHash::operator()(const std::string& name) const {
    std::size_t h = 14695981039346656037ull;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

bool TStringList::TNameEqual::operator()(const std::string& a, const std::string& b) const {
    return SameTextAscii(a, b);
}

// Records line `index` under its name unless an earlier line holds that name already; a line without
// "=" has no name to find.
void TStringList::IndexLine(int index) const {
    const std::string& line = lines[static_cast<std::size_t>(index)];
    const auto eq = line.find('=');
    if (eq != std::string::npos)
        nameIndex.try_emplace(line.substr(0, eq), index);
}

int TStringList::Add(const std::string& line) {
    return Add(std::string(line));
}

int TStringList::Add(std::string&& line) {
    lines.push_back(std::move(line));
    if (indexed)
        IndexLine(Count() - 1);
    return Count() - 1;
}

void TStringList::AppendToLine(int index, const std::string& text) {
    std::string& line = lines.at(static_cast<std::size_t>(index));
    // Only a line without "=" can get a name from the text.
    if (line.find('=') == std::string::npos)
        DropIndex();
    line += text;
}

void TStringList::Insert(int index, const std::string& line) {
    if (index < 0 || index > Count())
        throw std::out_of_range("TStringList::Insert");
    lines.insert(lines.begin() + index, line);
    DropIndex();
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("TStringList::Delete");
    lines.erase(lines.begin() + index);
    DropIndex();
}

int TStringList::IndexOf(const std::string& line) const {
    for (int i = 0; i < Count(); ++i)
        if (lines[static_cast<std::size_t>(i)] == line)
            return i;
    return -1;
}

static std::string NameOf(const std::string& line) {
    const auto eq = line.find('=');
    return eq == std::string::npos ? line : line.substr(0, eq);
}

int TStringList::IndexOfName(const std::string& name) const {
    if (Count() >= kIndexFrom) {
        if (!indexed) {
            nameIndex.reserve(lines.size());
            for (int i = 0; i < Count(); ++i)
                IndexLine(i);
            indexed = true;
        }
        const auto found = nameIndex.find(name);
        return found == nameIndex.end() ? -1 : found->second;
    }
    // The name is compared where it stands in the line: a line longer than the name must have its "="
    // right after it, and no "=" may come earlier (the name is the text before the first one).
    const std::size_t n = name.size();
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = lines[static_cast<std::size_t>(i)];
        if (line.size() <= n || line[n] != '=')
            continue;
        const std::string_view head(line.data(), n);
        if (head.find('=') == std::string_view::npos && SameTextAscii(head, name))
            return i;
    }
    return -1;
}

std::string TStringList::Names(int index) const {
    return NameOf((*this)[index]);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = (*this)[index];
    const auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

bool TStringList::HasValue(int index) const {
    const std::string& line = (*this)[index];
    const auto eq = line.find('=');
    return eq != std::string::npos && eq + 1 < line.size();
}

std::string TStringList::Value(const std::string& name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    // Built apart: name or value may be a line of this list.
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append(1, '=').append(value);
    if (i < 0)
        Add(std::move(line));
    else
        lines[static_cast<std::size_t>(i)] = std::move(line);
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += '\n';
    }
    return out;
}
