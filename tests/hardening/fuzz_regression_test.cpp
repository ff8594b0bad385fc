// Inputs on which a fuzz target once failed, each kept here as the test of its fix. The name of
// each case says which target found it.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

struct ImageCase {
  const char* name;
  std::string image;       // what the fuzz target read
  std::string equivalent;  // an image without the deletions, which must read the same
};

// fuzz_reg_image, from its seed deletions.reg: the values read for a key were stored in it only
// when the next key line came, so that a key line deleting that key (or a key above it) first
// freed the key and the values were then written into freed memory.
const ImageCase kDeletedKeys[] = {
    {"deleting the parent of the key just read",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\n\"x\"=\"1\"\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\C]\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\C]\n"},
    {"deleting the key just read",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"1\"\n\"y\"=dword:00000002\n"
     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n"},
    {"deleting the key just read, then making it again",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"y\"=\"2\"\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"y\"=\"2\"\n"},
    {"deleting another key keeps the values read",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\D]\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"x\"=\"1\"\n"},
    {"the seed itself",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\n\"x\"=\"1\"\n\"y\"=-\n\n"
     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\n[HKEY_USERS\\.DEFAULT]\n; a comment\n"
     "[HKEY_CLASSES_ROOT\\.inf]\n@=hex(0):\n",
     "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n[HKEY_USERS\\.DEFAULT]\n[HKEY_CLASSES_ROOT\\.inf]\n"
     "@=hex(0):\n"},
};

TEST(FuzzRegressions, RegImageKeyDeletedRightAfterItsValues) {
  const fs::path dir =
      fs::temp_directory_path() /
      ("orvcard-regression-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  for (const ImageCase& image : kDeletedKeys) {
    SCOPED_TRACE(image.name);
    const std::string expected =
        winsim::WriteRegImage(winsim::ParseRegImage(kHeader + image.equivalent));
    EXPECT_EQ(winsim::WriteRegImage(winsim::ParseRegImage(kHeader + image.image)), expected);
    // The same through a machine directory, whose image is read as a stream.
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "registry.reg", std::ios::binary) << kHeader << image.image;
    EXPECT_EQ(winsim::WriteRegImage(winsim::Machine::Load(dir)->registry()), expected);
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hardening
