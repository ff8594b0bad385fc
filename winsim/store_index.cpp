#include "winsim/store_index.h"

#include <algorithm>
#include <fstream>
#include <functional>

#include "platform/text.h"
#include "winsim/file_space.h"
#include "winsim/registry.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

std::u16string Reversed(std::u16string text) {
  std::reverse(text.begin(), text.end());
  return text;
}

// N of a folded name that Windows' published INF names fold to ("oem" N ".inf", N in decimal
// without leading zeros).
std::optional<unsigned> OemNumber(std::u16string_view folded) {
  static const std::u16string prefix = FoldCase(u"oem");
  static const std::u16string suffix = FoldCase(u".inf");
  if (folded.size() <= prefix.size() + suffix.size() || !folded.starts_with(prefix) ||
      !folded.ends_with(suffix)) {
    return std::nullopt;
  }
  const std::u16string_view digits =
      folded.substr(prefix.size(), folded.size() - prefix.size() - suffix.size());
  // Nine digits at most: the lowest free number is never near that.
  if (digits.size() > 9 || (digits.size() > 1 && digits[0] == u'0')) {
    return std::nullopt;
  }
  unsigned number = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned>(c - u'0');
  }
  return number;
}

}  // namespace

std::optional<std::string> ReadFileBytes(const fs::path& host) {
  std::ifstream in(host, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  // Read in one piece of the file's size, so that a large file is held once, not in a buffer
  // that grew to twice its size.
  std::string bytes;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0);
  bytes.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!in) {
    return std::nullopt;
  }
  return bytes;
}

bool FolderIndex::Refresh(const fs::path& folder) {
  std::optional<std::set<std::string>> changed = watch_.Changes(folder);
  if (!changed) {
    Clear();
    std::error_code error;
    fs::directory_iterator it(folder, error);
    readable_ = !error;
    for (; readable_ && it != fs::directory_iterator(); it.increment(error)) {
      Describe(folder, it->path().filename().string());
    }
    return readable_;
  }
  changed->insert(rereadEachLook_.begin(), rereadEachLook_.end());
  for (const std::string& hostName : *changed) {
    Forget(hostName);
    Describe(folder, hostName);
  }
  return readable_;
}

void FolderIndex::Clear() {
  entries_.clear();
  order_.clear();
  reversed_.clear();
  byBytes_.clear();
  oemNumbers_.clear();
  rereadEachLook_.clear();
}

void FolderIndex::Describe(const fs::path& folder, const std::string& hostName) {
  const fs::path path = folder / hostName;
  std::error_code error;
  const fs::file_status own = fs::symlink_status(path, error);
  if (!fs::exists(own)) {
    return;
  }
  Entry entry;
  entry.hostName = hostName;
  entry.name = orv::Utf8ToUtf16(hostName);
  entry.folded = FoldCase(entry.name);
  // As a listing shows it: a link to a folder is a folder.
  const bool link = fs::is_symlink(own);
  entry.directory = fs::is_directory(link ? fs::status(path, error) : own);
  entry.oemNumber = OemNumber(entry.folded);
  // A file changed through a link, or through another name, is not reported in this folder.
  bool rereadEachLook = link;
  if (!entry.directory && !hashedFiles_.empty() && MatchesWildcard(hashedFiles_, entry.name)) {
    rereadEachLook = rereadEachLook || fs::hard_link_count(path, error) > 1;
    if (const std::optional<std::string> bytes = ReadFileBytes(path)) {
      entry.bytesHash = std::hash<std::string_view>()(*bytes);
      byBytes_.emplace(*entry.bytesHash, hostName);
    }
  }
  if (rereadEachLook) {
    rereadEachLook_.insert(hostName);
  }
  if (entry.oemNumber) {
    oemNumbers_.insert(*entry.oemNumber);
  }
  order_.emplace(entry.folded, hostName);
  reversed_.emplace(Reversed(entry.folded), hostName);
  entries_.emplace(hostName, std::move(entry));
}

void FolderIndex::Forget(const std::string& hostName) {
  const auto found = entries_.find(hostName);
  if (found == entries_.end()) {
    return;
  }
  const Entry& entry = found->second;
  order_.erase({entry.folded, hostName});
  reversed_.erase({Reversed(entry.folded), hostName});
  if (entry.bytesHash) {
    for (auto [it, end] = byBytes_.equal_range(*entry.bytesHash); it != end; ++it) {
      if (it->second == hostName) {
        byBytes_.erase(it);
        break;
      }
    }
  }
  if (entry.oemNumber) {
    oemNumbers_.erase(oemNumbers_.find(*entry.oemNumber));
  }
  rereadEachLook_.erase(hostName);
  entries_.erase(found);
}

std::vector<const FolderIndex::Entry*> FolderIndex::InFolderOrder(
    std::vector<const Entry*> entries) const {
  std::sort(entries.begin(), entries.end(), [](const Entry* a, const Entry* b) {
    return OrderKey(a->folded, a->hostName) < OrderKey(b->folded, b->hostName);
  });
  return entries;
}

std::vector<const FolderIndex::Entry*> FolderIndex::EndingWith(std::u16string_view tail) const {
  const std::u16string key = Reversed(FoldCase(tail));
  std::vector<const Entry*> found;
  for (auto it = reversed_.lower_bound({key, {}});
       it != reversed_.end() && it->first.starts_with(key); ++it) {
    found.push_back(&entries_.at(it->second));
  }
  return InFolderOrder(std::move(found));
}

std::vector<const FolderIndex::Entry*> FolderIndex::WithBytesOf(std::string_view bytes) const {
  std::vector<const Entry*> found;
  for (auto [it, end] = byBytes_.equal_range(std::hash<std::string_view>()(bytes)); it != end;
       ++it) {
    found.push_back(&entries_.at(it->second));
  }
  return InFolderOrder(std::move(found));
}

const FolderIndex::Entry* FolderIndex::Named(std::u16string_view name) const {
  if (const auto exact = entries_.find(orv::Utf16ToUtf8(name)); exact != entries_.end()) {
    return &exact->second;
  }
  const std::u16string folded = FoldCase(name);
  const auto it = order_.lower_bound({folded, {}});
  return it != order_.end() && it->first == folded ? &entries_.at(it->second) : nullptr;
}

unsigned FolderIndex::LowestFreeOemNumber() const {
  unsigned lowest = 0;
  for (unsigned taken : oemNumbers_) {
    if (taken > lowest) {
      break;
    }
    lowest = taken + 1;
  }
  return lowest;
}

}  // namespace winsim
