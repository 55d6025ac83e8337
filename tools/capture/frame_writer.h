// Where vantrel-capture puts the frames: nowhere, an Annex-B .h264 or .h265 file, a .mjpeg file of
// concatenated pictures, a folder of numbered .jpg pictures, or standard output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vantrel::capture {

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Write stores one frame; false with Error() set when the output cannot be written.
    virtual bool Write(std::uint32_t fourcc, const std::uint8_t* data, std::size_t length) = 0;
    // Finish writes what is buffered and closes the output; false with Error() set when the
    // output is not complete (the last block or the close failed).
    virtual bool Finish() = 0;
    // Discard closes the output and removes what the writer created (the file, or the folder
    // when it is empty): for a run that wrote no frame.
    virtual void Discard() = 0;
    [[nodiscard]] virtual std::string Describe() const = 0;

    [[nodiscard]] const std::string& Error() const { return m_error; }

protected:
    void SetError(const std::string& what);

private:
    std::string m_error;
};

// MakeWriter chooses the writer for `path` (empty: discard; "-": standard output); a video
// capture goes to a .h264 file, or with `h265` to a .h265 file. An existing regular file is
// refused unless `overwrite`. On failure it returns null and sets `error`.
std::unique_ptr<FrameWriter> MakeWriter(const std::string& path, bool jpeg, bool overwrite,
                                        std::string& error, bool h265 = false);

} // namespace vantrel::capture
