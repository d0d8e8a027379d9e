#include "image/Temporaries.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTemporaryMark = ".partial-";
constexpr std::size_t kRandomLetters = 6;
constexpr std::string_view kLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// Longest file name, in bytes, of the file systems the programs write to (Linux NAME_MAX).
constexpr std::size_t kMaxNameBytes = 255;
// Most digits of a process id (Linux allows up to 2^22).
constexpr std::size_t kMaxIdDigits = 7;

// The process id in a temporary's name, or 0 when the name does not have the form.
pid_t makerOf(std::string_view name) {
    const std::size_t mark = name.rfind(kTemporaryMark);
    if (mark == std::string_view::npos) return 0;
    const std::string_view tail = name.substr(mark + kTemporaryMark.size());
    const std::size_t dash = tail.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > kMaxIdDigits ||
        tail.size() != dash + 1 + kRandomLetters) {
        return 0;
    }
    const std::string_view letters = tail.substr(dash + 1);
    if (!std::all_of(letters.begin(), letters.end(),
                     [](char c) { return kLetters.find(c) != std::string_view::npos; })) {
        return 0;
    }
    pid_t id = 0;
    const auto [end, error] = std::from_chars(tail.data(), tail.data() + dash, id);
    if (error != std::errc() || end != tail.data() + dash || id <= 0) return 0;
    return id;
}

// True while a process of that id runs (or exists and is not ours to signal).
bool running(pid_t id) {
    return ::kill(id, 0) == 0 || errno != ESRCH;
}

}  // namespace

std::string temporaryName(const std::string& target, std::random_device& random) {
    const std::string tail = std::string(kTemporaryMark) + std::to_string(::getpid()) + "-";
    const std::size_t slash = target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = kMaxNameBytes - tail.size() - kRandomLetters;
    std::string name = target.substr(0, nameStart + std::min(target.size() - nameStart, room));
    name += tail;
    std::uniform_int_distribution<std::size_t> letter(0, kLetters.size() - 1);
    for (std::size_t i = 0; i < kRandomLetters; ++i) name += kLetters[letter(random)];
    return name;
}

std::vector<fs::path> removeAbandonedTemporaries(const fs::path& folder,
                                                 fs::file_time_type before) {
    std::vector<fs::path> removed;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return removed;
    for (const fs::directory_entry& entry : entries) {
        const pid_t maker = makerOf(entry.path().filename().native());
        if (maker == 0 || maker == ::getpid() || running(maker)) continue;
        // The programs never make links: a link of that name is someone else's.
        if (entry.is_symlink(error) || error) continue;
        const fs::file_time_type changed = fs::last_write_time(entry.path(), error);
        if (error || changed >= before) continue;
        if (fs::remove_all(entry.path(), error) > 0 && !error) removed.push_back(entry.path());
    }
    return removed;
}

}  // namespace lumetra
