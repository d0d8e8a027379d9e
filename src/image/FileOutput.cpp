#include "image/FileOutput.h"

#include <stb/stb_image_write.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "image/Error.h"

namespace lumetra {

namespace {

std::string cannotWrite(const std::string& path, const std::string& reason) {
    return "cannot write \"" + path + "\": " + reason;
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

// Writes straight into an existing file that is not a plain one (a device such as /dev/stdout,
// a pipe, or a link, which the caller means to write through): replacing it would be wrong.
void writeInPlace(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw Error(cannotWrite(path, std::strerror(errno)));
    errno = 0;
    bool ok = write(file);
    int error = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) throw Error(cannotWrite(path, error != 0 ? std::strerror(error) : "write failed"));
}

}  // namespace

void writeFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& write) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        writeInPlace(path, write);
        return;
    }
    // mkstemp replaces the six Xs; the name stays in the target's folder, so the rename is
    // atomic.
    std::string pattern = path + ".partial-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw Error(cannotWrite(path, std::strerror(errno)));
    TemporaryFile temporary(pattern);
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        throw Error(cannotWrite(path, std::strerror(error)));
    }
    errno = 0;
    bool ok = write(file);
    int error = errno;
    // fclose flushes what is still buffered, so its failure is a write failure too.
    if (std::fflush(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) throw Error(cannotWrite(path, error != 0 ? std::strerror(error) : "write failed"));
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
