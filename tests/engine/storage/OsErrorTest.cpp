#include <gtest/gtest.h>

#include <cerrno>

#include "EngineError.h"
#include "OsError.h"

using namespace pixhold::engine;

namespace {

struct OsErrorCase {
    int osError;
    std::uint16_t code;
};

class MapOsErrorTable : public ::testing::TestWithParam<OsErrorCase> {};

TEST_P(MapOsErrorTable, MapsToTheEngineCode) {
    EXPECT_EQ(MapOsError(GetParam().osError), GetParam().code) << "errno " << GetParam().osError;
}

INSTANTIATE_TEST_SUITE_P(
    Errno, MapOsErrorTable,
    ::testing::Values(OsErrorCase{ENOENT, err::TableNotFound}, OsErrorCase{ENOTDIR, err::TableNotFound},
                      OsErrorCase{EMFILE, err::TooManyOpenFiles}, OsErrorCase{ENFILE, err::TooManyOpenFiles},
                      OsErrorCase{EACCES, err::AccessDenied}, OsErrorCase{EPERM, err::AccessDenied},
                      OsErrorCase{EBUSY, err::AccessDenied}, OsErrorCase{ETXTBSY, err::AccessDenied},
                      OsErrorCase{EBADF, err::InvalidFileHandle}, OsErrorCase{ENOMEM, err::OutOfMemory},
                      OsErrorCase{ENODEV, err::DeviceAccessDenied}, OsErrorCase{ENXIO, err::DeviceAccessDenied},
                      OsErrorCase{EXDEV, err::TableMoved}, OsErrorCase{ENOSPC, err::UnknownOsError},
                      OsErrorCase{EIO, err::UnknownOsError}, OsErrorCase{EEXIST, err::UnknownOsError},
                      OsErrorCase{0, err::UnknownOsError}, OsErrorCase{-1, err::UnknownOsError},
                      OsErrorCase{99999, err::UnknownOsError}));

TEST(MapOsError, NegatedOsErrorUsesTheCurrentErrno) {
    errno = EMFILE;
    EXPECT_EQ(NegatedOsError(), -static_cast<int>(err::TooManyOpenFiles));
}

}  // namespace
