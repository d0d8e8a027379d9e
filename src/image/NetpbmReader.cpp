#include "image/NetpbmReader.h"

// Netpbm: the header is parsed here, the raster is read by libnetpbm.
//
// The header parser follows libnetpbm's rules (whitespace and '#' comments between the numbers
// of P1-P6, exactly one whitespace character before a raw raster, one "KEYWORD value" per line
// in a PAM header), so nothing it accepts is refused later by the library.  Knowing the size,
// the depth and the maxval before any pixel is read lets every check run before allocation:
// the pixel limit, and that the file is long enough for its declared raster (exactly for a
// raw raster, at least one byte per sample for a plain one).
//
// libnetpbm was written for programs, not libraries: on any error it calls an error hook
// (by default: print to stderr) and then either longjmp()s to a registered jmp_buf or calls
// exit().  Both the hook and the jmp_buf are process-wide state inside the library, so:
//  - every call into libnetpbm runs while netpbmMutex is held (NetpbmSession);
//  - the session installs hooks that capture the message instead of printing it;
//  - the raster is read inside readRasterGuarded(), whose setjmp() frame holds only trivial
//    locals, so a longjmp() back into it skips no C++ destructor;
//  - the one buffer libnetpbm allocates (a row of tuples) is owned by a guard that frees it on
//    every path; the samples themselves go straight into the image's planes.

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <utility>

#include "image/Array.h"

// libnetpbm's headers come last: they define a few macros of their own.
#include <pam.h>

namespace lumetra {
namespace {

// Largest maximum sample value Netpbm allows (two bytes per raw sample).
constexpr std::uint64_t kNetpbmLargestMaxval = 65535;
// Largest maxval that still fits one byte per raw sample.
constexpr std::uint64_t kOneByteMaxval = 255;
// Header numbers above this are refused: libnetpbm keeps dimensions in an int.
constexpr std::uint64_t kLargestHeaderNumber = std::numeric_limits<int>::max();
// A bitmap's samples are handed over as 0 (black) and this value (white), as pixmaps.
constexpr unsigned kBitmapMaxval = 255;
// Samples per pixel of a greymap and a pixmap; one more with an alpha channel (PAM only).
constexpr std::uint64_t kGreyDepth = 1;
constexpr std::uint64_t kRgbDepth = 3;
constexpr std::uint64_t kLargestDepth = kRgbDepth + 1;

struct NetpbmHeader {
    char kind = 0;  // the digit of the magic number, '1'..'7'
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t depth = 0;   // samples per pixel in the raster
    std::uint64_t maxval = 1;  // 1 for bitmaps
    std::uint64_t rasterOffset = 0;
};

bool isBitmap(const NetpbmHeader& header) {
    return header.kind == '1' || header.kind == '4';
}
bool isPlain(const NetpbmHeader& header) {
    return header.kind >= '1' && header.kind <= '3';
}

bool isNetpbmSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

class NetpbmHeaderParser {
  public:
    NetpbmHeaderParser(std::FILE* file, const std::string& path) : _file(file), _path(path) {}

    NetpbmHeader parse() {
        NetpbmHeader header;
        next();  // the "P", already checked
        header.kind = static_cast<char>(next());
        if (header.kind == '7') {
            parsePamLines(header);
        } else {
            header.width = number("width");
            header.height = number("height");
            const bool grey = header.kind == '2' || header.kind == '5';
            header.depth = (isBitmap(header) || grey) ? kGreyDepth : kRgbDepth;
            if (!isBitmap(header)) header.maxval = number("maximum sample value");
            // The raster starts after exactly one whitespace character.
            const int separator = next();
            if (separator == EOF) fail("file ends inside the header");
            if (!isNetpbmSpace(separator)) fail("malformed header: no space before the raster");
        }
        const long offset = std::ftell(_file);
        if (offset < 0) fail("cannot tell the position in the file");
        header.rasterOffset = static_cast<std::uint64_t>(offset);
        return header;
    }

