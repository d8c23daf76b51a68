#pragma once
// Kelpora.ini: a plain INI file of "[Section]" headers and "key=value" lines, read and written the way
// Windows profile files behave: sections and keys are found ignoring letter case, the first of several
// equal names wins, a value read loses its leading and trailing blanks and tabs but is otherwise taken as
// written (no quoting, no escapes, no lists), and writing a key rewrites only that line, so every other
// section, key, comment and blank line stays as it was.
#include <stdexcept>
#include <string>
#include <vector>

class EIniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    // Reads the file. A missing file is an empty one; a file that exists but cannot be read throws
    // EIniFileError.
    explicit TIniFile(std::string fileName);

    const std::string& FileName() const { return fileName; }

    // The value of `key` in `section` without leading and trailing blanks ("Server = host " gives
    // "host"), or `defaultValue` when the section or the key is missing. A key that is present with
    // nothing but blanks after "=" gives the empty text.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;

    // Sets the value in memory: the existing line of the key is rewritten (keeping the key's spelling),
    // a new key goes after the last entry of its section, a new section goes to the end of the file.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // Writes the file to disk (created when missing); throws EIniFileError when it cannot be written.
    void UpdateFile() const;

private:
    // Index of the header line of the first section named `section`; -1 when there is none.
    int FindSection(const std::string& section) const;
    // One past the last line that belongs to the section whose header is at `header`.
    int SectionEnd(int header) const;
    // Index of the line of `key` in the section whose header is at `header`; -1 when there is none.
    int FindKey(int header, const std::string& key) const;

    std::string fileName;
    std::vector<std::string> lines;
    bool crlf = false; // keep the file's own line ends
};
