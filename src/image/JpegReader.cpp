#include "image/JpegReader.h"

// JPEG through libjpeg-turbo.
//
// libjpeg reports errors through error_exit(), which must not return; ours longjmp()s back to
// runJpegStep(), whose setjmp() frame holds only trivial locals.  Everything the library calls
// read or write lives in a plain JpegCall outside that frame, so a longjmp() skips no C++
// destructor, and JpegGuard destroys the decompressor on every path.
//
// libjpeg only warns when the data runs out or is corrupt, and then goes on with invented
// pixels (grey blocks, or zeros to the end of the image).  Those warnings end the read here
// with an error, like error_exit(); the others (an unknown JFIF revision, an odd Adobe
// transform code, a bad ICC marker) leave the pixels alone and are ignored.
//
// The first row is decoded before the planes are allocated, so a file whose header declares a
// large image and whose scan holds nothing fails before its pixels cost any memory.

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "image/Array.h"
#include "image/ImageMetadata.h"

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace lumetra {
namespace {

constexpr unsigned k8BitMaxval = 255;
constexpr std::size_t kRgbChannels = 3;
constexpr std::uint64_t kBitsPerByte = 8;
// A marker segment's length field has 16 bits and counts itself.
constexpr unsigned kLargestMarkerBytes = 0xffff - 2;
// APP1 "Exif\0\0" and APP2 "ICC_PROFILE\0", then the part's number (from 1) and the count.
constexpr unsigned char kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr unsigned char kIccSignature[] = {'I', 'C', 'C', '_', 'P', 'R',
                                           'O', 'F', 'I', 'L', 'E', 0};
constexpr std::size_t kIccPartHeader = sizeof kIccSignature + 2;

template <std::size_t N>
bool markerStartsWith(const jpeg_marker_struct& marker, const unsigned char (&signature)[N]) {
    return marker.data_length >= N && std::memcmp(marker.data, signature, N) == 0;
}

// The ICC profile from the APP2 ICC_PROFILE segments, its parts joined in their numbered order;
// empty when there are none.  A set of parts that does not number 1..count exactly once each
// is a problem, and no profile.
struct JpegIcc {
    std::vector<std::uint8_t> profile;
    std::string problem;
};

JpegIcc iccOfMarkers(const jpeg_marker_struct* markers) {
    std::vector<const jpeg_marker_struct*> parts;
    unsigned count = 0;
    for (const jpeg_marker_struct* m = markers; m != nullptr; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || !markerStartsWith(*m, kIccSignature)) continue;
        if (m->data_length < kIccPartHeader) return {{}, "ICC profile segment too short"};
        const unsigned number = m->data[sizeof kIccSignature];
        const unsigned declared = m->data[sizeof kIccSignature + 1];
        if (count == 0) {
            count = declared;
            parts.assign(count, nullptr);
        }
        if (declared != count || number == 0 || number > count || parts[number - 1] != nullptr) {
            return {{}, "ICC profile segments misnumbered; profile ignored"};
        }
        parts[number - 1] = m;
    }
    JpegIcc icc;
    for (const jpeg_marker_struct* part : parts) {
        if (part == nullptr) return {{}, "ICC profile segment missing; profile ignored"};
        icc.profile.insert(icc.profile.end(), part->data + kIccPartHeader,
                           part->data + part->data_length);
    }
    return icc;
}

enum class JpegPhase { Header, Pixels };

// libjpeg's error manager with the jump target and what went wrong.  `base` comes first so
// the library's pointer to it is also a pointer to the whole.
struct JpegErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool endOfFile;
    char message[JMSG_LENGTH_MAX];
};

// Everything the libjpeg calls share, kept outside the setjmp() frame: plain data only.
struct JpegCall {
    jpeg_decompress_struct info;
    JpegErrors errors;
    bool created;
    JpegPhase phase;
    std::FILE* file;
    JSAMPROW row;  // one RGB row of the caller's
};

