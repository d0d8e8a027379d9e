#include "image/RgbImage.h"

// Reading an image file into three raw sample planes.
//
// The format comes from the file's first bytes: "P1".."P7" is Netpbm and goes through
// libnetpbm; the PNG signature, the JPEG start-of-image marker and "BM" go through stb_image.
// Whatever goes wrong ends as one ImageReadError, 'cannot read image "<path>": <reason>'.
//
// libnetpbm was written for programs, not libraries: on any error it calls an error hook
// (by default: print to stderr) and then either longjmp()s to a registered jmp_buf or calls
// exit().  Both the hook and the jmp_buf are process-wide state inside the library, so:
//  - every call into libnetpbm runs while netpbmMutex is held (NetpbmSession);
//  - the session installs hooks that capture the message instead of printing it;
//  - each call runs inside runGuarded(), whose setjmp() frame holds only trivial locals, so a
//    longjmp() back into it skips no C++ destructor;
//  - the header is parsed here first, so empty or absurdly large images are refused before
//    libnetpbm allocates anything, and a raw raster that is too short is named as such.

#include <stb/stb_image.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "image/Error.h"

// libnetpbm's headers come last: they define a few macros of their own.
#include <ppm.h>

namespace lumetra {
namespace {

namespace fs = std::filesystem;

// Every sample of an RGB raster, in the order red, green, blue.
constexpr int kRgbChannels = 3;
// Largest maximum sample value Netpbm allows (two bytes per raw sample).
constexpr std::uint64_t kNetpbmLargestMaxval = 65535;
// Largest maxval that still fits one byte per raw sample.
constexpr std::uint64_t kOneByteMaxval = 255;
// Header numbers above this are refused: libnetpbm keeps dimensions in an int.
constexpr std::uint64_t kLargestHeaderNumber = std::numeric_limits<int>::max();
// Maximum sample values of what stb_image decodes.
constexpr unsigned kStb8BitMaxval = 255;
constexpr unsigned kStb16BitMaxval = 65535;

[[noreturn]] void fail(const std::string& path, const std::string& reason) {
    throw ImageReadError("cannot read image \"" + path + "\": " + reason);
}

std::string errnoText(int error) {
    return std::generic_category().message(error);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Refuses an empty image and one with more than RgbImage::kMaxPixels pixels.
void checkDimensions(const std::string& path, std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) fail(path, "width or height is 0");
    if (width > RgbImage::kMaxPixels || height > RgbImage::kMaxPixels ||
        width * height > RgbImage::kMaxPixels) {
        fail(path, "image too large: " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels, at most " + std::to_string(RgbImage::kMaxPixels) + " allowed");
    }
}

// Size of the file in bytes, or an ImageReadError.
std::uint64_t fileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) fail(path, error.message());
    return size;
}

// ---------------------------------------------------------------------------------------------
// Format detection

enum class Format { Netpbm, Png, Jpeg, Bmp };

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr unsigned char kJpegStart[] = {0xff, 0xd8, 0xff};
constexpr std::size_t kMagicLength = sizeof kPngSignature;

bool startsWith(const unsigned char* bytes, std::size_t count, const unsigned char* prefix,
                std::size_t prefixLength) {
    return count >= prefixLength && std::memcmp(bytes, prefix, prefixLength) == 0;
}

// Opens path and tells its format from the first bytes; the file is returned rewound.
std::pair<File, Format> openAndDetect(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) fail(path, "no such file");
    if (error) fail(path, error.message());
    if (status.type() == fs::file_type::directory) fail(path, "is a directory");
    if (status.type() != fs::file_type::regular) fail(path, "not a regular file");

    File file(std::fopen(path.c_str(), "rb"));
    if (!file) fail(path, errnoText(errno));
    unsigned char magic[kMagicLength] = {};
    const std::size_t count = std::fread(magic, 1, kMagicLength, file.get());
    if (std::ferror(file.get())) fail(path, "read error");
    if (count == 0) fail(path, "file is empty");
    std::rewind(file.get());

