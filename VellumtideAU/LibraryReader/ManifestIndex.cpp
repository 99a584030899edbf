#include "VellumtideAU/LibraryReader/ManifestIndex.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Small enough to stay in memory once touched, large enough to keep the reads few.
constexpr std::size_t pieceSize = 256 * 1024;

bool isJsonSpace(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Reads up to size bytes at offset; what it got, or -1.
ssize_t readAt(int descriptor, char* into, std::size_t size, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t count = ::pread(descriptor, into + got, size - got, off_t(offset + got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        if (count == 0)
            break;
        got += std::size_t(count);
    }
    return ssize_t(got);
}

} // namespace

// One pass over the file through the buffer: the top-level list, each sample's text with its peak
// list left out, and where the lists lie. Stops at the first thing of another form.
class ManifestScan {
public:
    ManifestScan(ManifestIndex& index, const std::atomic_bool& stop) : index(index), stop(stop) {
        buffer.resize(pieceSize);
    }

    bool run() {
        char c = 0;
        if (!nextToken(c) || c != '[' || !nextToken(c))
            return false;
        if (c != ']') {
            while (true) {
                if (c != '{' || !sample())
                    return false;
                if (stop.load(std::memory_order_relaxed) || !nextToken(c))
                    return false;
                if (c == ']')
                    break;
                if (c != ',' || !nextToken(c))
                    return false;
            }
        }
        return !nextToken(c) && !failed; // nothing after the list
    }

private:
    bool fill() {
        if (ended)
            return false;
        offset += end;
        const ssize_t count = readAt(index.descriptor, buffer.data(), buffer.size(), offset);
        if (count < 0)
            failed = true;
        position = 0;
        end = count > 0 ? std::size_t(count) : 0;
        ended = end == 0;
        return !ended;
    }
    bool next(char& c) {
        if (position == end && !fill())
            return false;
        c = buffer[position++];
        return true;
    }
    // The next character that is no white space.
    bool nextToken(char& c) {
        while (next(c))
            if (!isJsonSpace(c))
                return true;
        return false;
    }
    std::uint64_t consumed() const { return offset + position; }

    // Past the next ']' (a flat list of numbers holds no other).
    bool skipList() {
        while (true) {
            if (position == end && !fill())
                return false;
            const void* found = std::memchr(buffer.data() + position, ']', end - position);
            if (found) {
                position = std::size_t(static_cast<const char*>(found) - buffer.data()) + 1;
                return true;
            }
            position = end;
        }
    }

    // A string whose opening quote was read, copied into the text; tells whether it held escapes.
    bool string(bool& escapes) {
        escapes = false;
        char c = 0;
        while (next(c)) {
            text += c;
            if (c == '"')
                return true;
            if (c == '\\') {
                escapes = true;
                if (!next(c))
                    return false;
                text += c;
            }
        }
        return false;
    }

    // One sample whose opening brace was read: its text, with "peaks": [] in place of its list,
    // decoded; its list's place noted. Whether it is a key is told by the depth and by what came
    // before (the brace or a comma of the sample itself).
    bool sample() {
        text.clear();
        text.push_back('{');
        int depth = 1;
        bool expectingKey = true;
        bool peaksKey = false;
        std::optional<ManifestIndex::Range> list;
        char c = 0;
        while (depth > 0) {
            if (!next(c))
                return false;
            if (isJsonSpace(c)) {
                if (text.back() != ' ')
                    text += ' '; // tokens stay apart, as they were
                continue;
            }
            text += c;
            switch (c) {
            case '"': {
                bool escapes = false;
                const std::size_t start = text.size();
                if (!string(escapes))
                    return false;
                if (depth == 1 && expectingKey) {
                    // A key written with escapes may name "peaks" too: the strict decoding judges.
                    if (escapes)
                        return false;
                    peaksKey = std::string_view(text).substr(start, text.size() - start - 1) == "peaks";
                    expectingKey = false;
                }
                break;
            }
            case ':':
                if (depth == 1 && peaksKey) {
                    if (list || !nextToken(c) || c != '[')
                        return false; // a second list, or a value of another kind
                    const std::uint64_t begin = consumed() - 1;
                    if (!skipList())
                        return false;
                    list = ManifestIndex::Range{begin, consumed()};
                    text += "[]";
                    peaksKey = false;
                }
                break;
            case ',':
                expectingKey = depth == 1;
                break;
            case '{':
            case '[':
                ++depth;
                break;
            case '}':
            case ']':
                --depth;
                break;
            default:
                break;
            }
        }
        if (failed || !list)
            return false;
        auto record = libraryfiles::decodeManifestSampleWithoutPeaks(text);
        if (!record)
            return false;
        index.records.push_back(std::move(*record));
        index.lists.push_back(*list);
        return true;
    }

    ManifestIndex& index;
    const std::atomic_bool& stop;
    std::vector<char> buffer;
    std::uint64_t offset = 0; // of the buffer's first byte in the file
    std::size_t position = 0;
    std::size_t end = 0;
    bool ended = false;
    bool failed = false;
    std::string text; // of the sample being read
};

std::optional<ManifestIndex> ManifestIndex::read(const std::filesystem::path& file,
                                                 const std::atomic_bool& stop) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    ManifestIndex index(descriptor);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    ManifestScan scan(index, stop);
    if (!scan.run() || stop.load(std::memory_order_relaxed))
        return std::nullopt;
    return index;
}

ManifestIndex::ManifestIndex(ManifestIndex&& other) noexcept
    : descriptor(std::exchange(other.descriptor, -1)), records(std::move(other.records)),
      lists(std::move(other.lists)) {}

ManifestIndex::~ManifestIndex() {
    if (descriptor >= 0)
        ::close(descriptor);
}

std::optional<std::vector<float>> ManifestIndex::peaks(std::size_t sample) const {
    const Range range = lists.at(sample);
    std::string text(range.end - range.begin, '\0');
    if (readAt(descriptor, text.data(), text.size(), range.begin) != ssize_t(text.size()))
        return std::nullopt;
    return libraryfiles::decodePeakList(text);
}

bool ManifestIndex::readPeaks(const std::function<void(std::size_t, std::vector<float>)>& take,
                              const std::atomic_bool& stop) const {
    std::vector<char> buffer(pieceSize);
    std::uint64_t bufferStart = 0;
    std::size_t bufferSize = 0;
    for (std::size_t sample = 0; sample < lists.size(); ++sample) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        const Range range = lists[sample];
        const std::size_t length = range.end - range.begin;
        if (range.begin < bufferStart || range.end > bufferStart + bufferSize) {
            buffer.resize(std::max(buffer.size(), length));
            const ssize_t got = readAt(descriptor, buffer.data(), buffer.size(), range.begin);
            if (got < ssize_t(length))
                return false;
            bufferStart = range.begin;
            bufferSize = std::size_t(got);
        }
        auto decoded = libraryfiles::decodePeakList(
            std::string_view(buffer.data() + (range.begin - bufferStart), length));
        if (!decoded)
            return false;
        take(sample, std::move(*decoded));
    }
    return true;
}
