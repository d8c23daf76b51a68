#pragma once
// A list of text lines, most of them "name=value" lines, with the lookups the system's lists need:
// names are compared ignoring ASCII letter case, writing an empty value removes the line, lines keep
// their insertion order.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TStringList {
public:
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(lines.size()); }
    bool Empty() const { return lines.empty(); }
    void Clear() {
        lines.clear();
        DropIndex();
    }

    // Appends a line as it is and gives its index.
    int Add(const std::string& line);
    int Add(std::string&& line);
    void Insert(int index, const std::string& line);
    void Delete(int index);

    const std::string& operator[](int index) const { return lines.at(static_cast<std::size_t>(index)); }
    // A line to edit in place: the name index is dropped, so hold the reference only for the edit.
    std::string& operator[](int index) {
        DropIndex();
        return lines.at(static_cast<std::size_t>(index));
    }
    // Appends `text` to line `index`; the name lookups stay as fast as they were.
    void AppendToLine(int index, const std::string& text);
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
    // Whether line `index` has a value, without copying it (a value may be long: the joined repeats of a
    // property).
    bool HasValue(int index) const;

    // The value of the first line named `name` (ignoring case); empty when there is none.
    std::string Value(const std::string& name) const;
    // Writes `value` into the first line named `name`; appends "name=value" when there is none.
    // An empty value removes that line instead.
    void SetValue(const std::string& name, const std::string& value);

    // All lines, each followed by a line break.
    std::string Text() const;

private:
    // Case-insensitive (ASCII) hashing and comparison of names.
    struct TNameHash {
        std::size_t operator()(const std::string& name) const;
    };
    struct TNameEqual {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    // Long lists find a name through an index of the first line of each name, so that filling a list
    // line by line with a lookup for each costs the same per line however long it grows. It is built at
    // the first lookup of a long list, kept by appends and in-place value changes, and dropped by the
    // edits that move lines or may rename them.
    static constexpr int kIndexFrom = 32;
    void DropIndex() {
        if (indexed) {
            nameIndex.clear();
            indexed = false;
        }
    }
    void IndexLine(int index) const;

    std::vector<std::string> lines;
    mutable std::unordered_map<std::string, int, TNameHash, TNameEqual> nameIndex;
    mutable bool indexed = false;
};

// True when the two texts are equal ignoring ASCII letter case.
bool SameTextAscii(std::string_view a, std::string_view b);
std::string LowerCaseAscii(std::string s);
