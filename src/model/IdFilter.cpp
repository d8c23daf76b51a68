#include "model/IdFilter.h"

#include <algorithm>

namespace {

// Two independent 64-bit hashes (FNV-1a with two offsets, mixed) whose combinations give the probes.
std::uint64_t Mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
}

std::uint64_t Hash(std::string_view s, std::uint64_t seed) {
    std::uint64_t h = seed;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ULL;
    }
    return Mix(h);
}

} // namespace

void TIdFilter::Add(std::string_view id) {
    if (words.empty())
        words.assign(kBits / 64, 0);
    const std::uint64_t a = Hash(id, 0xcbf29ce484222325ULL), b = Hash(id, 0x84222325cbf29ce4ULL) | 1;
    for (int i = 0; i < kProbes; ++i) {
        const std::uint64_t bit = (a + static_cast<std::uint64_t>(i) * b) % kBits;
        words[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
}

bool TIdFilter::MayHold(std::string_view id) const {
    if (words.empty())
        return false;
    const std::uint64_t a = Hash(id, 0xcbf29ce484222325ULL), b = Hash(id, 0x84222325cbf29ce4ULL) | 1;
    for (int i = 0; i < kProbes; ++i) {
        const std::uint64_t bit = (a + static_cast<std::uint64_t>(i) * b) % kBits;
        if (!(words[bit / 64] & (std::uint64_t{1} << (bit % 64))))
            return false;
    }
    return true;
}

void TIdFilter::Clear() {
    std::fill(words.begin(), words.end(), 0);
}
