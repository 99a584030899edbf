// Direct reading of uncompressed WAV (RIFF, RIFX, RF64, BW64) and AIFF/AIFF-C files. Every PCM form
// these containers hold is either read sample for sample or refused with a text that says why: the
// sample container's width decides how a sample is read and scaled (valid bits do not), and the
// first sound chunk is the one read, as sox reads it. Only compressed audio and A-law/µ-law inside
// such a file is left to FFmpeg.

#include "Platform/Audio/AudioDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>

namespace vt::detail {

namespace {

// How samples are stored.
enum class Encoding { unsigned8, signed8, signed16, signed24, signed32, float32, float64 };

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
    int frameBytes() const { return bytesPerSample(encoding) * channels; }
};

// Why a WAV or AIFF file of uncompressed audio cannot be read, as the end of the error text.
struct Unreadable {
    std::string reason;
};

// More channels than any recording has.
constexpr int mostChannels = 64;
// A walk over more chunks than this is taken for a damaged file.
constexpr int mostChunks = 10000;

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
uint64_t le64(const uint8_t* p) {
    return static_cast<uint64_t>(le32(p + 4)) << 32 | le32(p);
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

// The integer encoding of samples in containers of the given width; 8-bit ones are unsigned in WAV.
Encoding integerEncoding(int containerBytes, bool eightBitUnsigned) {
    switch (containerBytes) {
    case 1:
        return eightBitUnsigned ? Encoding::unsigned8 : Encoding::signed8;
    case 2:
        return Encoding::signed16;
    case 3:
        return Encoding::signed24;
    case 4:
        return Encoding::signed32;
    default:
        throw Unreadable{"it holds " + std::to_string(containerBytes * 8) + "-bit integer samples"};
    }
}

Encoding floatEncoding(int containerBytes) {
    if (containerBytes == 4)
        return Encoding::float32;
    if (containerBytes == 8)
        return Encoding::float64;
    throw Unreadable{"it holds " + std::to_string(containerBytes * 8) + "-bit float samples"};
}

void checkChannelsAndRate(uint32_t channels, double rate) {
    if (channels < 1)
        throw Unreadable{"its header states no channels"};
    if (channels > mostChannels)
        throw Unreadable{"it holds " + std::to_string(channels) + " channels, more than the " +
                         std::to_string(mostChannels) + " that can be read"};
    if (!(rate >= 1 && rate <= 0x7FFFFFFF))
        throw Unreadable{"its header states no valid sample rate"};
}

// ---- WAV ----

// The header fields of a WAV file in its byte order (RIFX files are big-endian throughout).
struct WavOrder {
    bool big = false;
    uint32_t u16(const uint8_t* p) const { return big ? be16(p) : le16(p); }
    uint32_t u32(const uint8_t* p) const { return big ? be32(p) : le32(p); }
    uint64_t u64(const uint8_t* p) const { return big ? be64(p) : le64(p); }
};

// The format tags of integer and float samples; an extensible format names one of them in its
// sub-format. Every other tag is compressed audio (or A-law/µ-law), left to FFmpeg.
constexpr uint32_t pcmFormat = 1;
constexpr uint32_t floatFormat = 3;
constexpr uint32_t extensibleFormat = 0xFFFE;
constexpr size_t extensibleFormatSize = 40;

// The sub-format of an extensible WAV header: the tag its GUID carries, or nothing when the GUID
// names another kind of audio.
std::optional<uint32_t> extensibleSubformat(const uint8_t* guid, const WavOrder& order) {
    static constexpr uint8_t baseTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                             0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    static constexpr uint8_t ambisonicTail[12] = {0x21, 0x07, 0xD3, 0x11, 0x86, 0x44,
                                                  0xC8, 0xC1, 0xCA, 0x00, 0x00, 0x00};
    if (std::memcmp(guid + 4, baseTail, 12) != 0 && std::memcmp(guid + 4, ambisonicTail, 12) != 0)
        return std::nullopt;
    return order.u32(guid);
}

// The layout the format chunk describes (without where the samples lie), or nothing when the file
// holds audio that is not integer or float PCM.
std::optional<PcmLayout> wavFormat(const uint8_t* fmt, size_t size, const WavOrder& order) {
    if (size < 16)
        throw Unreadable{"its format chunk is damaged"};
    uint32_t format = order.u16(fmt);
    const uint32_t channels = order.u16(fmt + 2);
    const uint32_t rate = order.u32(fmt + 4);
    const uint32_t blockAlign = order.u16(fmt + 12);
    const uint32_t bits = order.u16(fmt + 14);
    uint32_t significantBits = bits;
    if (format == extensibleFormat) {
        if (size < extensibleFormatSize)
            throw Unreadable{"its format chunk is damaged"};
        const auto subformat = extensibleSubformat(fmt + 24, order);
        if (!subformat)
            return std::nullopt;
        format = *subformat;
        if (const uint32_t validBits = order.u16(fmt + 18); validBits != 0)
            significantBits = validBits;
    }
    if (format != pcmFormat && format != floatFormat)
        return std::nullopt;
    checkChannelsAndRate(channels, rate);
    // The container is each sample's share of the block, the significant bits in its upper part. A
    // block size that does not divide among the channels is a writer's slip: the bits decide then.
    const int containerBytes = blockAlign != 0 && blockAlign % channels == 0
                                   ? static_cast<int>(blockAlign / channels)
                                   : static_cast<int>((bits + 7) / 8);
    if (containerBytes > 8)
        throw Unreadable{"its format chunk states a block size that does not fit its samples"};
    if (significantBits == 0 || significantBits > static_cast<uint32_t>(containerBytes) * 8 ||
        bits > static_cast<uint32_t>(containerBytes) * 8)
        throw Unreadable{"its format chunk states " + std::to_string(std::max(bits, significantBits)) +
                         "-bit samples in " + std::to_string(containerBytes * 8) + "-bit containers"};
    // Floats fill their containers: a narrower one in a wider container has no known layout.
    if (format == floatFormat && std::min(bits, significantBits) != static_cast<uint32_t>(containerBytes) * 8)
        throw Unreadable{"it holds " + std::to_string(std::min(bits, significantBits)) +
                         "-bit float samples in " + std::to_string(containerBytes * 8) + "-bit containers"};
    PcmLayout layout;
    layout.encoding =
        format == floatFormat ? floatEncoding(containerBytes) : integerEncoding(containerBytes, true);
    layout.bigEndian = order.big;
    layout.channels = static_cast<int>(channels);
    layout.rate = static_cast<int>(rate);
    return layout;
}

// The size a RIFF, RIFX, RF64 or BW64 header gives to data of unknown length.
constexpr uint32_t unknownSize = 0xFFFFFFFF;

// A WAV file's layout; nothing when the file is no WAV file, or holds compressed audio.
std::optional<PcmLayout> wavLayout(int fd, int64_t fileSize, const uint8_t* head) {
    const uint32_t container = le32(head);
    const bool rf64 = container == tag("RF64") || container == tag("BW64");
    if ((container != tag("RIFF") && container != tag("RIFX") && !rf64) || le32(head + 8) != tag("WAVE"))
        return std::nullopt;
    const WavOrder order{container == tag("RIFX")};
    const uint32_t riffSize = order.u32(head + 4);
    std::optional<PcmLayout> layout;
    bool formatSeen = false;
    std::optional<uint64_t> largeDataSize; // an RF64 file's data size, from its "ds64" chunk
    int64_t dataStart = -1;
    uint32_t dataSize = 0;
    int64_t position = 12;
    for (int chunks = 0; position + 8 <= fileSize && !(formatSeen && dataStart >= 0); ++chunks) {
        uint8_t header[8];
        if (chunks > mostChunks || !readExactly(fd, position, header, sizeof header))
            throw Unreadable{"its chunks are damaged"};
        const uint32_t id = le32(header);
        const uint32_t size = order.u32(header + 4);
        const int64_t body = position + 8;
        if (id == tag("fmt ") && !formatSeen) {
            uint8_t fmt[extensibleFormatSize] = {};
            const size_t want = std::min<size_t>(size, sizeof fmt);
            if (!readExactly(fd, body, fmt, want))
                throw Unreadable{"its format chunk is damaged"};
            layout = wavFormat(fmt, want, order);
            if (!layout)
                return std::nullopt;
            formatSeen = true;
        } else if (id == tag("ds64") && rf64 && !largeDataSize) {
            uint8_t sizes[16];
            if (size < sizeof sizes || !readExactly(fd, body, sizes, sizeof sizes))
                throw Unreadable{"its \"ds64\" chunk is damaged"};
            largeDataSize = order.u64(sizes + 8);
        } else if (id == tag("data") && dataStart < 0) {
            dataStart = body;
            dataSize = size;
            if (size == 0 || size == unknownSize || body + size > fileSize)
                break; // of unknown length or cut short: the sound runs to the end of the file
        }
        position = body + static_cast<int64_t>(size) + (size & 1);
    }
    if (!formatSeen)
        throw Unreadable{"it has no format chunk"};
    if (dataStart < 0)
        throw Unreadable{"it has no \"data\" chunk"};
    int64_t dataBytes = fileSize - dataStart;
    if (rf64 && dataSize == unknownSize && largeDataSize)
        dataBytes =
            static_cast<int64_t>(std::min<uint64_t>(*largeDataSize, static_cast<uint64_t>(dataBytes)));
    else if (dataSize == 0 && riffSize != unknownSize && static_cast<int64_t>(riffSize) + 8 > dataStart)
        dataBytes = 0; // a header that covers more than the chunk's header: really empty
    else if (dataSize != 0 && dataSize != unknownSize)
        dataBytes = std::min<int64_t>(dataBytes, dataSize);
    layout->dataStart = dataStart;
    layout->frames = dataBytes / layout->frameBytes();
    return layout;
}

// ---- AIFF ----

// An AIFF header's 80-bit float sample rate, rounded to a whole number of hertz.
double aiffRate(const uint8_t* extended) {
    const int exponent = static_cast<int>(be16(extended) & 0x7FFF) - 16383 - 63;
    const uint64_t mantissa = be64(extended + 2);
    if ((be16(extended) & 0x8000) != 0 || exponent > 0)
        return 0; // negative, or far beyond any rate
    return std::round(std::ldexp(static_cast<double>(mantissa), exponent));
}

// A four-letter code in upper case, as AIFF-C compression types are matched.
uint32_t upperCase(uint32_t code) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t byte = (code >> shift) & 0xFF;
        if (byte >= 'a' && byte <= 'z')
            code -= 0x20u << shift;
    }
    return code;
}

