#pragma once
// Hash of the tree's position keys. A key is 84 characters of '0' and '1', so it is read eight
// bytes at a time; the standard string hash costs several times as much at this length.
// Being noexcept and cheap, the map recomputes it instead of storing it in every entry.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tarnwick {

struct KeyHash {
    std::size_t operator()(std::string_view key) const noexcept {
        constexpr std::uint64_t multiplier = 0x9e3779b97f4a7c15ULL;
        std::uint64_t h = key.size() * multiplier;
        std::size_t at = 0;
        for (; at + 8 <= key.size(); at += 8) {
            std::uint64_t word;
            std::memcpy(&word, key.data() + at, 8);
            h = (h ^ word) * multiplier;
            h ^= h >> 29;
        }
        std::uint64_t tail = 0;
        std::memcpy(&tail, key.data() + at, key.size() - at);
        h = (h ^ tail) * multiplier;
        // Final mix, so that every input bit reaches the low bits the buckets use.
        h ^= h >> 32;
        h *= 0xd6e8feb86659fd93ULL;
        h ^= h >> 32;
        return static_cast<std::size_t>(h);
    }
    std::size_t operator()(const std::string& key) const noexcept {
        return (*this)(std::string_view(key));
    }
};

} // namespace tarnwick
