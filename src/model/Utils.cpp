#include "model/Utils.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

std::string GetTempPathStr() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : "/tmp";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return {};
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string GetTempFileNameStr(const std::string& Folder, const std::string& Prefix, std::uint32_t Unique) {
    std::string dir = Folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    const std::string prefix = Utf8Left(Prefix, 3);
    char hex[16];
    if (Unique != 0) {
        std::snprintf(hex, sizeof hex, "%X", Unique);
        return dir + prefix + hex + ".tmp";
    }
    std::random_device rd;
    std::uint32_t n = (static_cast<std::uint32_t>(rd()) ^ static_cast<std::uint32_t>(::getpid())) & 0xFFFF;
    for (int attempt = 0; attempt < 0x10000; ++attempt, n = (n + 1) & 0xFFFF) {
        if (n == 0)
            continue;
        std::snprintf(hex, sizeof hex, "%X", n);
        const std::string name = dir + prefix + hex + ".tmp";
        const int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            return {};
    }
    return {};
}

std::int32_t SafeStrToInt(const std::string& Text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }
    if (i >= Text.size())
        return -1;
    long long value = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
        if (value > 2147483648LL)
            return -1;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return -1;
    return static_cast<std::int32_t>(value);
}

void GetNextToken(std::string& S, const std::string& Delim, std::string& Token) {
    Token.clear();
    if (S.empty() || Delim.empty())
        return;
    const auto p = S.find(Delim);
    if (p == std::string::npos)
        return;
    Token = S.substr(0, p);
    // One character of the delimiter goes with the token: with a multi-byte first character (UTF-8)
    // that character is removed whole.
    std::size_t len = 1;
    const unsigned char lead = static_cast<unsigned char>(S[p]);
    if (lead >= 0xF0)
        len = 4;
    else if (lead >= 0xE0)
        len = 3;
    else if (lead >= 0xC0)
        len = 2;
    S.erase(0, std::min(S.size(), p + len));
}

std::int64_t FileSizeByName(const std::string& FileName) {
    struct stat st {};
    if (FileName.empty() || ::stat(FileName.c_str(), &st) != 0)
        return -1;
    if (S_ISDIR(st.st_mode))
        return 0;
    return static_cast<std::int64_t>(st.st_size);
}

std::size_t Utf8Length(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

std::string Utf8Left(const std::string& s, std::size_t n) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (count == n)
                return s.substr(0, i);
            ++count;
        }
    }
    return s;
}

std::string GermanNumber(long long n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ".");
    return digits;
}
