#include "winsim/journal_records.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "winsim/file_safety.h"
#include "winsim/machine.h"

namespace winsim::journal_records {

namespace fs = std::filesystem;

namespace {

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::uint64_t Checksum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  return hash;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool SameName(const fs::path& a, const fs::path& b) {
  const std::string x = a.string();
  const std::string y = b.string();
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
    return std::tolower(static_cast<unsigned char>(p)) ==
           std::tolower(static_cast<unsigned char>(q));
  });
}

}  // namespace

std::string LineChecksum(std::string_view text) {
  return Hex(Checksum(text));
}

std::string Escape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '%') {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", byte);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

bool Unescape(std::string_view field, std::string* text) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      text->push_back(field[i]);
      continue;
    }
    const int high = i + 2 < field.size() ? HexDigit(field[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(field[i + 2]) : -1;
    if (low < 0 || high * 16 + low == 0) {
      return false;
    }
    text->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

bool CleanRelative(const std::string& path) {
  if (path.empty() || path.front() == '/') {
    return false;
  }
  for (std::size_t at = 0; at <= path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view part(path.data() + at, end - at);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    at = end + 1;
  }
  return true;
}

bool Protected(const JournalPlace& place, const fs::path& path) {
  const auto matches = [&](const fs::path& file) {
    return SameName(path, Normal(file)) ||
           SameName(path, Normal(file.string() + std::string(kBackupSuffix)));
  };
  return std::any_of(place.registryFiles.begin(), place.registryFiles.end(), matches) ||
         SameName(path, Normal(place.file)) || SameName(path, Normal(place.root / ".lock"));
}

bool InRegistryFolder(const JournalPlace& place, const fs::path& path) {
  return std::any_of(
      place.registryFiles.begin(), place.registryFiles.end(),
      [&](const fs::path& file) { return Normal(file).parent_path() == path.parent_path(); });
}

bool IsAsideFolder(const JournalPlace& place, const fs::path& path) {
  return path.parent_path() == Normal(place.root) &&
         path.filename().string().starts_with(kAsidePrefix);
}

void ThrowJournalError(const JournalPlace& place, int line, const std::string& problem) {
  throw MachineError(place.file, line, problem);
}

}  // namespace winsim::journal_records