    const unsigned char bmp[] = {'B', 'M'};
    Format format;
    if (count >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7') {
        format = Format::Netpbm;
    } else if (startsWith(magic, count, kPngSignature, sizeof kPngSignature)) {
        format = Format::Png;
    } else if (startsWith(magic, count, kJpegStart, sizeof kJpegStart)) {
        format = Format::Jpeg;
    } else if (startsWith(magic, count, bmp, sizeof bmp)) {
        format = Format::Bmp;
    } else {
        fail(path, "unsupported format (not a Netpbm, PNG, JPEG or BMP file)");
    }
    return {std::move(file), format};
}

// ---------------------------------------------------------------------------------------------
// Netpbm header, read here before libnetpbm sees the file

struct NetpbmHeader {
    char kind = 0;  // the digit of the magic number, '1'..'7'
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t depth = 0;   // samples per pixel in the raster
    std::uint64_t maxval = 1;  // 1 for bitmaps
    std::uint64_t rasterOffset = 0;
};

bool isNetpbmSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class NetpbmHeaderReader {
  public:
    NetpbmHeaderReader(std::FILE* file, const std::string& path) : _file(file), _path(path) {}

    NetpbmHeader read() {
        NetpbmHeader header;
        next();  // the "P", already checked
        header.kind = static_cast<char>(next());
        if (header.kind == '7') {
            readPamFields(header);
        } else {
            header.width = number("width");
            header.height = number("height");
            const bool bitmap = header.kind == '1' || header.kind == '4';
            const bool grey = header.kind == '2' || header.kind == '5';
            header.depth = (bitmap || grey) ? 1 : kRgbChannels;
            if (!bitmap) header.maxval = number("maximum sample value");
            // The raster starts after exactly one whitespace character.
            const int separator = next();
            if (separator == EOF) fail(_path, "file ends inside the header");
            if (!isNetpbmSpace(separator))
                fail(_path, "malformed header: no space before the raster");
        }
        header.rasterOffset = position();
        return header;
    }

  private:
    int next() { return std::getc(_file); }

    std::uint64_t position() {
        const long offset = std::ftell(_file);
        if (offset < 0) fail(_path, "cannot tell the position in the file");
        return static_cast<std::uint64_t>(offset);
    }

    // Skips whitespace and '#' comments; returns the first other character (consumed).
    int skipSpace() {
        int c = next();
        for (;;) {
            if (c == '#') {
                while (c != EOF && c != '\n' && c != '\r') c = next();
            } else if (isNetpbmSpace(c)) {
                c = next();
            } else {
                return c;
            }
        }
    }

    // A decimal header number; the character after it is left unread.
    std::uint64_t number(const std::string& what) {
        int c = skipSpace();
        if (c == EOF) fail(_path, "file ends inside the header");
        if (c < '0' || c > '9') fail(_path, "malformed header: the " + what + " is not a number");
        std::uint64_t value = 0;
        for (; c >= '0' && c <= '9'; c = next()) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > kLargestHeaderNumber) {
                fail(_path, "malformed header: the " + what + " is out of range");
            }
        }
        if (c != EOF) std::ungetc(c, _file);
        return value;
    }

    // PAM: "KEYWORD value" lines up to ENDHDR; the raster follows the ENDHDR line.
    void readPamFields(NetpbmHeader& header) {
        bool seen[4] = {false, false, false, false};
        std::uint64_t* const fields[4] = {&header.width, &header.height, &header.depth,
                                          &header.maxval};
        const char* const names[4] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
        for (;;) {
            const std::string keyword = word();
            if (keyword == "ENDHDR") break;
            if (keyword == "TUPLTYPE") {
                skipLine();
                continue;
            }
            bool known = false;
            for (int i = 0; i < 4; ++i) {
                if (keyword == names[i]) {
                    *fields[i] = number(keyword);
                    seen[i] = known = true;
                }
            }
            if (!known) fail(_path, "malformed header: unknown PAM keyword \"" + keyword + "\"");
        }
        for (int i = 0; i < 4; ++i) {
            if (!seen[i]) fail(_path, std::string("malformed header: no ") + names[i] + " line");
        }
        skipLine();
    }

    // The next word of letters, after whitespace and comments.
    std::string word() {
        constexpr std::size_t kLongestKeyword = 16;
        std::string text;
        int c = skipSpace();
        if (c == EOF) fail(_path, "file ends inside the header");
        for (; c != EOF && !isNetpbmSpace(c); c = next()) {
            if (text.size() == kLongestKeyword) fail(_path, "malformed header");
            text.push_back(static_cast<char>(c));
        }
        if (c != EOF) std::ungetc(c, _file);
        return text;
    }

    void skipLine() {
        int c = next();
        while (c != EOF && c != '\n') c = next();
        if (c == EOF) fail(_path, "file ends inside the header");
    }

    std::FILE* _file;
    const std::string& _path;
};

