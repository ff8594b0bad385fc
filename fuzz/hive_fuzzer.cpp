// Hive files: any bytes either fail CheckHive (a MachineError) or load through HiveImage into the
// registry model (where hivex may still refuse them with a MachineError). A hive that loads then
// takes changes as a run makes them (subkey trees deleted, values set, a key added) and, unless
// hivex refuses a change with a MachineError, is written beside its file: what hivex writes must
// pass CheckHive and read back to the changed tree, key for key and value for value.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "winsim/hive_check.h"
#include "winsim/hive_image.h"
#include "winsim/machine.h"
#include "winsim/registry.h"

namespace {

namespace fs = std::filesystem;
using fuzzing::Check;
using winsim::RegKey;

// A private folder for the hive files, removed at exit.
class Folder {
 public:
  Folder() {
    std::string pattern = (fs::temp_directory_path() / "orvcard-hive-fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot create the hive folder");
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True when the trees hold the same keys (names, order) with the same values (name, type, data,
// order). The walk keeps its own list.
bool SameTree(const RegKey& a, const RegKey& b) {
  std::vector<std::pair<const RegKey*, const RegKey*>> pending = {{&a, &b}};
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (y == nullptr || x->SubkeyCount() != y->SubkeyCount() || x->values() != y->values() ||
        (x != &a && x->name() != y->name())) {
      return false;
    }
    std::size_t px = 0;
    std::size_t py = 0;
    while (const RegKey* subkey = x->NextSubkey(px)) {
      pending.emplace_back(subkey, y->NextSubkey(py));
    }
  }
  return true;
}

// Changes the tree as runs do, chosen by `seed`: some keys lose their first subkey tree, some get
// a value (one of them longer than a big-data segment), and a key is added below the root.
void Change(RegKey& root, std::size_t seed) {
  std::vector<RegKey*> pending = {&root};
  for (std::size_t n = 0; !pending.empty(); ++n) {
    RegKey* key = pending.back();
    pending.pop_back();
    std::vector<RegKey*> subkeys = key->Subkeys();
    if (!subkeys.empty() && n % 3 == seed % 3) {
      key->DeleteSubkeyTree(subkeys.front()->name());
      subkeys.erase(subkeys.begin());
    }
    if (n % 5 == seed % 5) {
      key->SetValue(u"fuzz", 3, std::vector<std::uint8_t>(n == 0 ? 20000 : n % 9, 0x5A));
    }
    pending.insert(pending.end(), subkeys.begin(), subkeys.end());
  }
  root.CreateSubkey(u"fuzz added").SetValue(u"", 4, std::vector<std::uint8_t>{1, 0, 0, 0});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Folder folder;
  const fs::path file = folder.path() / "SYSTEM";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    winsim::CheckHive(file, std::span(data, size));
  } catch (const winsim::MachineError&) {
    return 0;
  }
  winsim::Registry registry;
  RegKey& system = registry.HKLM().CreateSubkey(u"SYSTEM");
  fs::path written;
  try {
    winsim::HiveImage hive(file, system);
    Change(system, size);
    if (!hive.Update()) {
      return 0;
    }
    winsim::Journal journal(winsim::JournalPlace{
        folder.path(), folder.path(), folder.path() / "journal", {file}, false});
    written = hive.WriteBeside(journal);
  } catch (const winsim::MachineError&) {
    return 0;  // hivex refused the hive or a change: nothing written
  }
  const std::vector<std::uint8_t> bytes = ReadBytes(written);
  winsim::Registry back;
  RegKey& reread = back.HKLM().CreateSubkey(u"SYSTEM");
  try {
    winsim::CheckHive(written, bytes);
    winsim::HiveImage again(written, reread);
  } catch (const winsim::MachineError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    Check(false, "the hive written does not read back");
  }
  Check(SameTree(system, reread), "the hive written reads back to another tree");
  fs::remove(written);
  return 0;
}
