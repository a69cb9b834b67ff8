#include "PictureFile.h"

#include "GraphicError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pixhold::imaging {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw EPictureFileError(what + " \"" + path + "\". " + std::strerror(error));
}

// Closes the descriptor on every path.
struct TFd {
    int fd = -1;
    ~TFd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

namespace {

// Up to `limit` bytes of the file. A file larger than any picture is refused
// only when it is to be read whole.
TByteVector ReadUpTo(const std::string& path, std::uint64_t limit, bool whole) {
    TFd file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0) Fail("Cannot open file", path, errno);
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) Fail("Cannot read file", path, errno);
    if (!S_ISREG(st.st_mode)) Fail("Cannot read file", path, EISDIR);
    if (whole && static_cast<std::uint64_t>(st.st_size) > MaxPictureFileBytes) {
        throw EPictureFileError("File \"" + path + "\" is too large to be a picture (" +
                                std::to_string(st.st_size) + " bytes)");
    }
    TByteVector bytes(static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(st.st_size), limit)));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail("Cannot read file", path, errno);
        }
        if (n == 0) break;  // shortened meanwhile: what is there is the file
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

}  // namespace

TByteVector ReadPictureFile(const std::string& path) { return ReadUpTo(path, MaxPictureFileBytes, true); }

TByteVector ReadPictureFileHead(const std::string& path, std::size_t count) {
    return ReadUpTo(path, count, false);
}

void WritePictureFile(const std::string& path, TBytes bytes) {
    const std::string temp = path + ".pixhold-tmp";
    {
        TFd file;
        file.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (file.fd < 0) Fail("Cannot create file", path, errno);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(file.fd, bytes.data() + done, bytes.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                const int error = errno;
                ::unlink(temp.c_str());
                Fail("Cannot write file", path, error);
            }
            done += static_cast<std::size_t>(n);
        }
        if (::fdatasync(file.fd) != 0) {
            const int error = errno;
            ::unlink(temp.c_str());
            Fail("Cannot write file", path, error);
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        Fail("Cannot write file", path, error);
    }
}

}  // namespace pixhold::imaging
