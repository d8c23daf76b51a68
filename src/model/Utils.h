#pragma once
// Small routines the subsystems share. None of them reports an error: failures give neutral results.
#include <cstdint>
#include <string>

// The folder for temporary files, ending with "/"; empty when it cannot be told.
std::string GetTempPathStr();
// A new temporary file in `Folder`, named from at most the first three characters of `Prefix` and a
// hexadecimal number (`Unique`, or one chosen to be unique when it is 0) with the extension ".tmp". With
// `Unique` 0 the file is created empty so the name stays reserved. Empty when the file cannot be made.
std::string GetTempFileNameStr(const std::string& Folder, const std::string& Prefix, std::uint32_t Unique);
// The text as a 32-bit signed integer (optional sign, decimal digits); -1 when it is not one.
std::int32_t SafeStrToInt(const std::string& Text);
// Cuts the text before the first `Delim` off `S` into `Token`, removing one character more from `S`
// than the token (exactly one character of the delimiter, whatever its length).
void GetNextToken(std::string& S, const std::string& Delim, std::string& Token);
// The exact size of a file in bytes; 0 for a folder; -1 when there is no such entry.
std::int64_t FileSizeByName(const std::string& FileName);
// Number of code points of a UTF-8 text, and its first `n` code points.
std::size_t Utf8Length(const std::string& s);
std::string Utf8Left(const std::string& s, std::size_t n);
// A count with "." between groups of three digits, as German texts write it (10000000 as "10.000.000").
std::string GermanNumber(long long n);
