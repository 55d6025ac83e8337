#include "frame_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace vantrel::capture {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class NullWriter : public FrameWriter {
public:
    bool Write(std::uint32_t, const std::uint8_t*, std::size_t) override { return true; }

    [[nodiscard]] std::string Describe() const override { return "discarded"; }
};

constexpr std::size_t kFileBufferBytes = 256 * 1024;

// The access unit delimiter the driver appends to every H.264 frame.
constexpr std::uint8_t kTrailingDelimiter[] = {0x00, 0x00, 0x01, 0x09, 0x30};

// Appends every frame to one file: Annex-B access units, or concatenated JPEG pictures.
// An access unit delimiter at the end of an H.264 frame is written before the next frame
// instead, where a decoder expects it, so that the file does not end in an empty access unit.
class FileWriter : public FrameWriter {
public:
    FileWriter(std::FILE* file, std::string path)
        : m_file(file)
        , m_path(std::move(path))
        , m_buffer(new char[kFileBufferBytes]) {
        // A few frames per write instead of two writes per frame; Ctrl-C still flushes. The C
        // library takes the size only together with a buffer of the caller's.
        std::setvbuf(m_file, m_buffer.get(), _IOFBF, kFileBufferBytes);
    }

    ~FileWriter() override { std::fclose(m_file); }

    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    bool Write(std::uint32_t, const std::uint8_t* data, std::size_t length) override {
        constexpr std::size_t kDelimiter = sizeof kTrailingDelimiter;
        if (m_heldDelimiter &&
            std::fwrite(kTrailingDelimiter, 1, kDelimiter, m_file) != kDelimiter) {
            return false;
        }
        m_heldDelimiter = length >= kDelimiter && std::memcmp(data + length - kDelimiter,
                                                              kTrailingDelimiter, kDelimiter) == 0;
        const std::size_t body = m_heldDelimiter ? length - kDelimiter : length;
        return std::fwrite(data, 1, body, m_file) == body;
    }

    [[nodiscard]] std::string Describe() const override { return m_path; }

private:
    std::FILE* m_file;
    std::string m_path;
    std::unique_ptr<char[]> m_buffer; // outlives the stream: fclose flushes it in the destructor
    bool m_heldDelimiter = false;
};

// Writes each picture to its own numbered file in a folder.
class FolderWriter : public FrameWriter {
public:
    explicit FolderWriter(std::string folder) : m_folder(std::move(folder)) {}

    bool Write(std::uint32_t, const std::uint8_t* data, std::size_t length) override {
        char name[32];
        std::snprintf(name, sizeof name, "%06llu.jpg", static_cast<unsigned long long>(m_count++));
        const std::string path = m_folder + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            return false;
        }
        const bool ok = std::fwrite(data, 1, length, file) == length;
        return std::fclose(file) == 0 && ok;
    }

    [[nodiscard]] std::string Describe() const override { return m_folder + "/NNNNNN.jpg"; }

private:
    std::string m_folder;
    unsigned long long m_count = 0;
};

} // namespace

std::unique_ptr<FrameWriter> MakeWriter(const std::string& path, bool jpeg, std::string& error,
                                        bool h265) {
    if (path.empty()) {
        return std::make_unique<NullWriter>();
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
        std::filesystem::create_directories(path, ec);
        if (ec || !std::filesystem::is_directory(path)) {
            error = "cannot create the folder '" + path + "'";
            return nullptr;
        }
        return std::make_unique<FolderWriter>(path);
    }
    if (jpeg && (h264File || h265File)) {
        error = "an MJPEG capture is written to a .mjpeg file or a folder, not to '" + path + "'";
        return nullptr;
    }
    if (!jpeg && path != "/dev/null" && (h265 ? !h265File : !h264File)) {
        error = videoRule + path + "'";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot open '" + path + "' for writing: " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<FileWriter>(file, path);
}

} // namespace vantrel::capture
