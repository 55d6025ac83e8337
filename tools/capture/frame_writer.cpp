#include "frame_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vantrel::capture {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class NullWriter : public FrameWriter {
public:
    bool Write(std::uint32_t, const std::uint8_t*, std::size_t) override { return true; }

    bool Finish() override { return true; }

    void Discard() override {}

    [[nodiscard]] std::string Describe() const override { return "discarded"; }
};

constexpr std::size_t kFileBufferBytes = 256 * 1024;

// The access unit delimiter the driver appends to every H.264 frame.
constexpr std::uint8_t kTrailingDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};

// Appends every frame to one file (or standard output): Annex-B access units, or concatenated
// JPEG pictures. An access unit delimiter at the end of an H.264 frame is written before the
// next frame instead, where a decoder expects it, so that the file does not end in an empty
// access unit.
class FileWriter : public FrameWriter {
public:
    // `removable`: a regular file this writer created or emptied, which Discard removes.
    FileWriter(std::FILE* file, std::string path, bool removable)
        : m_file(file)
        , m_path(std::move(path))
        , m_removable(removable)
        , m_buffer(new char[kFileBufferBytes]) {
        // A few frames per write instead of two writes per frame; Ctrl-C still flushes. The C
        // library takes the size only together with a buffer of the caller's.
        std::setvbuf(m_file, m_buffer.get(), _IOFBF, kFileBufferBytes);
    }

    ~FileWriter() override { Close(); }

    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Write(std::uint32_t, const std::uint8_t* data, std::size_t length) override {
        constexpr std::size_t kDelimiter = sizeof kTrailingDelimiter;
        if (m_heldDelimiter && !Put(kTrailingDelimiter, kDelimiter)) {
            return false;
        }
        m_heldDelimiter = length >= kDelimiter && std::memcmp(data + length - kDelimiter,
                                                              kTrailingDelimiter, kDelimiter) == 0;
        if (!Put(data, m_heldDelimiter ? length - kDelimiter : length)) {
            return false;
        }
        // A player reading standard output gets every frame as it comes, not a block later.
        if (m_file == stdout && std::fflush(m_file) != 0) {
            SetError("cannot write to " + Describe() + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    bool Finish() override {
        if (m_file == nullptr) {
            return Error().empty();
        }
        // The last block goes out on the flush; a file's own close can still fail (a full
        // disk on a network file system).
        const bool flushed = std::fflush(m_file) == 0;
        const int flushError = errno;
        const bool closed = Close();
        if (!flushed || !closed) {
            errno = flushed ? errno : flushError;
            SetError("cannot write to " + Describe() + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    void Discard() override {
        Close();
        if (m_removable) {
            std::error_code ec;
            fs::remove(m_path, ec);
        }
    }

    [[nodiscard]] std::string Describe() const override {
        return m_path == "-" ? "standard output" : m_path;
    }

private:
    bool Put(const std::uint8_t* data, std::size_t length) {
        if (std::fwrite(data, 1, length, m_file) != length) {
            SetError("cannot write to " + Describe() + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    bool Close() {
        if (m_file == nullptr) {
            return true;
        }
        std::FILE* file = m_file;
        m_file = nullptr;
        return file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
    }

    std::FILE* m_file;
    std::string m_path;
    bool m_removable;
    std::unique_ptr<char[]> m_buffer; // outlives the stream: Close flushes it
    bool m_heldDelimiter = false;
};

// Writes each picture to its own numbered file in a folder.
class FolderWriter : public FrameWriter {
public:
    FolderWriter(std::string folder, bool created)
        : m_folder(std::move(folder))
        , m_created(created) {}

    bool Write(std::uint32_t, const std::uint8_t* data, std::size_t length) override {
        char name[32];
        std::snprintf(name, sizeof name, "%06llu.jpg", static_cast<unsigned long long>(m_count++));
        const std::string path = m_folder + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            SetError("cannot write to " + path + ": " + std::strerror(errno));
            return false;
        }
        const bool written = std::fwrite(data, 1, length, file) == length;
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) {
            SetError("cannot write to " + path + ": " + std::strerror(errno));
            return false;
        }
        return true;
    }

    bool Finish() override { return Error().empty(); }

    void Discard() override {
        std::error_code ec;
        if (m_created && fs::is_empty(m_folder, ec)) {
            fs::remove(m_folder, ec);
        }
    }

    [[nodiscard]] std::string Describe() const override { return m_folder + "/NNNNNN.jpg"; }

private:
    std::string m_folder;
    bool m_created;
    unsigned long long m_count = 0;
};

} // namespace

void FrameWriter::SetError(const std::string& what) {
    if (m_error.empty()) {
        m_error = what;
    }
}

std::unique_ptr<FrameWriter> MakeWriter(const std::string& path, bool jpeg, bool overwrite,
                                        std::string& error, bool h265) {
    if (path.empty()) {
        return std::make_unique<NullWriter>();
    }
    if (path == "-") {
        return std::make_unique<FileWriter>(stdout, "-", false);
    }
    const bool h264File = EndsWith(path, ".h264") || EndsWith(path, ".264");
    const bool h265File =
            EndsWith(path, ".h265") || EndsWith(path, ".265") || EndsWith(path, ".hevc");
    const bool isFile = h264File || h265File || EndsWith(path, ".mjpeg") ||
                        EndsWith(path, ".mjpg") || path == "/dev/null";
    const std::string videoRule = h265 ? "an H.265 capture is written to a .h265 file, not to '"
                                       : "an H.264 capture is written to a .h264 file, not to '";
    if (!isFile) {
        if (!jpeg) {
            error = videoRule + path + "'";
            return nullptr;
        }
        std::error_code ec;
        const bool existed = fs::exists(path, ec);
        fs::create_directories(path, ec);
        if (ec || !fs::is_directory(path)) {
            error = "cannot create the folder '" + path + "'";
            return nullptr;
        }
        return std::make_unique<FolderWriter>(path, !existed);
    }
    if (jpeg && (h264File || h265File)) {
        error = "an MJPEG capture is written to a .mjpeg file or a folder, not to '" + path + "'";
        return nullptr;
    }
    if (!jpeg && path != "/dev/null" && (h265 ? !h265File : !h264File)) {
        error = videoRule + path + "'";
        return nullptr;
    }
    // Only a regular file is replaced: devices, pipes and what a link points to are written.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    const bool existed = fs::exists(status);
    if (fs::is_regular_file(status) && !overwrite) {
        error = "'" + path + "' exists: give -y to overwrite it";
        return nullptr;
    }
    // A file made while this run looked is not replaced either.
    std::FILE* file = std::fopen(path.c_str(), existed || overwrite ? "wb" : "wbx");
    if (file == nullptr) {
        error = errno == EEXIST ? "'" + path + "' exists: give -y to overwrite it"
                                : "cannot open '" + path + "' for writing: " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FileWriter>(file, path, !existed || fs::is_regular_file(status));
}

} // namespace vantrel::capture
