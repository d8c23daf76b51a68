#pragma once
// A list of text lines, most of them "name=value" lines, with the lookups the system's lists need:
// names are compared ignoring ASCII letter case, writing an empty value removes the line, lines keep
// their insertion order.
#include <cstddef>
#include <string>
#include <vector>

class TStringList {
public:
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(lines.size()); }
    bool Empty() const { return lines.empty(); }
    void Clear() { lines.clear(); }

    // Appends a line as it is and gives its index.
    int Add(const std::string& line);
    void Insert(int index, const std::string& line);
    void Delete(int index);

    const std::string& operator[](int index) const { return lines.at(static_cast<std::size_t>(index)); }
    std::string& operator[](int index) { return lines.at(static_cast<std::size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines; }

    // Index of the first line that equals the text exactly; -1 when none.
    int IndexOf(const std::string& line) const;
    // Index of the first line whose name (text before the first "=") equals `name` ignoring case; -1 when
    // none.
    int IndexOfName(const std::string& name) const;

    // The name of line `index`: the text before its first "=" (the whole line when it has none).
    std::string Names(int index) const;
    // The value of line `index`: the text after its first "=" (empty when it has none).
    std::string ValueFromIndex(int index) const;

    // The value of the first line named `name` (ignoring case); empty when there is none.
    std::string Value(const std::string& name) const;
    // Writes `value` into the first line named `name`; appends "name=value" when there is none.
    // An empty value removes that line instead.
    void SetValue(const std::string& name, const std::string& value);

    // All lines, each followed by a line break.
    std::string Text() const;

private:
    std::vector<std::string> lines;
};

// True when the two texts are equal ignoring ASCII letter case.
bool SameTextAscii(const std::string& a, const std::string& b);
std::string LowerCaseAscii(std::string s);