[[noreturn]] void onJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    errors->endOfFile = errors->base.msg_code == JWRN_JPEG_EOF;
    errors->base.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// A warning that the data ran out or is corrupt, after which libjpeg would invent pixels (an
// AC scan before its component's DC scan leaves that component's blocks made up).
bool warnsOfMissingData(int code) {
    return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
           code == JWRN_MUST_RESYNC || code == JWRN_EXTRANEOUS_DATA ||
           code == JWRN_BOGUS_PROGRESSION;
}

// libjpeg's message sink: level -1 is a warning, higher levels are trace output.
void onJpegMessage(j_common_ptr info, int level) {
    if (level < 0 && warnsOfMissingData(info->err->msg_code)) onJpegError(info);
}

void readHeaderStep(JpegCall& call) {
    call.created = true;  // jpeg_destroy_decompress copes with a create that failed half-way
    jpeg_create_decompress(&call.info);
    jpeg_stdio_src(&call.info, call.file);
    // EXIF (APP1) and ICC profile (APP2) segments are kept for the metadata.
    jpeg_save_markers(&call.info, JPEG_APP0 + 1, kLargestMarkerBytes);
    jpeg_save_markers(&call.info, JPEG_APP0 + 2, kLargestMarkerBytes);
    jpeg_read_header(&call.info, TRUE);
}

// Starts decompression into RGB and decodes the first row.
void startStep(JpegCall& call) {
    call.info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&call.info);
    JSAMPROW rows[1] = {call.row};
    jpeg_read_scanlines(&call.info, rows, 1);
}

void readRowStep(JpegCall& call) {
    JSAMPROW rows[1] = {call.row};
    jpeg_read_scanlines(&call.info, rows, 1);
}

void finishStep(JpegCall& call) {
    jpeg_finish_decompress(&call.info);  // reads on to the end-of-image marker
}

// Runs one step with libjpeg's error exit leading back here.  Returns false when libjpeg
// reported an error.  Only trivially destructible locals live in this frame.
bool runJpegStep(void (*step)(JpegCall&), JpegCall& call) {
    if (setjmp(call.errors.jump) != 0) return false;
    step(call);
    return true;
}

class JpegGuard {
  public:
    explicit JpegGuard(JpegCall& call) : _call(call) {}
    ~JpegGuard() {
        if (_call.created) jpeg_destroy_decompress(&_call.info);
    }
    JpegGuard(const JpegGuard&) = delete;
    JpegGuard& operator=(const JpegGuard&) = delete;

  private:
    JpegCall& _call;
};

[[noreturn]] void failJpeg(const ImageSource& source, const JpegCall& call) {
    if (call.errors.endOfFile) {
        failToRead(source.path, call.phase == JpegPhase::Header
                                    ? "file ends inside the header"
                                    : "file ends inside the pixel data");
    }
    failToRead(source.path,
               std::string(call.phase == JpegPhase::Header ? "malformed JPEG header ("
                                                           : "cannot decode the JPEG data (") +
                   call.errors.message + ")");
}

// A libjpeg read of source, its header read and checked; the guard frees it.
class JpegRead {
  public:
    explicit JpegRead(const ImageSource& source) : _source(source), _call{}, _guard(_call) {
        _call.file = source.file;
        _call.phase = JpegPhase::Header;
        _call.info.err = jpeg_std_error(&_call.errors.base);
        _call.errors.base.error_exit = onJpegError;
        _call.errors.base.emit_message = onJpegMessage;
        if (!runJpegStep(readHeaderStep, _call)) failJpeg(source, _call);
        checkColourSpace(source);
        checkDimensions(source, _call.info.image_width, _call.info.image_height);
        checkLength(source);
        // The saved markers live in libjpeg's image pool, which finishing the read frees.
        _metadata = metadataOfMarkers();
    }

    ImageHeader header() const {
        return {_call.info.image_height, _call.info.image_width, k8BitMaxval};
    }

