#include "cli/ReportFolder.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "image/Temporaries.h"

namespace lumetra {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPictureSuffixes[] = {kReportImageSuffix, kReportHeatMapSuffix};
constexpr std::string_view kPageName = "index.html";
constexpr std::string_view kOriginalName = "original.png";
// Folders tried before giving up when each name is taken.
constexpr int kNameAttempts = 100;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string quoted(const fs::path& path) {
    return "\"" + path.string() + "\"";
}

// Why the report may not replace `target` as it is now; empty when it may (it does not exist,
// or holds nothing but an earlier report's files, none of them an input).
std::string whyNotReplaceable(const fs::path& target, const InputFiles& inputs) {
    const std::string refusal = "not writing the report into " + quoted(target) + ": ";
    std::error_code error;
    const fs::file_status status = fs::symlink_status(target, error);
    if (status.type() == fs::file_type::not_found) return {};
    if (status.type() == fs::file_type::symlink) return refusal + "it is a symbolic link";
    if (status.type() != fs::file_type::directory) {
        return "cannot make the folder " + quoted(target) + ": a file of that name is in the way";
    }
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(target, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(*it);
    }
    if (error) return refusal + error.message();
    for (const fs::directory_entry& entry : entries) {
        if (inputs.wouldReplace(entry.path())) {
            return refusal + "it would replace an input file (" + quoted(entry.path()) + ")";
        }
    }
    for (const fs::directory_entry& entry : entries) {
        // A link of a report file's name goes with the earlier report, never followed.
        const fs::file_type type = entry.symlink_status(error).type();
        const bool fileOrLink = type == fs::file_type::regular || type == fs::file_type::symlink;
        if (!fileOrLink || !isReportFileName(entry.path().filename().string())) {
            return refusal + "it holds " + quoted(entry.path().filename()) +
                   ", which is not part of a report and would be lost (choose an empty folder "
                   "or an earlier report's)";
        }
    }
    return {};
}

// A new, empty hidden folder beside `target` for the run's files.
fs::path makeStaging(const fs::path& target) {
    std::random_device random;
    const fs::path hidden = target.parent_path() / ("." + target.filename().string());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const fs::path staging = temporaryName(hidden.string(), random);
        std::error_code error;
        if (fs::create_directory(staging, error)) return staging;
        if (error && error != std::errc::file_exists) {
            throw std::system_error(error, "cannot make the folder " + quoted(target));
        }
    }
    throw std::system_error(std::make_error_code(std::errc::file_exists),
                            "no free folder name beside " + quoted(target));
}

// An exclusive lock on a folder for as long as the object lives; waits for it.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& folder)
        : _fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (_fd < 0) return;
        while (::flock(_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (_fd >= 0) ::close(_fd);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int _fd;
};

// Puts `staging` in the place of `target` in one step where the file system can (the old
// report then sits at `staging`), else in two renames.  Returns what went wrong.
std::string replaceFolder(const fs::path& staging, const fs::path& target) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(target, error))) {
        fs::rename(staging, target, error);
        return error ? error.message() : std::string();
    }
    if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) return std::strerror(errno);
    // Without the exchange: the old report goes aside under a temporary name, then the new
    // one takes its place; the old one is removed with the run's folder.
    std::random_device random;
    const fs::path aside = temporaryName(staging.string(), random);
    fs::rename(target, aside, error);
    if (error) return error.message();
    fs::rename(staging, target, error);
    if (error) {
        std::error_code ignored;
        fs::rename(aside, target, ignored);
        return error.message();
    }
    fs::rename(aside, staging, error);
    return {};
}

}  // namespace

bool isReportFileName(const std::string& name) {
    if (name == kPageName || name == kOriginalName) return true;
    for (std::string_view suffix : kPictureSuffixes) {
        if (endsWith(name, suffix)) return true;
    }
    return false;
}

ReportFolder::ReportFolder(fs::path target, const InputFiles& inputs) {
    std::error_code error;
    // A name that ends in a slash or "." names the folder itself.
    fs::path absolute = fs::absolute(target, error).lexically_normal();
    if (!error && absolute.has_parent_path() && absolute.filename().empty()) {
        absolute = absolute.parent_path();
    }
    _target = error ? target : absolute;
    const fs::path parent = _target.parent_path();
    if (_target.filename().empty() || parent.empty()) {
        _problem = "not writing the report into " + quoted(target) + ": it is no folder's name";
        return;
    }
    fs::create_directories(parent, error);
    if (error || !fs::is_directory(parent)) {
        _problem = "cannot make the folder " + quoted(parent) + ": " +
                   (error ? error.message() : "a file of that name is in the way");
        return;
    }
    _problem = whyNotReplaceable(_target, inputs);
    if (!_problem.empty()) return;
    try {
        _staging = makeStaging(_target);
    } catch (const std::system_error& e) {
        _problem = e.what();
    }
}

ReportFolder::~ReportFolder() {
    if (_staging.empty()) return;
    std::error_code ignored;
    fs::remove_all(_staging, ignored);
}

std::string ReportFolder::swapIn(const InputFiles& inputs) {
    const std::string cannot = "cannot put the report in place at " + quoted(_target) + ": ";
    if (!_problem.empty()) return _problem;
    {
        const FolderLock lock(_target.parent_path());
        // Checked again under the lock: the target may have changed while the run scored.
        std::string problem = whyNotReplaceable(_target, inputs);
        if (!problem.empty()) return problem;
        problem = replaceFolder(_staging, _target);
        if (!problem.empty()) return cannot + problem;
    }
    std::error_code ignored;
    fs::remove_all(_staging, ignored);  // the earlier report, when there was one
    _staging.clear();
    return {};
}

}  // namespace lumetra
