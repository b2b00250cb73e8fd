#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <dlfcn.h>

namespace vantor {
namespace {

namespace fs = std::filesystem;

TEST(LibraryFileName, MapsWindowsNamesToSharedObjects) {
    EXPECT_EQ(LibraryFileName("Zelkor.dll"), "libZelkor.so");
    EXPECT_EQ(LibraryFileName("vantorq9.DLL"), "libvantorq9.so");
    EXPECT_EQ(LibraryFileName("plain"), "libplain.so");
    EXPECT_EQ(LibraryFileName("libm.so.6"), "libm.so.6");
    EXPECT_EQ(LibraryFileName("libx.so"), "libx.so");
    EXPECT_EQ(LibraryFileName("/opt/x/any.dll"), "/opt/x/any.dll");
}

class DynamicLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vantor-dl-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(DynamicLibraryTest, AMissingLibraryIsAnErrorWithTheLoadersReason) {
    DynamicLibrary lib;
    EXPECT_FALSE(lib.Open("NoSuchVantorLibrary.dll", dir_.string()));
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_NE(lib.ErrorText().find("libNoSuchVantorLibrary.so"), std::string::npos)
        << lib.ErrorText();
    EXPECT_EQ(lib.Symbol("anything"), nullptr);
    EXPECT_FALSE(lib.ErrorText().empty());
    EXPECT_FALSE(lib.Open("", dir_.string()));
}

TEST_F(DynamicLibraryTest, TheGatewaysFolderComesFirstAndItsFaultsAreReported) {
    // A stand-in library in the gateway's folder: a link to the maths library
    // this test already uses.
    Dl_info info{};
    double (*cosine)(double) = &std::cos;
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(cosine), &info), 0);
    ASSERT_NE(info.dli_fname, nullptr);
    fs::create_symlink(fs::canonical(info.dli_fname), dir_ / "libProbe.so");

    DynamicLibrary lib;
    ASSERT_TRUE(lib.Open("Probe.dll", dir_.string())) << lib.ErrorText();
    EXPECT_EQ(lib.LoadedPath(), (dir_ / "libProbe.so").string());
    auto fn = lib.Function<double (*)(double)>("cos");
    ASSERT_NE(fn, nullptr) << lib.ErrorText();
    EXPECT_DOUBLE_EQ(fn(0.0), 1.0);
    EXPECT_EQ(lib.Symbol("no_such_symbol_in_vantor"), nullptr);
    EXPECT_NE(lib.ErrorText().find("no_such_symbol_in_vantor"), std::string::npos);

    // Moving hands the handle over; closing forgets it.
    DynamicLibrary moved = std::move(lib);
    EXPECT_FALSE(lib.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());

    // A broken file in the folder is reported, not silently replaced by
    // another library of the same name found elsewhere.
    std::ofstream(dir_ / "libm.so.6") << "not a library";
    DynamicLibrary broken;
    EXPECT_FALSE(broken.Open("libm.so.6", dir_.string()));
    EXPECT_NE(broken.ErrorText().find(dir_.string()), std::string::npos) << broken.ErrorText();

    // Without a copy in the folder the default search finds it.
    DynamicLibrary system;
    EXPECT_TRUE(system.Open("libm.so.6", (dir_ / "elsewhere").string())) << system.ErrorText();
    EXPECT_EQ(system.LoadedPath(), "libm.so.6");
}

} // namespace
} // namespace vantor