// Bytes of a raw raster, or 0 for the plain (ASCII) formats whose length is not fixed.
std::uint64_t rawRasterBytes(const NetpbmHeader& header) {
    const std::uint64_t bytesPerSample = header.maxval > kOneByteMaxval ? 2 : 1;
    switch (header.kind) {
        case '4':
            return (header.width + 7) / 8 * header.height;
        case '5':
        case '6':
        case '7':
            return header.width * header.height * header.depth * bytesPerSample;
        default:
            return 0;
    }
}

void checkNetpbmHeader(const std::string& path, const NetpbmHeader& header) {
    checkDimensions(path, header.width, header.height);
    if (header.maxval == 0) fail(path, "malformed header: the maximum sample value is 0");
    if (header.maxval > kNetpbmLargestMaxval) {
        fail(path, "malformed header: the maximum sample value " + std::to_string(header.maxval) +
                       " is above " + std::to_string(kNetpbmLargestMaxval));
    }
    if (header.depth == 0) fail(path, "malformed header: the depth is 0");
    const std::uint64_t raster = rawRasterBytes(header);
    if (raster != 0 && fileSize(path) < header.rasterOffset + raster) {
        fail(path, "file ends inside the pixel data");
    }
}

// ---------------------------------------------------------------------------------------------
// libnetpbm behind a lock, with its error exits caught

// Guards libnetpbm's process-wide error hook and jmp_buf (see the top of this file).
std::mutex netpbmMutex;

// Where the error hook puts libnetpbm's message; set only by the thread holding netpbmMutex
// for the length of its NetpbmSession.  The hook has no user-data argument, hence a variable.
thread_local std::string* netpbmErrorText = nullptr;

void captureNetpbmError(const char* message) {
    if (netpbmErrorText == nullptr || message == nullptr || !netpbmErrorText->empty()) return;
    try {
        netpbmErrorText->assign(message);
    } catch (...) {
        // Out of memory while copying a message: the read still fails, with a generic reason.
    }
}

void ignoreNetpbmMessage(const char*) {}

// Holds the lock and the hooks for one read.  libnetpbm cannot report which hooks were in
// force, so the destructor restores its defaults (no hooks); this file is the only place in
// the system that installs any.
class NetpbmSession {
  public:
    explicit NetpbmSession(std::string& errorText) : _lock(netpbmMutex) {
        netpbmErrorText = &errorText;
        pm_setusererrormsgfn(captureNetpbmError);
        pm_setusermessagefn(ignoreNetpbmMessage);
    }
    ~NetpbmSession() {
        pm_setusermessagefn(nullptr);
        pm_setusererrormsgfn(nullptr);
        netpbmErrorText = nullptr;
    }
    NetpbmSession(const NetpbmSession&) = delete;
    NetpbmSession& operator=(const NetpbmSession&) = delete;

  private:
    std::lock_guard<std::mutex> _lock;
};

