#include "JpegErrorManager.h"


#include <cstring>

namespace pixhold::imaging {

namespace {

TJpegErrorManager& ManagerOf(j_common_ptr cinfo) {
    // Base is the first member of a standard-layout struct.
    return *reinterpret_cast<TJpegErrorManager*>(cinfo->err);
}

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    TJpegErrorManager& err = ManagerOf(cinfo);
    (*cinfo->err->format_message)(cinfo, err.Message);
    std::longjmp(err.Jump, 1);
}

// Warnings (level -1) and trace messages are not fatal and never printed.
// Damaged data only warns: a file that ends early ("Premature end of JPEG
// file") decodes to what is there, with the rest grey.
extern "C" void JpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0) ++cinfo->err->num_warnings;
}

extern "C" void JpegOutputMessage(j_common_ptr) {}

}  // namespace

TJpegErrorManager::TJpegErrorManager() {
    jpeg_std_error(&Base);
    Base.error_exit = JpegErrorExit;
    Base.emit_message = JpegEmitMessage;
    Base.output_message = JpegOutputMessage;
}

void TJpegErrorManager::Fail(const char* message) {
    std::strncpy(Message, message, sizeof Message - 1);
    Message[sizeof Message - 1] = '\0';
    std::longjmp(Jump, 1);
}

}  // namespace pixhold::imaging