    DecodedImage decode() {
        const std::uint32_t rows = _call.info.image_height, cols = _call.info.image_width;
        std::vector<JSAMPLE> row(std::size_t{cols} * kRgbChannels);
        _call.row = row.data();
        _call.phase = JpegPhase::Pixels;
        if (!runJpegStep(startStep, _call)) failJpeg(_source, _call);
        if (_call.info.output_components != static_cast<int>(kRgbChannels) ||
            _call.info.output_width != cols || _call.info.output_height != rows) {
            failToRead(_source.path, "unexpected JPEG output layout");
        }

        Array<unsigned> red(rows, cols, _source.pool), green(rows, cols, _source.pool),
            blue(rows, cols, _source.pool);
        for (std::uint32_t r = 0;;) {
            const JSAMPLE* p = row.data();
            for (std::uint32_t c = 0; c < cols; ++c, p += kRgbChannels) {
                red(r, c) = p[0];
                green(r, c) = p[1];
                blue(r, c) = p[2];
            }
            if (++r == rows) break;
            if (!runJpegStep(readRowStep, _call)) failJpeg(_source, _call);
        }
        if (!runJpegStep(finishStep, _call)) failJpeg(_source, _call);
        return {RgbImage(std::move(red), std::move(green), std::move(blue), k8BitMaxval),
                std::move(_metadata)};
    }

  private:
    // The ICC profile and the first EXIF segment's orientation, from the saved markers.
    ImageMetadata metadataOfMarkers() const {
        ImageMetadata metadata;
        JpegIcc icc = iccOfMarkers(_call.info.marker_list);
        metadata.iccProfile = std::move(icc.profile);
        if (!icc.problem.empty()) metadata.problems.push_back("JPEG " + icc.problem);
        for (const jpeg_marker_struct* m = _call.info.marker_list; m != nullptr; m = m->next) {
            if (m->marker == JPEG_APP0 + 1 && markerStartsWith(*m, kExifSignature)) {
                takeExifOrientation(metadata, m->data, m->data_length);
                break;
            }
        }
        return metadata;
    }

    // libjpeg converts only grey and YCbCr/RGB files to RGB; a CMYK or YCCK file (from print
    // work) would fail later with "Unsupported color conversion request".  Said here, from the
    // header, in the terms of the file.
    void checkColourSpace(const ImageSource& source) const {
        const J_COLOR_SPACE space = _call.info.jpeg_color_space;
        if (space == JCS_CMYK || space == JCS_YCCK) {
            failToRead(source.path, std::string("the JPEG file is ") +
                                        (space == JCS_CMYK ? "CMYK" : "YCCK") +
                                        "; the model needs RGB (convert it to RGB first)");
        }
    }

    // In a Huffman-coded file every block a scan covers costs at least one bit (its DC code),
    // and at least one component is coded whole (an AC scan before its component's DC scan
    // is refused as corrupt).  So a header declaring more blocks of its smallest component
    // than the file has bits is refused before the pixels are allocated: a 1182-byte file
    // declaring 16384 x 16384 pixels once decoded its first row and then took 2.3 GB.  An
    // arithmetic-coded scan can code a block in less than a bit, so it has no such bound.
    void checkLength(const ImageSource& source) const {
        if (_call.info.arith_code) return;
        std::uint64_t fewestBlocks = std::numeric_limits<std::uint64_t>::max();
        for (int c = 0; c < _call.info.num_components; ++c) {
            const jpeg_component_info& component = _call.info.comp_info[c];
            fewestBlocks = std::min(fewestBlocks, std::uint64_t{component.width_in_blocks} *
                                                      component.height_in_blocks);
        }
        if (source.size * kBitsPerByte < fewestBlocks) {
            failToRead(source.path, "file ends inside the pixel data");
        }
    }

    const ImageSource& _source;
    JpegCall _call;
    JpegGuard _guard;
    ImageMetadata _metadata;
};

}  // namespace

ImageHeader readJpegHeader(const ImageSource& source) {
    return JpegRead(source).header();
}

DecodedImage readJpeg(const ImageSource& source) {
    return JpegRead(source).decode();
}

}  // namespace lumetra