// The arguments and results of the libnetpbm calls, kept outside the setjmp() frames.
struct NetpbmCall {
    const char* path = nullptr;
    std::FILE* file = nullptr;
    pixel** pixels = nullptr;
    int cols = 0;
    int rows = 0;
    pixval maxval = 0;
};

// Releases whatever a failed or finished read still holds.
class NetpbmCallOwner {
  public:
    explicit NetpbmCallOwner(NetpbmCall& call) : _call(call) {}
    ~NetpbmCallOwner() {
        if (_call.pixels != nullptr) ppm_freearray(_call.pixels, _call.rows);
        if (_call.file != nullptr) std::fclose(_call.file);
    }
    NetpbmCallOwner(const NetpbmCallOwner&) = delete;
    NetpbmCallOwner& operator=(const NetpbmCallOwner&) = delete;

  private:
    NetpbmCall& _call;
};

void openStep(NetpbmCall& call) {
    call.file = pm_openr(call.path);
}

void readStep(NetpbmCall& call) {
    call.pixels = ppm_readppm(call.file, &call.cols, &call.rows, &call.maxval);
}

void closeStep(NetpbmCall& call) {
    std::FILE* const file = call.file;
    call.file = nullptr;  // pm_close closes it even when it then reports an error
    pm_close(file);
}

// Runs one step with libnetpbm's error exit leading back here.  Returns false when libnetpbm
// reported an error.  Only trivially destructible locals live in this frame, and `previous`
// is not changed between setjmp() and a longjmp().
bool runGuarded(void (*step)(NetpbmCall&), NetpbmCall& call) {
    std::jmp_buf env;
    std::jmp_buf* previous = nullptr;
    pm_setjmpbufsave(&env, &previous);
    if (setjmp(env) != 0) {
        pm_setjmpbuf(previous);
        return false;
    }
    step(call);
    pm_setjmpbuf(previous);
    return true;
}

std::string netpbmReason(const std::string& captured, const char* fallback) {
    std::string reason = captured.empty() ? std::string(fallback) : captured;
    while (!reason.empty() && isNetpbmSpace(static_cast<unsigned char>(reason.back()))) {
        reason.pop_back();
    }
    return reason;
}

RgbImage readNetpbm(const std::string& path) {
    // pm_openr reads standard input for the name "-"; here it always means a file.
    const std::string openName = path == "-" ? "./-" : path;
    std::string netpbmError;
    NetpbmSession session(netpbmError);
    NetpbmCall call;
    const NetpbmCallOwner owner(call);
    call.path = openName.c_str();

    if (!runGuarded(openStep, call)) fail(path, netpbmReason(netpbmError, "cannot open"));
    const NetpbmHeader header = NetpbmHeaderReader(call.file, path).read();
    checkNetpbmHeader(path, header);
    if (std::fseek(call.file, 0, SEEK_SET) != 0) fail(path, "cannot rewind the file");

    if (!runGuarded(readStep, call)) {
        if (call.file != nullptr && std::feof(call.file)) {
            fail(path, "file ends inside the pixel data");
        }
        fail(path, netpbmReason(netpbmError, "not a valid Netpbm image"));
    }
    if (!runGuarded(closeStep, call)) fail(path, netpbmReason(netpbmError, "cannot close"));
    if (static_cast<std::uint64_t>(call.cols) != header.width ||
        static_cast<std::uint64_t>(call.rows) != header.height) {
        fail(path, "the file changed while it was read");
    }

    const auto rows = static_cast<std::uint32_t>(call.rows);
    const auto cols = static_cast<std::uint32_t>(call.cols);
    Array<unsigned> red(rows, cols), green(rows, cols), blue(rows, cols);
    for (std::uint32_t r = 0; r < rows; ++r) {
        const pixel* const row = call.pixels[r];
        for (std::uint32_t c = 0; c < cols; ++c) {
            red(r, c) = PPM_GETR(row[c]);
            green(r, c) = PPM_GETG(row[c]);
            blue(r, c) = PPM_GETB(row[c]);
        }
    }
    return RgbImage(std::move(red), std::move(green), std::move(blue), call.maxval);
}