  private:
    [[noreturn]] void fail(const std::string& reason) const { failToRead(_path, reason); }

    int next() { return std::getc(_file); }

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

    // A decimal number starting at c; the character after it is returned in `end`.
    std::uint64_t digits(int c, const std::string& what, int& end) {
        if (c == EOF) fail("file ends inside the header");
        if (c < '0' || c > '9') fail("malformed header: the " + what + " is not a number");
        std::uint64_t value = 0;
        for (; c >= '0' && c <= '9'; c = next()) {
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
            if (value > kLargestHeaderNumber)
                fail("malformed header: the " + what + " is out of range");
        }
        end = c;
        return value;
    }

    // A header number of P1-P6 after whitespace and comments; the character after it is left
    // unread.
    std::uint64_t number(const std::string& what) {
        int end = EOF;
        const std::uint64_t value = digits(skipSpace(), what, end);
        if (end != EOF) std::ungetc(end, _file);
        return value;
    }

    // One PAM header line without its newline.
    std::string line() {
        constexpr std::size_t kLongestLine = 255;  // libnetpbm's own line buffer
        std::string text;
        for (int c = next(); c != '\n'; c = next()) {
            if (c == EOF) fail("file ends inside the header");
            if (text.size() == kLongestLine)
                fail("malformed header: a PAM header line is too long");
            text.push_back(static_cast<char>(c));
        }
        return text;
    }

    // The value of a numeric PAM line: one number, alone on the keyword's line.
    std::uint64_t pamNumber(const std::string& text, std::size_t at, const std::string& what) {
        while (at < text.size() && isNetpbmSpace(text[at])) ++at;
        if (at == text.size()) fail("malformed header: no value on the " + what + " line");
        std::uint64_t value = 0;
        std::size_t end = at;
        for (; end < text.size() && text[end] >= '0' && text[end] <= '9'; ++end) {
            value = value * 10 + static_cast<std::uint64_t>(text[end] - '0');
            if (value > kLargestHeaderNumber)
                fail("malformed header: the " + what + " is out of range");
        }
        if (end == at) fail("malformed header: the " + what + " is not a number");
        for (; end < text.size(); ++end) {
            if (!isNetpbmSpace(text[end]))
                fail("malformed header: the " + what + " is not a number");
        }
        return value;
    }

    // Only tuple types the model can read as a colour picture pass: a CMYK or any other
    // tuple of up to four samples would otherwise be read as RGB with alpha.  A PAM without a
    // TUPLTYPE line is read by its depth.
    void checkTupleType(const std::string& rest) {
        std::size_t begin = 0, end = rest.size();
        while (begin < end && isNetpbmSpace(rest[begin])) ++begin;
        while (end > begin && isNetpbmSpace(rest[end - 1])) --end;
        const std::string type = rest.substr(begin, end - begin);
        for (const char* known : {"RGB", "RGB_ALPHA", "GRAYSCALE", "GRAYSCALE_ALPHA",
                                  "BLACKANDWHITE", "BLACKANDWHITE_ALPHA"}) {
            if (type == known) return;
        }
        fail("unsupported PAM tuple type \"" + type +
             "\" (the model reads RGB, RGB_ALPHA, GRAYSCALE, GRAYSCALE_ALPHA, BLACKANDWHITE "
             "or BLACKANDWHITE_ALPHA)");
    }