// The compression types of AIFF-C that FFmpeg decodes: A-law, µ-law and compressed audio.
bool decodedByFfmpeg(uint32_t type) {
    static constexpr uint32_t types[] = {tag("ALAW"), tag("ULAW"), tag("MAC3"), tag("MAC6"), tag("GSM "),
                                         tag("G722"), tag("G726"), tag("IMA4"), tag("QDMC"), tag("QDM2"),
                                         tag("QCLP"), tag("SDX2"), tag("ADP4")};
    return std::find(std::begin(types), std::end(types), type) != std::end(types);
}

// The encoding an AIFF-C compression type names for samples of the given width: the container is
// the width rounded up to whole bytes, or fixed by the type.
std::optional<Encoding> aifcEncoding(uint32_t type, uint32_t bits, bool& bigEndian) {
    const int containerBytes = static_cast<int>((bits + 7) / 8);
    switch (upperCase(type)) {
    case tag("NONE"):
    case tag("TWOS"):
        return integerEncoding(containerBytes, false);
    case tag("SOWT"):
        bigEndian = false;
        return integerEncoding(containerBytes, false);
    case tag("RAW "):
        return Encoding::unsigned8;
    case tag("IN24"):
        return Encoding::signed24;
    case tag("IN32"):
        return Encoding::signed32;
    case tag("FL32"):
        return Encoding::float32;
    case tag("FL64"):
        return Encoding::float64;
    default:
        if (decodedByFfmpeg(upperCase(type)))
            return std::nullopt;
        std::string name(4, '?');
        for (size_t i = 0; i < name.size(); ++i) {
            const auto byte = static_cast<char>((type >> (8 * i)) & 0xFF);
            if (byte >= ' ' && byte <= '~')
                name[i] = byte;
        }
        throw Unreadable{"its audio is stored as \"" + name + "\", a form that cannot be read"};
    }
}

