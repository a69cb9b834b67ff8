#include "OsError.h"

#include <cerrno>

#include "EngineError.h"

namespace pixhold::engine {

std::uint16_t MapOsError(int osError) {
    switch (osError) {
    case ENOENT:
    case ENOTDIR:
        return err::TableNotFound;
    case EMFILE:
    case ENFILE:
        return err::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
        return err::AccessDenied;
    case EBADF:
        return err::InvalidFileHandle;
    case ENOMEM:
        return err::OutOfMemory;
    case ENODEV:
    case ENXIO:
        return err::DeviceAccessDenied;
    case EXDEV:
        return err::TableMoved;
    default:
        return err::UnknownOsError;
    }
}

int NegatedOsError() { return -static_cast<int>(MapOsError(errno)); }

}  // namespace pixhold::engine
