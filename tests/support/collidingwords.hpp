// Test support: words that share one chain of the hash store, found by hashing
// candidates until enough of them meet in a chain.  They share a start of 78
// bytes, past the 64 that one wide load or one cache line holds, so telling
// them apart takes a comparison of whole lines; and they hold no blank, so
// each also stands as a line of a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hash/hash.hpp"

// Six words, in the order of their candidates.
inline const std::vector<std::string> &collidingwords()
{
    static const std::vector<std::string> found = [] {
        const std::size_t wanted = 6;
        const std::string start =
            "every-line-starts-alike-\xe9-every-line-starts-alike-\xe9-every-line-starts-alike-\xe9-";
        auto candidate = [&start](std::size_t i) { return start + std::to_string(i); };
        std::vector<std::uint8_t> counts(HASHSIZE);
        std::vector<std::uint32_t> chains;
        do
            chains.push_back(bitwisehash(candidate(chains.size()).c_str(), HASHSIZE, HASHSEED));
        while (++counts[chains.back()] < wanted);
        std::vector<std::string> words;
        for (std::size_t i = 0; i < chains.size(); ++i)
            if (chains[i] == chains.back())
                words.push_back(candidate(i));
        return words;
    }();
    return found;
}
