// Where vantrel-capture puts the frames: nowhere, an Annex-B .h264 or .h265 file, a .mjpeg file of
// concatenated pictures, or a folder of numbered .jpg pictures.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vantrel::capture {

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Write stores one frame; false when the output cannot be written.
    virtual bool Write(std::uint32_t fourcc, const std::uint8_t* data, std::size_t length) = 0;
    [[nodiscard]] virtual std::string Describe() const = 0;
};

// MakeWriter chooses the writer for `path` (empty: discard); a video capture goes to a .h264 file,
// or with `h265` to a .h265 file. On failure it returns null and sets `error`.
std::unique_ptr<FrameWriter> MakeWriter(const std::string& path, bool jpeg, std::string& error,
                                        bool h265 = false);

} // namespace vantrel::capture