// ---------------------------------------------------------------------------------------------
// PNG, JPEG and BMP through stb_image

// Where a file of a compressed or headed format stops short, found by walking its structure.
// stb_image fills a short BMP or JPEG with made-up pixels instead of failing, and its own
// messages for a short PNG are cryptic, so every such file is checked here first.
enum class Truncation { None, InHeader, InPixelData };

using Bytes = std::vector<unsigned char>;

std::uint64_t be32(const Bytes& b, std::size_t at) {
    return std::uint64_t{b[at]} << 24 | std::uint64_t{b[at + 1]} << 16 |
           std::uint64_t{b[at + 2]} << 8 | std::uint64_t{b[at + 3]};
}
std::uint64_t le32(const Bytes& b, std::size_t at) {
    return std::uint64_t{b[at]} | std::uint64_t{b[at + 1]} << 8 | std::uint64_t{b[at + 2]} << 16 |
           std::uint64_t{b[at + 3]} << 24;
}
std::uint64_t le16(const Bytes& b, std::size_t at) {
    return std::uint64_t{b[at]} | std::uint64_t{b[at + 1]} << 8;
}

// PNG: chunks (length, type, data, CRC) from the signature up to IEND.
Truncation pngTruncation(const Bytes& b) {
    constexpr std::uint64_t kChunkOverhead = 12;  // length, type and CRC fields
    std::uint64_t at = sizeof kPngSignature;
    bool imageDataSeen = false;
    for (;;) {
        const Truncation cut = imageDataSeen ? Truncation::InPixelData : Truncation::InHeader;
        if (at + 8 > b.size()) return cut;
        const std::uint64_t length = be32(b, at);
        const std::string type(b.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               b.begin() + static_cast<std::ptrdiff_t>(at + 8));
        if (type == "IDAT") imageDataSeen = true;
        if (at + kChunkOverhead + length > b.size()) {
            return imageDataSeen ? Truncation::InPixelData : Truncation::InHeader;
        }
        if (type == "IEND") return Truncation::None;
        at += kChunkOverhead + length;
    }
}

// JPEG: marker segments up to the first start-of-scan, entropy-coded data up to the next
// marker (inside it 0xFF is followed only by 0x00 or a restart marker), and so on to the
// end-of-image marker.  A stream that is not laid out like this is left to stb_image.
Truncation jpegTruncation(const Bytes& b) {
    constexpr unsigned char kEndOfImage = 0xd9, kStartOfScan = 0xda, kTem = 0x01;
    constexpr unsigned char kFirstRestart = 0xd0, kLastRestart = 0xd7;
    const auto isRestart = [&](unsigned char m) { return m >= kFirstRestart && m <= kLastRestart; };
    const std::size_t n = b.size();
    std::size_t at = sizeof kJpegStart - 1;  // just after the start-of-image marker
    bool scanSeen = false;
    for (;;) {
        const Truncation cut = scanSeen ? Truncation::InPixelData : Truncation::InHeader;
        std::size_t fill = 0;
        for (; at < n && b[at] == 0xff; ++at) ++fill;
        if (at >= n) return cut;
        if (fill == 0) return Truncation::None;  // no marker where one belongs
        const unsigned char marker = b[at++];
        if (marker == kEndOfImage) return Truncation::None;
        if (marker == kTem || isRestart(marker)) continue;  // markers without a length
        if (at + 2 > n) return cut;
        const std::size_t length = static_cast<std::size_t>(b[at]) << 8 | b[at + 1];
        if (length < 2) return Truncation::None;
        if (at + length > n) {
            return marker == kStartOfScan ? Truncation::InPixelData : cut;
        }
        at += length;
        if (marker == kStartOfScan) {
            scanSeen = true;
            for (;; ++at) {
                if (at + 1 >= n) return Truncation::InPixelData;
                if (b[at] == 0xff && b[at + 1] != 0x00 && !isRestart(b[at + 1])) break;
            }
        }
    }
}

