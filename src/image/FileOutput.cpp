#include "image/FileOutput.h"

#include <fcntl.h>
#include <stb/stb_image_write.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

#include "image/Error.h"
#include "image/Temporaries.h"

namespace lumetra {

namespace {

// Names tried before giving up when each is taken (another writer's temporary file).
constexpr int kNameAttempts = 100;
// The mode a new file is created with before the umask, as fopen creates one.
constexpr mode_t kNewFileMode = 0666;
// Read, write and execute for owner, group and others; never set-id or sticky bits.
constexpr mode_t kPermissionBits = 0777;

std::string cannotWrite(const std::string& path, const std::string& reason) {
    return "cannot write \"" + path + "\": " + reason;
}

// Creates and opens a new temporary file beside `path`, and returns its descriptor and name.
// It is created with the mode fopen would give a new file (0666 less the umask), or the mode
// of the file it will replace, so that renaming it into place changes no permission: mkstemp
// would make it readable by its owner alone.
std::pair<int, std::string> createTemporary(const std::string& path) {
    // lstat: a link at the name is replaced like a missing file, and its target's mode, which
    // may be another user's file's, is not copied.
    struct stat target {};
    const bool replacing = lstat(path.c_str(), &target) == 0 && S_ISREG(target.st_mode);
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = temporaryName(path, random);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) throw Error(cannotWrite(path, std::strerror(errno)));
        if (replacing && fchmod(fd, target.st_mode & kPermissionBits) != 0) {
            const int error = errno;
            close(fd);
            std::remove(name.c_str());
            throw Error(cannotWrite(path, std::strerror(error)));
        }
        return {fd, std::move(name)};
    }
    throw Error(cannotWrite(path, "no free temporary name beside it"));
}

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string name) : _name(std::move(name)) {}
    ~TemporaryFile() {
        if (!_kept) std::remove(_name.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& name() const { return _name; }
    void keep() { _kept = true; }

  private:
    std::string _name;
    bool _kept = false;
};

// Runs `write` on the open `file` and closes it; fclose flushes what is still buffered, so
// its failure is a write failure too.  Throws Error naming `path` when either fails.
void writeAndClose(const std::string& path, std::FILE* file,
                   const std::function<bool(std::FILE*)>& write) {
    errno = 0;
    bool ok = write(file);
    int error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) throw Error(cannotWrite(path, error != 0 ? std::strerror(error) : "write failed"));
}

// Whether `path` is a name in /dev or /proc once the links of its folder are followed: the
// names of the standard descriptors (/dev/stdout, /dev/fd/1, /proc/self/fd/1) are there.
bool isDescriptorName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr) return false;
    const std::string_view resolved(real);
    const bool system = resolved == "/dev" || resolved.substr(0, 5) == "/dev/" ||
                        resolved == "/proc" || resolved.substr(0, 6) == "/proc/";
    std::free(real);
    return system;
}

// Whether the file `target` (what `path` leads to) is written through in place rather than
// replaced: a device, a pipe or a socket, whether named directly or through links (a link to
// /dev/full), and whatever a descriptor's name leads to (which may be a redirected plain
// file).  A link to a plain file, to a folder or to nothing is not: the rename replaces the
// link itself and nothing outside the folder is touched.
bool writesThrough(const struct stat& target, const std::string& path) {
    return S_ISCHR(target.st_mode) || S_ISBLK(target.st_mode) || S_ISFIFO(target.st_mode) ||
           S_ISSOCK(target.st_mode) || (S_ISREG(target.st_mode) && isDescriptorName(path));
}

// Writes straight into an existing file that is written through (writesThrough): a device such
// as /dev/full, a pipe, or what /dev/stdout leads to.  Opened without O_CREAT, so nothing is
// made at a link's target, and checked again once open: a link changed since to point at a
// plain file is replaced after all (returns false) instead of written through.
bool writeInPlace(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw Error(cannotWrite(path, std::strerror(errno)));
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !writesThrough(opened, path)) {
        close(fd);
        return false;
    }
    // A plain file behind a descriptor name starts again from nothing, as fopen's "wb" would.
    if (S_ISREG(opened.st_mode) && ftruncate(fd, 0) != 0) {
        const int error = errno;
        close(fd);
        throw Error(cannotWrite(path, std::strerror(error)));
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        throw Error(cannotWrite(path, std::strerror(error)));
    }
    writeAndClose(path, file, write);
    return true;
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    // Devices and pipes, named or linked to, are written through; anything else at the name,
    // a link included, is replaced whole by the rename.
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        struct stat target {};
        const bool through = S_ISLNK(existing.st_mode)
                                 ? stat(path.c_str(), &target) == 0 && writesThrough(target, path)
                                 : !S_ISDIR(existing.st_mode);
        if (through && writeInPlace(path, write)) return;
    }
    // The temporary file is in the target's folder, so the rename is atomic.
    auto [fd, name] = createTemporary(path);
    TemporaryFile temporary(std::move(name));
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        throw Error(cannotWrite(path, std::strerror(error)));
    }
    // On the disk before the rename: after a crash the name holds the old file or the new one
    // whole, never one whose blocks were not yet written.
    writeAndClose(path, file, [&](std::FILE* out) {
        return write(out) && std::fflush(out) == 0 && fsync(fileno(out)) == 0;
    });
    if (std::rename(temporary.name().c_str(), path.c_str()) != 0) {
        throw Error(cannotWrite(path, std::strerror(errno)));
    }
    temporary.keep();
}

void writeRgbPng(const std::string& path, const std::vector<std::uint8_t>& rgb, std::uint32_t width,
                 std::uint32_t height) {
    constexpr int kChannels = 3;
    if (width == 0 || height == 0) throw Error(cannotWrite(path, "the picture is empty"));
    // stb encodes into memory; the bytes then go out through the atomic writer.
    std::vector<unsigned char> encoded;
    const auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<unsigned char>*>(context);
        const auto* bytes = static_cast<const unsigned char*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    if (stbi_write_png_to_func(append, &encoded, w, h, kChannels, rgb.data(), w * kChannels) == 0) {
        throw Error(cannotWrite(path, "the PNG encoder failed"));
    }
    writeFileAtomically(path, [&](std::FILE* file) {
        return std::fwrite(encoded.data(), 1, encoded.size(), file) == encoded.size();
    });
}

}  // namespace lumetra
