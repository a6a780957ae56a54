// A test fixture of the surface file tests: the list they load into and save from, released
// before and after each test, and a fresh temporary folder per test (named for the test and a
// random tag) with writing and reading of whole files in it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "surface/surface.h"

inline SurfaceList surfaceList;

class SurfaceFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        releaseSurfaces(surfaceList);
        std::random_device random;
        dir = std::filesystem::temp_directory_path() /
              ("vorl-surface-" + std::string(::testing::UnitTest::GetInstance()
                                                 ->current_test_info()->name()) +
               "-" + std::to_string(random()));
        ASSERT_TRUE(std::filesystem::create_directories(dir));
    }
    void TearDown() override {
        releaseSurfaces(surfaceList);
        std::filesystem::remove_all(dir);
    }
    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (dir / name).string();
        std::ofstream out(path, std::ios::binary);
        out << text;
        return path;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path dir;
};