// BMP: the file header, the info header and, when uncompressed, the whole raster.
Truncation bmpTruncation(const Bytes& b) {
    constexpr std::size_t kFileHeaderSize = 14;
    constexpr std::uint64_t kCoreHeaderSize = 12;  // the old OS/2 info header
    constexpr std::uint64_t kInfoHeaderSize = 40;  // and every later one starts like this
    constexpr std::uint64_t kUncompressed = 0, kBitfields = 3, kAlphaBitfields = 6;
    if (b.size() < kFileHeaderSize + 4) return Truncation::InHeader;
    const std::uint64_t infoSize = le32(b, kFileHeaderSize);
    if (infoSize != kCoreHeaderSize && infoSize < kInfoHeaderSize) return Truncation::None;
    if (b.size() < kFileHeaderSize + infoSize) return Truncation::InHeader;

    const std::uint64_t rasterOffset = le32(b, 10);
    std::uint64_t width = 0, height = 0, bitsPerPixel = 0, compression = kUncompressed;
    if (infoSize == kCoreHeaderSize) {
        width = le16(b, 18);
        height = le16(b, 20);
        bitsPerPixel = le16(b, 24);
    } else {
        // A negative height marks a top-down raster; a negative width is refused by stb.
        const std::int64_t signedWidth = static_cast<std::int32_t>(le32(b, 18));
        const std::int64_t signedHeight = static_cast<std::int32_t>(le32(b, 22));
        width = static_cast<std::uint64_t>(std::max<std::int64_t>(signedWidth, 0));
        height = static_cast<std::uint64_t>(signedHeight < 0 ? -signedHeight : signedHeight);
        bitsPerPixel = le16(b, 28);
        compression = le32(b, 30);
    }
    if (compression != kUncompressed && compression != kBitfields &&
        compression != kAlphaBitfields) {
        return Truncation::None;  // a compressed raster has no fixed length
    }
    const std::uint64_t stride = (width * bitsPerPixel + 31) / 32 * 4;  // rows pad to 4 bytes
    return b.size() < rasterOffset + stride * height ? Truncation::InPixelData : Truncation::None;
}

Truncation truncation(const Bytes& bytes, Format format) {
    switch (format) {
        case Format::Png:
            return pngTruncation(bytes);
        case Format::Jpeg:
            return jpegTruncation(bytes);
        case Format::Bmp:
            return bmpTruncation(bytes);
        default:
            return Truncation::None;
    }
}

const char* formatName(Format format) {
    switch (format) {
        case Format::Png:
            return "PNG";
        case Format::Jpeg:
            return "JPEG";
        case Format::Bmp:
            return "BMP";
        default:
            return "Netpbm";
    }
}

struct StbFree {
    void operator()(void* data) const { stbi_image_free(data); }
};

template <typename Sample>
RgbImage fromInterleaved(const Sample* data, std::uint32_t rows, std::uint32_t cols,
                         unsigned maxval) {
    Array<unsigned> red(rows, cols), green(rows, cols), blue(rows, cols);
    const Sample* p = data;
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t c = 0; c < cols; ++c, p += kRgbChannels) {
            red(r, c) = p[0];
            green(r, c) = p[1];
            blue(r, c) = p[2];
        }
    }
    return RgbImage(std::move(red), std::move(green), std::move(blue), maxval);
}

// A decoder failure, with stb_image's reason (kept per thread by the library).
[[noreturn]] void failToDecode(const std::string& path, Format format) {
    const char* const reason = stbi_failure_reason();
    fail(path, std::string("cannot decode the ") + formatName(format) + " data" +
                   (reason != nullptr ? std::string(" (") + reason + ")" : std::string()));
}

