#pragma once
// A set of identifiers that may answer "maybe" for one it does not hold, never "no" for one it holds (a Bloom
// filter of fixed size): it tells a replace or delete whether the file being read may have staged rows of
// its object, in memory that stays the same however many objects a file holds. With a few hundred thousand
// identifiers it is wrong about one in a million others; an extract of millions makes it answer "maybe"
// more often, which costs only a statement that finds nothing.
#include <cstdint>
#include <string_view>
#include <vector>

class TIdFilter {
public:
    void Add(std::string_view id);
    bool MayHold(std::string_view id) const;
    void Clear();

private:
    static constexpr std::size_t kBits = std::size_t{1} << 23; // 1 MiB
    static constexpr int kProbes = 4;
    std::vector<std::uint64_t> words; // allocated at the first Add
};