// The layout the common chunk describes (without where the samples lie), or nothing when the file
// holds A-law, µ-law or compressed audio. compressionNamed: an AIFF-C file, whose chunk names it.
std::optional<PcmLayout> aiffFormat(const uint8_t* comm, size_t size, bool compressionNamed) {
    if (size < 18)
        throw Unreadable{"its common chunk is damaged"};
    const uint32_t channels = be16(comm);
    const uint32_t bits = be16(comm + 6);
    const double rate = aiffRate(comm + 8);
    PcmLayout layout;
    layout.bigEndian = true;
    if (compressionNamed && size >= 22) {
        const auto encoding = aifcEncoding(le32(comm + 18), bits, layout.bigEndian);
        if (!encoding)
            return std::nullopt;
        layout.encoding = *encoding;
    } else {
        layout.encoding = integerEncoding(static_cast<int>((bits + 7) / 8), false);
    }
    checkChannelsAndRate(channels, rate);
    layout.channels = static_cast<int>(channels);
    layout.rate = static_cast<int>(rate);
    return layout;
}

// An AIFF or AIFF-C file's layout; nothing when the file is neither, or holds A-law, µ-law or
// compressed audio.
std::optional<PcmLayout> aiffLayout(int fd, int64_t fileSize, const uint8_t* head) {
    if (le32(head) != tag("FORM") || (le32(head + 8) != tag("AIFF") && le32(head + 8) != tag("AIFC")))
        return std::nullopt;
    const bool compressionNamed = le32(head + 8) == tag("AIFC");
    std::optional<PcmLayout> layout;
    bool commonSeen = false;
    uint32_t statedFrames = 0;
    int64_t soundStart = -1;
    int64_t soundEnd = -1;
    int64_t position = 12;
    for (int chunks = 0; position + 8 <= fileSize && !(commonSeen && soundStart >= 0); ++chunks) {
        uint8_t header[8];
        if (chunks > mostChunks || !readExactly(fd, position, header, sizeof header))
            throw Unreadable{"its chunks are damaged"};
        const uint32_t id = le32(header);
        const uint32_t size = be32(header + 4);
        const int64_t body = position + 8;
        if (id == tag("COMM") && !commonSeen) {
            uint8_t comm[22] = {};
            const size_t want = std::min<size_t>(size, sizeof comm);
            if (!readExactly(fd, body, comm, want))
                throw Unreadable{"its common chunk is damaged"};
            layout = aiffFormat(comm, want, compressionNamed);
            if (!layout)
                return std::nullopt;
            statedFrames = be32(comm + 2);
            commonSeen = true;
        } else if (id == tag("SSND") && soundStart < 0) {
            uint8_t offset[4];
            if (!readExactly(fd, body, offset, sizeof offset))
                throw Unreadable{"its sound chunk is damaged"};
            soundStart = body + 8 + be32(offset);
            // A chunk of unknown length, or one cut short, runs to the end of the file.
            soundEnd = size == 0 || body + size > fileSize ? fileSize : body + size;
            if (size == 0 || body + size > fileSize)
                break;
        }
        position = body + static_cast<int64_t>(size) + (size & 1);
    }
    if (!commonSeen)
        throw Unreadable{"it has no common chunk"};
    if (soundStart < 0)
        throw Unreadable{"it has no sound chunk"};
    layout->dataStart = soundStart;
    int64_t frames = std::max<int64_t>(0, std::min(soundEnd, fileSize) - soundStart) / layout->frameBytes();
    // The common chunk's count, where it gives one, ends the sound before any padding after it.
    if (statedFrames > 0)
        frames = std::min<int64_t>(frames, statedFrames);
    layout->frames = frames;
    return layout;
}

// Loads one sample of the given encoding and byte order from raw bytes: integers scaled by their
// container's full scale to −1…1 (24-bit ones placed in the upper bytes of 32, so all widths
// convert exactly as FFmpeg's and sox's do); floats as they are.
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
        return layout.frames > 0 ? std::optional(layout.frames) : std::nullopt;
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
    uint8_t head[12];
    if (!readExactly(file.get(), 0, head, sizeof head))
        return nullptr;
    try {
        std::optional<PcmLayout> layout = wavLayout(file.get(), fileSize, head);
        if (!layout)
            layout = aiffLayout(file.get(), fileSize, head);
        if (!layout)
            return nullptr;
        return std::make_unique<PcmFileDecoder>(path, file, *layout);
    } catch (const Unreadable& unreadable) {
        throw AudioFileError("The file " + quotedName(path) + " cannot be read: " + unreadable.reason + ".");
    }
}

} // namespace vt::detail