RgbImage readWithStb(const std::string& path, File file, Format format) {
    const std::uint64_t size = fileSize(path);
    if (size > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        fail(path, "file too large");
    }
    Bytes bytes(size);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        fail(path, "read error");
    }
    file.reset();
    switch (truncation(bytes, format)) {
        case Truncation::InHeader:
            fail(path, "file ends inside the header");
        case Truncation::InPixelData:
            fail(path, "file ends inside the pixel data");
        case Truncation::None:
            break;
    }

    const stbi_uc* const buffer = bytes.data();
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(buffer, length, &width, &height, &channels)) {
        // stb_image tries every decoder here, so its last reason is not worth repeating.
        fail(path, std::string("malformed ") + formatName(format) + " header");
    }
    checkDimensions(path, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
    // Grey and grey+alpha come back as R = G = B, RGBA without its alpha.
    if (stbi_is_16_bit_from_memory(buffer, length)) {
        const std::unique_ptr<stbi_us, StbFree> data(
            stbi_load_16_from_memory(buffer, length, &width, &height, &channels, kRgbChannels));
        if (!data) failToDecode(path, format);
        return fromInterleaved(data.get(), static_cast<std::uint32_t>(height),
                               static_cast<std::uint32_t>(width), kStb16BitMaxval);
    }
    const std::unique_ptr<stbi_uc, StbFree> data(
        stbi_load_from_memory(buffer, length, &width, &height, &channels, kRgbChannels));
    if (!data) failToDecode(path, format);
    return fromInterleaved(data.get(), static_cast<std::uint32_t>(height),
                           static_cast<std::uint32_t>(width), kStb8BitMaxval);
}

RgbImage readImageFile(const std::string& path) {
    auto [file, format] = openAndDetect(path);
    if (format == Format::Netpbm) {
        file.reset();  // libnetpbm opens it itself
        return readNetpbm(path);
    }
    return readWithStb(path, std::move(file), format);
}

bool sameSize(const Array<unsigned>& a, const Array<unsigned>& b) {
    return a.rows() == b.rows() && a.cols() == b.cols();
}

}  // namespace

RgbImage::RgbImage(std::string path) : RgbImage(readImageFile(path)) {}

RgbImage::RgbImage(Array<unsigned> r, Array<unsigned> g, Array<unsigned> b, unsigned maxval)
    : _rows(r.rows()),
      _cols(r.cols()),
      _r(std::move(r)),
      _g(std::move(g)),
      _b(std::move(b)),
      _maxval(maxval) {
    if (!sameSize(_r, _g) || !sameSize(_r, _b)) {
        throw std::invalid_argument("RgbImage: the three planes differ in size");
    }
    if (_maxval == 0) throw std::invalid_argument("RgbImage: maxval is 0");
    for (const Array<unsigned>* plane : {&_r, &_g, &_b}) {
        const unsigned* p = plane->data();
        for (std::size_t i = 0, n = plane->size(); i < n; ++i) {
            if (p[i] > _maxval) throw std::invalid_argument("RgbImage: a sample exceeds maxval");
        }
    }
}

RgbImage::RgbImage(RgbImage&& other) noexcept
    : _rows(std::exchange(other._rows, 0u)),
      _cols(std::exchange(other._cols, 0u)),
      _r(std::move(other._r)),
      _g(std::move(other._g)),
      _b(std::move(other._b)),
      _maxval(std::exchange(other._maxval, kDefaultMaxval)) {}

RgbImage& RgbImage::operator=(RgbImage&& other) noexcept {
    if (this != &other) {
        _rows = std::exchange(other._rows, 0u);
        _cols = std::exchange(other._cols, 0u);
        _r = std::move(other._r);
        _g = std::move(other._g);
        _b = std::move(other._b);
        _maxval = std::exchange(other._maxval, kDefaultMaxval);
    }
    return *this;
}

std::ostream& operator<<(std::ostream& out, const RgbImage& image) {
    out << "R" << std::endl << image.R() << std::endl;
    out << "G" << std::endl << image.G() << std::endl;
    out << "B" << std::endl << image.B() << std::endl;
    return out;
}

}  // namespace lumetra
