#pragma once

// Error handling for libjpeg. libjpeg reports a fatal error by calling
// error_exit, which must not return; ours records the library's message and
// longjmps back to the frame that started the step (JpegTry). No C++ exception
// ever passes through libjpeg's frames.

#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace pixhold::imaging {

struct TJpegErrorManager {
    jpeg_error_mgr Base;               // first member: libjpeg sees only this
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX] = {};

    // Sets up the manager; the caller then points cinfo.err at Attach().
    TJpegErrorManager();
    jpeg_error_mgr* Attach() { return &Base; }

    // Records `message` as the error and longjmps (for errors of our own
    // found inside libjpeg callbacks, such as the progress monitor).
    [[noreturn]] void Fail(const char* message);
};

// The most scans a progressive picture may have: a damaged file can otherwise
// make the decoder spin over a huge number of tiny scans.
inline constexpr int JpegMaxScans = 500;

// Runs `step` (plain calls into libjpeg, nothing with a destructor) under the
// error manager. Returns false when libjpeg raised an error; the message is in
// err.Message and the caller must destroy the libjpeg object and throw.
template <typename Step>
[[nodiscard]] bool JpegTry(TJpegErrorManager& err, Step&& step) noexcept {
    if (setjmp(err.Jump) != 0) return false;
    step();
    return true;
}

}  // namespace pixhold::imaging
