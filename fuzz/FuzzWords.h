#pragma once

// Fuzz bytes as a list of command-line words: split at every NUL byte, as the words of argv
// arrive, with at most kMaxWords of them (a longer list finds nothing a shorter one does not).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumetra::fuzz {

inline constexpr std::size_t kMaxWords = 64;

inline std::vector<std::string> splitWords(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size && words.size() <= kMaxWords; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    if (words.size() > kMaxWords) words.resize(kMaxWords);
    return words;
}

// argv for `words` after a program name: pointers into the strings, ending in a null pointer.
inline std::vector<char*> argvOf(std::string& program, std::vector<std::string>& words) {
    std::vector<char*> argv{program.data()};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

}  // namespace lumetra::fuzz