    // PAM: after the magic number's line, "KEYWORD value" lines, comments and blank lines up
    // to ENDHDR; the raster follows the ENDHDR line.
    void parsePamLines(NetpbmHeader& header) {
        if (next() != '\n') fail("malformed header: the PAM magic number is not alone on its line");
        struct Field {
            const char* name;
            std::uint64_t* value;
            bool seen;
        };
        Field fields[] = {{"WIDTH", &header.width, false},
                          {"HEIGHT", &header.height, false},
                          {"DEPTH", &header.depth, false},
                          {"MAXVAL", &header.maxval, false}};
        for (;;) {
            const std::string text = line();
            std::size_t begin = 0;
            while (begin < text.size() && isNetpbmSpace(text[begin])) ++begin;
            if (begin == text.size() || text[begin] == '#') continue;
            std::size_t end = begin;
            while (end < text.size() && !isNetpbmSpace(text[end])) ++end;
            const std::string keyword = text.substr(begin, end - begin);
            if (keyword == "ENDHDR") break;
            if (keyword == "TUPLTYPE") {
                checkTupleType(text.substr(end));
                continue;
            }
            bool known = false;
            for (Field& field : fields) {
                if (keyword == field.name) {
                    *field.value = pamNumber(text, end, keyword);
                    field.seen = known = true;
                }
            }
            if (!known) fail("malformed header: unknown PAM keyword \"" + keyword + "\"");
        }
        for (const Field& field : fields) {
            if (!field.seen) fail(std::string("malformed header: no ") + field.name + " line");
        }
    }

