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
    struct stat target {};
    const bool replacing = stat(path.c_str(), &target) == 0;
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

// Writes straight into an existing file that is not a plain one (a device such as /dev/stdout,
// a pipe, or a link, which the caller means to write through): replacing it would be wrong.
void writeInPlace(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw Error(cannotWrite(path, std::strerror(errno)));
    writeAndClose(path, file, write);
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        writeInPlace(path, write);
        return;
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
