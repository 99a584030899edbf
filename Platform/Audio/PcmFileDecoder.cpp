// Direct reading of uncompressed WAV and AIFF files: the header is walked the way FFmpeg's
// demuxers walk it, and any file where the two could part (a layout or chunk FFmpeg treats
// specially, a damaged or truncated file, compressed audio inside the container) is left to FFmpeg.
// Samples convert with the same arithmetic as FFmpeg's, so both give the same floats.

#include "Platform/Audio/AudioDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>

namespace vt::detail {

namespace {

// How samples are stored; none for what the direct reader leaves to FFmpeg.
enum class Encoding { none, unsigned8, signed8, signed16, signed24, signed32, float32, float64 };

int bytesPerSample(Encoding encoding) {
    switch (encoding) {
    case Encoding::unsigned8:
    case Encoding::signed8:
        return 1;
    case Encoding::signed16:
        return 2;
    case Encoding::signed24:
        return 3;
    case Encoding::signed32:
    case Encoding::float32:
        return 4;
    case Encoding::float64:
        return 8;
    case Encoding::none:
        break;
    }
    return 0;
}

// Where and how a file's samples lie.
struct PcmLayout {
    Encoding encoding = Encoding::signed16;
    bool bigEndian = false;
    int channels = 0;
    int rate = 0;
    int64_t dataStart = 0;
    int64_t frames = 0;
    int64_t statedFrames = 0; // the length the header gives, as FFmpeg estimates it
    int frameBytes() const { return bytesPerSample(encoding) * channels; }
};

// More channels than any recording has; such a file goes to FFmpeg, which has its own limits.
constexpr int mostChannels = 64;
// FFmpeg looks for compressed audio wrapped in PCM this far into the data.
constexpr size_t wrappedAudioWindow = 65536;

constexpr uint32_t tag(const char (&text)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(text[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(text[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(text[3])) << 24;
}

uint32_t le16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}
uint32_t le32(const uint8_t* p) {
    return le16(p) | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]);
}
uint32_t be32(const uint8_t* p) {
    return be16(p) << 16 | be16(p + 2);
}
uint64_t be64(const uint8_t* p) {
    return static_cast<uint64_t>(be32(p)) << 32 | be32(p + 4);
}

// Reads up to size bytes at offset; returns how many (fewer only at the end of the file), or -1
// on a read error.
ssize_t readAt(int fd, int64_t offset, void* out, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, static_cast<uint8_t*>(out) + done, size - done,
                                    static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool readExactly(int fd, int64_t offset, void* out, size_t size) {
    return readAt(fd, offset, out, size) == static_cast<ssize_t>(size);
}

// The integer encoding FFmpeg picks for a sample width in bits: whole bytes, unsigned for 8 bits
// in WAV; none for widths it reads otherwise.
Encoding integerEncoding(uint32_t bits, bool eightBitUnsigned) {
    switch ((bits + 7) / 8) {
    case 1:
        return eightBitUnsigned ? Encoding::unsigned8 : Encoding::signed8;
    case 2:
        return Encoding::signed16;
    case 3:
        return Encoding::signed24;
    case 4:
        return Encoding::signed32;
    default:
        return Encoding::none;
    }
}

// True when the bytes hold a marker of compressed audio carried in PCM samples (IEC 61937 bursts,
// DTS sync words): FFmpeg decodes such a file as that audio.
bool holdsWrappedAudio(const uint8_t* bytes, size_t size) {
    static constexpr uint32_t markers[] = {
        0x72F81F4E, // IEC 61937 preamble, little-endian words
        0xFE7F0180, // DTS, 16-bit little-endian words
        0x7FFE8001, // DTS, 16-bit big-endian words
        0xFF1F00E8, // DTS, 14-bit little-endian words
        0x1FFFE800, // DTS, 14-bit big-endian words
    };
    uint32_t last4 = 0;
    for (size_t i = 0; i < size; ++i) {
        last4 = last4 << 8 | bytes[i];
        if (i >= 3 && std::find(std::begin(markers), std::end(markers), last4) != std::end(markers))
            return true;
    }
    return false;
}

// The format chunk of a WAV file, when it describes PCM or float samples FFmpeg reads as such.
std::optional<PcmLayout> wavFormat(const uint8_t* fmt, uint32_t size) {
    if (size < 16 || size > 64)
        return std::nullopt;
    const uint32_t formatTag = le16(fmt);
    const uint32_t channels = le16(fmt + 2);
    const uint32_t rate = le32(fmt + 4);
    const uint32_t blockAlign = le16(fmt + 12);
    const uint32_t bits = le16(fmt + 14);
    // FFmpeg keeps the bytes that follow the format (cbSize of them) as codec data, which can
    // change how it reads 32-bit samples: only files with none, or the extensible format's own 22.
    const uint32_t extraSize = size >= 18 ? std::min(size - 18, le16(fmt + 16)) : 0;
    uint32_t subformat = formatTag;
    if (formatTag == 0xFFFE) {
        static constexpr uint8_t baseGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                     0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        if (extraSize != 22 || std::memcmp(fmt + 28, baseGuidTail, sizeof baseGuidTail) != 0)
            return std::nullopt;
        // FFmpeg takes the valid bits as the sample width: only files where both agree.
        const uint32_t validBits = le16(fmt + 18);
        if (validBits != 0 && validBits != bits)
            return std::nullopt;
        subformat = le32(fmt + 24);
    } else if (extraSize != 0) {
        return std::nullopt;
    }
    Encoding encoding = Encoding::none;
    if (subformat == 1)
        encoding = integerEncoding(bits, true);
    else if (subformat == 3 && (bits == 32 || bits == 64))
        encoding = bits == 32 ? Encoding::float32 : Encoding::float64;
    if (encoding == Encoding::none || bits == 0 || channels < 1 || channels > mostChannels || rate < 1 ||
        rate > 0x7FFFFFFF || blockAlign != channels * static_cast<uint32_t>(bytesPerSample(encoding)))
        return std::nullopt;
    PcmLayout layout;
    layout.encoding = encoding;
    layout.channels = static_cast<int>(channels);
    layout.rate = static_cast<int>(rate);
    return layout;
}

// True when FFmpeg, after the first data chunk ends, would find another one and read it too.
bool moreDataFollows(int fd, int64_t fileSize, int64_t position) {
    uint8_t header[8];
    for (int chunks = 0; position + 4 <= fileSize; ++chunks) {
        const ssize_t got = readAt(fd, position, header, sizeof header);
        if (got < 4 || le32(header) == tag("data") || chunks > 1000)
            return true; // unreadable, another data chunk, or a walk too long to follow: FFmpeg's call
        if (got < 8)
            return false;
        const uint32_t size = le32(header + 4);
        position += 8 + static_cast<int64_t>(size) + (size & 1);
    }
    return false;
}

// A WAV file FFmpeg reads as plain PCM from its one data chunk: its layout, or nothing.
std::optional<PcmLayout> wavLayout(int fd, int64_t fileSize, const uint8_t* head, size_t headSize) {
    if (le32(head) != tag("RIFF") || le32(head + 8) != tag("WAVE"))
        return std::nullopt;
    // A header FFmpeg's probe gives to another format (a voice recorder's, whose first chunk is
    // a 16-byte format and whose byte 256 is 0x84 followed by 0).
    if (headSize >= 512 && le32(head + 16) == 16 && head[256] == 0x84 && head[257] == 0)
        return std::nullopt;
    std::optional<PcmLayout> layout;
    int64_t dataStart = -1;
    int64_t dataSize = -1;
    int64_t position = 12;
    for (int chunks = 0; position + 8 <= fileSize; ++chunks) {
        uint8_t header[8];
        if (chunks > 1000 || !readExactly(fd, position, header, sizeof header))
            return std::nullopt;
        const uint32_t id = le32(header);
        const uint32_t size = le32(header + 4);
        const int64_t body = position + 8;
        const int64_t next = body + size;
        if (id == tag("fmt ") && !layout) {
            uint8_t fmt[64];
            if (size > sizeof fmt || next > fileSize || !readExactly(fd, body, fmt, size))
                return std::nullopt;
            layout = wavFormat(fmt, size);
            if (!layout)
                return std::nullopt;
        } else if (id == tag("data")) {
            // A second data chunk (FFmpeg reads from the last), or one of unknown length.
            if (dataStart >= 0 || size == 0xFFFFFFFF)
                return std::nullopt;
            dataStart = body;
            dataSize = size;
            if (size == 0)
                break; // FFmpeg stops at a data chunk of no stated length
        } else if (id == tag("XMA2") || id == tag("SMV0")) {
            return std::nullopt;
        } else if (id == tag("bext")) {
            // FFmpeg reads the broadcast fields (602 bytes at least) and fails when the file ends first.
            if (body + std::max<int64_t>(602, size) > fileSize)
                return std::nullopt;
        } else if (id == tag("LIST") && size < 4) {
            return std::nullopt;
        }
        if (next >= fileSize)
            break;
        position = next + (next & 1);
    }
    if (!layout || dataStart < 0)
        return std::nullopt;
    // A data chunk of no stated length is read to the end of the file: only when nothing follows.
    if (dataSize == 0 && dataStart != fileSize)
        return std::nullopt;
    const int64_t dataEnd = dataStart + dataSize;
    if (dataEnd > fileSize || moreDataFollows(fd, fileSize, dataEnd))
        return std::nullopt;
    if (layout->encoding != Encoding::float32 && layout->encoding != Encoding::float64) {
        std::vector<uint8_t> window(
            static_cast<size_t>(std::min<int64_t>(wrappedAudioWindow, fileSize - dataStart)));
        if (!readExactly(fd, dataStart, window.data(), window.size()) ||
            holdsWrappedAudio(window.data(), window.size()))
            return std::nullopt;
    }
    layout->dataStart = dataStart;
    layout->frames = dataSize / layout->frameBytes();
    layout->statedFrames = layout->frames;
    // A last partial frame is dropped as FFmpeg drops it; data shorter than one frame fails there.
    if (layout->frames == 0 && dataSize > 0)
        return std::nullopt;
    return layout;
}

// The sample rate of an AIFF header's 80-bit float, when it is a whole number FFmpeg reads as is.
std::optional<int> aiffRate(const uint8_t* extended) {
    const int exponent = static_cast<int>(be16(extended)) - 16383 - 63;
    const uint64_t mantissa = be64(extended + 2);
    if (exponent > 0 || exponent < -63)
        return std::nullopt;
    const int shift = -exponent;
    if (shift > 0 && (mantissa & ((uint64_t{1} << shift) - 1)) != 0)
        return std::nullopt;
    const uint64_t rate = mantissa >> shift;
    if (rate < 1 || rate > 0x7FFFFFFF)
        return std::nullopt;
    return static_cast<int>(rate);
}

// The common chunk of an AIFF or AIFF-C file, when it describes samples FFmpeg reads as PCM.
// compressedForm: the chunk names a compression type (an AIFF-C file, or one whose version says so).
std::optional<PcmLayout> aiffFormat(const uint8_t* comm, uint32_t size, bool compressedForm) {
    if (size < 18 || (size & 1) != 0)
        return std::nullopt;
    const uint32_t channels = be16(comm);
    const uint32_t frames = be32(comm + 2);
    const uint32_t bits = be16(comm + 6);
    const auto rate = aiffRate(comm + 8);
    // FFmpeg refuses a stated length of 2^31 frames or more.
    if (!rate || channels < 1 || channels > mostChannels || frames > 0x7FFFFFFF)
        return std::nullopt;
    PcmLayout layout;
    layout.channels = static_cast<int>(channels);
    layout.rate = *rate;
    layout.statedFrames = frames;
    layout.bigEndian = true;
    Encoding encoding = bits >= 1 && bits <= 32 ? integerEncoding(bits, false) : Encoding::none;
    if (compressedForm && size >= 22) {
        // FFmpeg matches the compression type exactly, then regardless of case.
        uint32_t type = be32(comm + 18);
        for (int shift = 0; shift < 32; shift += 8) {
            const uint32_t byte = (type >> shift) & 0xFF;
            if (byte >= 'a' && byte <= 'z')
                type -= (0x20u << shift);
        }
        if (type == 0x464C3332) { // FL32
            encoding = Encoding::float32;
        } else if (type == 0x464C3634) { // FL64
            encoding = Encoding::float64;
        } else if (type == 0x534F5754 && bits == 16) { // SOWT: little-endian 16-bit
            encoding = Encoding::signed16;
            layout.bigEndian = false;
        } else if (type != 0x4E4F4E45 && type != 0x54574F53) { // NONE, TWOS: big-endian by the width
            return std::nullopt;
        }
    }
    if (encoding == Encoding::none)
        return std::nullopt;
    layout.encoding = encoding;
    return layout;
}

// An AIFF or AIFF-C file FFmpeg reads as plain PCM: its layout, or nothing.
std::optional<PcmLayout> aiffLayout(int fd, int64_t fileSize, const uint8_t* head) {
    if (le32(head) != tag("FORM") || (le32(head + 8) != tag("AIFF") && le32(head + 8) != tag("AIFC")))
        return std::nullopt;
    bool compressedForm = le32(head + 8) == tag("AIFC");
    const int64_t formEnd = 8 + static_cast<int64_t>(be32(head + 4));
    if (be32(head + 4) >= 0x7FFFFFFF - 8 || formEnd > fileSize)
        return std::nullopt;
    std::optional<PcmLayout> layout;
    int64_t soundStart = -1;
    int64_t soundEnd = -1;
    int64_t position = 12;
    for (int chunks = 0; position < formEnd; ++chunks) {
        uint8_t header[8];
        if (chunks > 1000 || position + 8 > formEnd || !readExactly(fd, position, header, sizeof header))
            return std::nullopt;
        const uint32_t id = le32(header);
        const uint32_t size = be32(header + 4);
        const int64_t body = position + 8;
        if (size >= 0x7FFFFFFF - 8 || body + size > formEnd)
            return std::nullopt;
        if (id == tag("COMM")) {
            uint8_t comm[64];
            if (layout || size > sizeof comm || !readExactly(fd, body, comm, size))
                return std::nullopt;
            layout = aiffFormat(comm, size, compressedForm);
            if (!layout)
                return std::nullopt;
            if (soundStart >= 0)
                break; // FFmpeg reads no further chunk once it has both
        } else if (id == tag("SSND")) {
            uint8_t offset[4];
            if (soundStart >= 0 || size < 8 || !readExactly(fd, body, offset, sizeof offset))
                return std::nullopt;
            soundStart = body + 8 + be32(offset);
            soundEnd = body + size;
        } else if (id == tag("FVER")) {
            // FFmpeg reads the version and takes the next chunk from there: only the usual one.
            uint8_t version[4];
            if (size != 4 || !readExactly(fd, body, version, sizeof version) || be32(version) != 0xA2805140)
                return std::nullopt;
            compressedForm = true;
        } else if (id == 0 || id == tag("ID3 ") || id == tag("CHAN") || id == tag("wave") ||
                   id == tag("APCM")) {
            return std::nullopt; // chunks that change how FFmpeg reads the file, or where it stops
        }
        position = body + size + (size & 1);
    }
    if (!layout || soundStart < 0 || soundStart > soundEnd)
        return std::nullopt;
    layout->dataStart = soundStart;
    layout->frames = (soundEnd - soundStart) / layout->frameBytes();
    if (layout->frames == 0 && soundEnd > soundStart)
        return std::nullopt;
    return layout;
}

// Loads sample `index` of the given encoding and byte order from raw bytes as FFmpeg's decoders
// hand it on: integers widened to the next of 8, 16 or 32 bits (24-bit ones in the upper bytes of
// 32), then scaled to −1…1 as FFmpeg's samples are; floats as they are.
template <Encoding E, bool BigEndian> float sampleAt(const uint8_t* p) {
    if constexpr (E == Encoding::unsigned8) {
        return static_cast<float>(static_cast<int>(p[0]) - 128) * (1.0f / 128.0f);
    } else if constexpr (E == Encoding::signed8) {
        return static_cast<float>(static_cast<int8_t>(p[0])) * (1.0f / 128.0f);
    } else if constexpr (E == Encoding::signed16) {
        const uint32_t bits = BigEndian ? be16(p) : le16(p);
        return static_cast<float>(static_cast<int16_t>(bits)) * (1.0f / 32768.0f);
    } else if constexpr (E == Encoding::signed24) {
        const uint32_t bits = BigEndian ? (be16(p) << 16 | static_cast<uint32_t>(p[2]) << 8)
                                        : (le16(p) << 8 | static_cast<uint32_t>(p[2]) << 24);
        return static_cast<float>(static_cast<int32_t>(bits)) * (1.0f / 2147483648.0f);
    } else if constexpr (E == Encoding::signed32) {
        const uint32_t bits = BigEndian ? be32(p) : le32(p);
        return static_cast<float>(static_cast<int32_t>(bits)) * (1.0f / 2147483648.0f);
    } else if constexpr (E == Encoding::float32) {
        const uint32_t bits = BigEndian ? be32(p) : le32(p);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return finiteOrZero(value);
    } else {
        const uint64_t bits = BigEndian ? be64(p) : static_cast<uint64_t>(le32(p + 4)) << 32 | le32(p);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return finiteOrZero(value);
    }
}

// Appends the frames' samples to each channel's array, converted a block at a time (appending a
// block spares the arrays the zero-filling a resize would do).
template <Encoding E, bool BigEndian>
void convertFrames(const uint8_t* bytes, size_t frames, std::vector<std::vector<float>>& out) {
    const size_t channels = out.size();
    const size_t width = static_cast<size_t>(bytesPerSample(E));
    const size_t stride = width * channels;
    float block[2048];
    for (size_t c = 0; c < channels; ++c) {
        const uint8_t* source = bytes + c * width;
        for (size_t done = 0; done < frames;) {
            const size_t take = std::min(frames - done, std::size(block));
            for (size_t i = 0; i < take; ++i)
                block[i] = sampleAt<E, BigEndian>(source + (done + i) * stride);
            out[c].insert(out[c].end(), block, block + take);
            done += take;
        }
    }
}

template <bool BigEndian>
void convertFrames(Encoding encoding, const uint8_t* bytes, size_t frames,
                   std::vector<std::vector<float>>& out) {
    switch (encoding) {
    case Encoding::unsigned8:
        return convertFrames<Encoding::unsigned8, BigEndian>(bytes, frames, out);
    case Encoding::signed8:
        return convertFrames<Encoding::signed8, BigEndian>(bytes, frames, out);
    case Encoding::signed16:
        return convertFrames<Encoding::signed16, BigEndian>(bytes, frames, out);
    case Encoding::signed24:
        return convertFrames<Encoding::signed24, BigEndian>(bytes, frames, out);
    case Encoding::signed32:
        return convertFrames<Encoding::signed32, BigEndian>(bytes, frames, out);
    case Encoding::float32:
        return convertFrames<Encoding::float32, BigEndian>(bytes, frames, out);
    case Encoding::float64:
        return convertFrames<Encoding::float64, BigEndian>(bytes, frames, out);
    case Encoding::none:
        return;
    }
}

class PcmFileDecoder final : public AudioDecoder {
public:
    PcmFileDecoder(const std::filesystem::path& path, FileHandle& file, const PcmLayout& layout)
        : path(path), file(std::move(file)), layout(layout) {
        ::posix_fadvise(this->file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    }

    double sampleRate() const override { return layout.rate; }
    int channelCount() const override { return layout.channels; }
    std::optional<int64_t> estimatedFrameCount() const override {
        return layout.statedFrames > 0 ? std::optional(layout.statedFrames) : std::nullopt;
    }

    size_t readAppending(std::vector<std::vector<float>>& out, size_t n) override {
        out.resize(static_cast<size_t>(layout.channels));
        const auto frameBytes = static_cast<size_t>(layout.frameBytes());
        const size_t wanted =
            static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), layout.frames - nextFrame));
        if (wanted == 0)
            return 0;
        bytes.resize(wanted * frameBytes);
        const ssize_t got =
            readAt(file.get(), layout.dataStart + nextFrame * static_cast<int64_t>(frameBytes), bytes.data(),
                   bytes.size());
        if (got < 0)
            throw AudioFileError("The file " + quotedName(path) + " could not be read.");
        const size_t frames = static_cast<size_t>(got) / frameBytes;
        if (frames < wanted)
            layout.frames = nextFrame + static_cast<int64_t>(frames); // the file was cut short meanwhile
        if (layout.bigEndian)
            convertFrames<true>(layout.encoding, bytes.data(), frames, out);
        else
            convertFrames<false>(layout.encoding, bytes.data(), frames, out);
        nextFrame += static_cast<int64_t>(frames);
        return frames;
    }

private:
    std::filesystem::path path;
    FileHandle file;
    PcmLayout layout;
    int64_t nextFrame = 0;
    std::vector<uint8_t> bytes;
};

} // namespace

std::unique_ptr<AudioDecoder> openPcmDecoder(const std::filesystem::path& path, FileHandle& file) {
    struct stat info {};
    if (::fstat(file.get(), &info) != 0)
        return nullptr;
    const int64_t fileSize = info.st_size;
    uint8_t head[512];
    const ssize_t headSize = readAt(file.get(), 0, head, sizeof head);
    if (headSize < 12)
        return nullptr;
    std::optional<PcmLayout> layout = wavLayout(file.get(), fileSize, head, static_cast<size_t>(headSize));
    if (!layout)
        layout = aiffLayout(file.get(), fileSize, head);
    if (!layout)
        return nullptr;
    return std::make_unique<PcmFileDecoder>(path, file, *layout);
}

} // namespace vt::detail