    std::FILE* _file;
    const std::string& _path;
};

// The fewest bytes the raster can take: exact for a raw raster, one byte per sample (a digit)
// for a plain one, whose samples may be as short as that.
std::uint64_t leastRasterBytes(const NetpbmHeader& header) {
    const std::uint64_t bytesPerSample = header.maxval > kOneByteMaxval ? 2 : 1;
    const std::uint64_t samples = header.width * header.height * header.depth;
    if (isPlain(header)) return samples;
    if (header.kind == '4') return (header.width + 7) / 8 * header.height;
    return samples * bytesPerSample;
}

NetpbmHeader parseAndCheckHeader(const ImageSource& source) {
    const NetpbmHeader header = NetpbmHeaderParser(source.file, source.path).parse();
    checkDimensions(source, header.width, header.height);
    if (header.maxval == 0) {
        failToRead(source.path, "malformed header: the maximum sample value is 0");
    }
    if (header.maxval > kNetpbmLargestMaxval) {
        failToRead(source.path, "malformed header: the maximum sample value " +
                                    std::to_string(header.maxval) + " is above " +
                                    std::to_string(kNetpbmLargestMaxval));
    }
    if (header.depth == 0) failToRead(source.path, "malformed header: the depth is 0");
    if (header.depth > kLargestDepth) {
        failToRead(source.path, "unsupported PAM depth " + std::to_string(header.depth) +
                                    " (1 to 4: grey or RGB, with or without alpha)");
    }
    // Dimensions are at most 2^28 and the depth at most 4, so these products fit easily.
    if (source.size < header.rasterOffset ||
        source.size - header.rasterOffset < leastRasterBytes(header)) {
        failToRead(source.path, "file ends inside the pixel data");
    }
    return header;
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

// What the raster read needs and produces, kept outside the setjmp() frame: plain data only.
struct RasterCall {
    struct pam* pam;
    tuple* row;  // allocated by libnetpbm, freed by RowGuard
    unsigned* red;
    unsigned* green;
    unsigned* blue;
    unsigned scale;  // multiplies every sample: 255 for a bitmap's 0/1, else 1
};

// Frees the tuple row on every path out of readNetpbm.
class RowGuard {
  public:
    explicit RowGuard(RasterCall& call) : _call(call) {}
    ~RowGuard() {
        if (_call.row != nullptr) pnm_freepamrow(_call.row);
    }
    RowGuard(const RowGuard&) = delete;
    RowGuard& operator=(const RowGuard&) = delete;

  private:
    RasterCall& _call;
};

// Reads every row into the planes.  Grey (depth 1 or 2) fills all three planes from sample 0;
// RGB (depth 3 or 4) takes samples 0 to 2; a fourth or second sample is alpha and is dropped.
void readRaster(RasterCall& call) {
    const struct pam& pam = *call.pam;
    call.row = pnm_allocpamrow(&pam);
    const bool grey = pam.depth < kRgbDepth;
    std::size_t at = 0;
    for (int r = 0; r < pam.height; ++r) {
        pnm_readpamrow(&pam, call.row);
        for (int c = 0; c < pam.width; ++c, ++at) {
            const tuple t = call.row[c];
            call.red[at] = static_cast<unsigned>(t[0]) * call.scale;
            call.green[at] = static_cast<unsigned>(grey ? t[0] : t[1]) * call.scale;
            call.blue[at] = static_cast<unsigned>(grey ? t[0] : t[2]) * call.scale;
        }
    }
}

// Runs readRaster with libnetpbm's error exit leading back here.  Returns false when libnetpbm
// reported an error.  Only trivially destructible locals live in this frame, and `previous`
// is not changed between setjmp() and a longjmp().
bool readRasterGuarded(RasterCall& call) {
    std::jmp_buf env;
    std::jmp_buf* previous = nullptr;
    pm_setjmpbufsave(&env, &previous);
    if (setjmp(env) != 0) {
        pm_setjmpbuf(previous);
        return false;
    }
    readRaster(call);
    pm_setjmpbuf(previous);
    return true;
}

std::string netpbmReason(const std::string& captured) {
    std::string reason = captured.empty() ? std::string("not a valid Netpbm image") : captured;
    while (!reason.empty() && isNetpbmSpace(static_cast<unsigned char>(reason.back()))) {
        reason.pop_back();
    }
    return reason;
}

// The libnetpbm description of a raster with this header, starting at the file's position.
struct pam describeRaster(const NetpbmHeader& header, std::FILE* file) {
    struct pam pam;
    std::memset(&pam, 0, sizeof pam);
    pam.size = sizeof pam;
    pam.len = sizeof pam;
    pam.file = file;
    pam.format = 'P' * 256 + header.kind;  // PBM_FORMAT ... PAM_FORMAT
    pam.plainformat = 0;
    pam.width = static_cast<int>(header.width);
    pam.height = static_cast<int>(header.height);
    pam.depth = static_cast<unsigned>(header.depth);
    pam.maxval = header.maxval;
    pam.bytes_per_sample = header.maxval > kOneByteMaxval ? 2 : 1;
    return pam;
}

}  // namespace

ImageHeader readNetpbmHeader(const ImageSource& source) {
    const NetpbmHeader header = parseAndCheckHeader(source);
    return {static_cast<std::uint32_t>(header.height), static_cast<std::uint32_t>(header.width),
            isBitmap(header) ? kBitmapMaxval : static_cast<unsigned>(header.maxval)};
}

RgbImage readNetpbm(const ImageSource& source) {
    const NetpbmHeader header = parseAndCheckHeader(source);
    const auto rows = static_cast<std::uint32_t>(header.height);
    const auto cols = static_cast<std::uint32_t>(header.width);
    Array<unsigned> red(rows, cols, source.pool), green(rows, cols, source.pool),
        blue(rows, cols, source.pool);

    struct pam pam = describeRaster(header, source.file);
    RasterCall call{&pam,         nullptr,     red.data(),
                    green.data(), blue.data(), isBitmap(header) ? kBitmapMaxval : 1u};
    std::string netpbmError;
    {
        const NetpbmSession session(netpbmError);
        const RowGuard guard(call);
        if (!readRasterGuarded(call)) {
            if (std::feof(source.file)) failToRead(source.path, "file ends inside the pixel data");
            failToRead(source.path, netpbmReason(netpbmError));
        }
    }
    const unsigned maxval = isBitmap(header) ? kBitmapMaxval : static_cast<unsigned>(header.maxval);
    return RgbImage(std::move(red), std::move(green), std::move(blue), maxval);
}

}  // namespace lumetra
