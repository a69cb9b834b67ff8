// The store's tests keep every settings file inside a temporary home folder.

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    pixhold::test::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
