#include "winsim/file_space.h"

#include <algorithm>
#include <system_error>

#include "platform/text.h"
#include "winsim/registry.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

bool IsLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

char16_t Upper(char16_t c) {
  return FoldCase(std::u16string_view(&c, 1))[0];
}

// "X:" at the start of a path.
bool HasDrive(std::u16string_view path) {
  return path.size() >= 2 && IsLetter(path[0]) && path[1] == u':';
}

std::u16string NameOf(const fs::path& path) {
  return orv::Utf8ToUtf16(path.filename().string());
}

struct DriveAndPath {
  std::u16string drive;  // "X:"
  std::u16string below;  // the path below the root of `drive`, "." and ".." not yet resolved
};

// The drive of a path (backslashes only, not a UNC path) and its path below that drive's root;
// a relative path is taken against the current directory `cwd` ("X:\...").
DriveAndPath Anchored(std::u16string_view path, std::u16string_view cwd) {
  const std::u16string_view cwdDrive = cwd.substr(0, 2);
  const std::u16string_view cwdBelowRoot = cwd.size() > 3 ? cwd.substr(3) : std::u16string_view();
  if (HasDrive(path) && path.size() > 2 && path[2] == u'\\') {
    return {std::u16string(path.substr(0, 2)), std::u16string(path.substr(3))};
  }
  if (HasDrive(path)) {
    // Drive-relative: against the current directory when it is on that drive, else the root.
    DriveAndPath anchored{std::u16string(path.substr(0, 2)), std::u16string(path.substr(2))};
    if (Upper(anchored.drive[0]) == Upper(cwdDrive[0])) {
      anchored.below = std::u16string(cwdBelowRoot) + u"\\" + anchored.below;
    }
    return anchored;
  }
  if (path.starts_with(u"\\")) {
    return {std::u16string(cwdDrive), std::u16string(path.substr(1))};
  }
  return {std::u16string(cwdDrive), std::u16string(cwdBelowRoot) + u"\\" + std::u16string(path)};
}

// The names of a path with "." dropped and ".." taking back the name before it (none above the
// root), joined by backslashes.
std::u16string Resolved(std::u16string_view path) {
  std::vector<std::u16string_view> parts;
  ForEachKeyName(path, [&](std::u16string_view part) {
    if (part == u"..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
    } else if (part != u".") {
      parts.push_back(part);
    }
    return true;
  });
  std::u16string joined;
  for (std::u16string_view part : parts) {
    joined += joined.empty() ? u"" : u"\\";
    joined += part;
  }
  return joined;
}

}  // namespace

FileSpace::FileSpace(fs::path driveC, std::u16string currentDirectory)
    : driveC_(std::move(driveC)), currentDirectory_(std::move(currentDirectory)) {}

std::u16string FileSpace::FullPath(std::u16string_view name) const {
  std::u16string text(name);
  std::replace(text.begin(), text.end(), u'/', u'\\');
  if (text.starts_with(u"\\\\")) {
    return text;
  }
  const auto [drive, below] = Anchored(text, currentDirectory_);
  const std::u16string names = Resolved(below);
  std::u16string full = drive + u"\\" + names;
  if (!names.empty() && text.ends_with(u"\\")) {
    full += u'\\';
  }
  return full;
}

std::optional<fs::path> FileSpace::HostPath(std::u16string_view fullWindowsPath) const {
  if (!HasDrive(fullWindowsPath)) {
    return std::nullopt;
  }
  fs::path host;
  switch (Upper(fullWindowsPath[0])) {
    case u'C':
      host = driveC_;
      break;
    case u'Z':
      host = "/";
      break;
    default:
      return std::nullopt;
  }
  bool matching = true;  // false once a component does not exist
  ForEachKeyName(fullWindowsPath.substr(2), [&](std::u16string_view part) {
    if (part == u".") {
      return true;
    }
    if (part == u"..") {
      if (host.has_relative_path() && host != driveC_) {
        host = host.parent_path();
      }
      return true;
    }
    const std::string given = orv::Utf16ToUtf8(part);
    std::error_code error;
    if (matching && !fs::exists(host / given, error)) {
      matching = false;
      for (const fs::directory_entry& entry : fs::directory_iterator(host, error)) {
        if (SameName(NameOf(entry.path()), part)) {
          host /= entry.path().filename();
          matching = true;
          break;
        }
      }
      if (matching) {
        return true;
      }
    }
    host /= given;
    return true;
  });
  return host;
}

std::u16string FileSpace::WindowsPath(const fs::path& hostPath) const {
  std::error_code error;
  const fs::path path = fs::weakly_canonical(fs::absolute(hostPath), error).lexically_normal();
  const fs::path root = fs::weakly_canonical(fs::absolute(driveC_), error).lexically_normal();
  auto [inRoot, inPath] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  // An empty last element stands for a trailing separator.
  const bool underDriveC =
      inRoot == root.end() || (std::next(inRoot) == root.end() && inRoot->empty());
  std::u16string windows = underDriveC ? u"C:" : u"Z:";
  for (auto it = underDriveC ? inPath : std::next(path.begin()); it != path.end(); ++it) {
    if (!it->empty()) {
      windows += u'\\';
      windows += orv::Utf8ToUtf16(it->string());
    }
  }
  if (windows.size() == 2) {
    windows += u'\\';
  }
  return windows;
}

std::optional<std::vector<DirEntry>> ListDirectory(const fs::path& hostDir) {
  std::error_code error;
  fs::directory_iterator it(hostDir, error);
  if (error) {
    return std::nullopt;
  }
  std::vector<DirEntry> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    DirEntry entry;
    entry.name = NameOf(it->path());
    entry.directory = it->is_directory(error);
    entry.size = entry.directory ? 0 : it->file_size(error);
    entry.written = it->last_write_time(error);
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return FoldCase(a.name) < FoldCase(b.name);
  });
  return entries;
}

bool MatchesWildcard(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") {
    return true;
  }
  const std::u16string p = FoldCase(pattern);
  const std::u16string n = FoldCase(name);
  // Greedy match with one backtracking point: the last '*' seen.
  std::size_t pi = 0;
  std::size_t ni = 0;
  std::size_t starP = std::u16string::npos;
  std::size_t starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == u'*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::u16string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == u'*') {
    ++pi;
  }
  return pi == p.size();
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  return FoldCase(a) == FoldCase(b);
}

std::u16string_view LastComponent(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u'\\');
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

std::u16string_view ParentPath(std::u16string_view path) {
  const std::size_t cut = path.find_last_of(u'\\');
  if (cut == std::u16string_view::npos) {
    return {};
  }
  // The parent of X:\name is the root X:\, with its backslash.
  return path.substr(0, cut == 2 && HasDrive(path) ? 3 : cut);
}

}  // namespace winsim
