#include "winsim/sim_files.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/text.h"

namespace winsim {

using namespace orv;

namespace fs = std::filesystem;

namespace {

constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
// FILETIME counts 100 ns from 1601-01-01; the Unix epoch is this many such units later.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;

FILETIME FileTimeOf(fs::file_time_type written) {
  const auto since1970 =
      std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
          std::chrono::file_clock::to_sys(written).time_since_epoch());
  const auto value = static_cast<std::uint64_t>(since1970.count() + kUnixEpochAsFileTime);
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The find record of one entry; false when its name does not fit the record.
bool FillFindData(const DirEntry& entry, WIN32_FIND_DATAW& data) {
  if (entry.name.size() >= std::size(data.cFileName)) {
    return false;
  }
  data = WIN32_FIND_DATAW{};
  data.dwFileAttributes = entry.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  data.ftCreationTime = data.ftLastAccessTime = data.ftLastWriteTime = FileTimeOf(entry.written);
  data.nFileSizeHigh = static_cast<DWORD>(entry.size >> 32);
  data.nFileSizeLow = static_cast<DWORD>(entry.size);
  std::memcpy(data.cFileName, entry.name.c_str(), (entry.name.size() + 1) * sizeof(WCHAR));
  return true;
}

bool HasWildcard(std::u16string_view name) {
  return name.find_first_of(u"*?") != std::u16string_view::npos;
}

// The 8-bit text the C runtime writes for wide text in the C locale, in text mode: characters
// beyond 0xFF cannot be converted and become '?', and each line feed is preceded by a carriage
// return.
std::string CrtBytes(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    if (c == u'\n') {
      bytes += "\r\n";
    } else {
      bytes += c > 0xFF ? '?' : static_cast<char>(c);
    }
  }
  return bytes;
}

}  // namespace

DWORD SimFiles::GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                                 WCHAR** filePart) {
  const Call call{"GetFullPathNameW", {TextArg(fileName), DecimalArg(bufferChars)}};
  auto fail = [&](DWORD status) {
    sim_.tracer.End(call, "0", status);
    return DWORD{0};
  };
  if (fileName == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (*fileName == 0) {
    return fail(ERROR_INVALID_NAME);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return fail(*fault);
  }
  const std::u16string full = sim_.files.FullPath(fileName);
  const auto length = static_cast<DWORD>(full.size());
  // Too small: the size needed, terminator included; the buffer is left as it was.
  if (buffer == nullptr || bufferChars <= length) {
    sim_.tracer.End(call, std::to_string(length + 1), ERROR_SUCCESS, "too small");
    return length + 1;
  }
  std::memcpy(buffer, full.c_str(), (full.size() + 1) * sizeof(WCHAR));
  if (filePart != nullptr) {
    const std::size_t nameAt = full.find_last_of(u'\\') + 1;
    *filePart = nameAt == full.size() ? nullptr : buffer + nameAt;
  }
  sim_.tracer.End(call, std::to_string(length), ERROR_SUCCESS, Quoted(full));
  return length;
}

DWORD SimFiles::ListMatches(const std::u16string& pattern, Search* search) const {
  const std::u16string_view wanted = LastComponent(pattern);
  const std::optional<fs::path> folder = sim_.files.HostPath(ParentPath(pattern));
  if (wanted.empty()) {
    return ERROR_FILE_NOT_FOUND;
  }
  std::error_code error;
  if (!folder || !fs::is_directory(*folder, error)) {
    return ERROR_PATH_NOT_FOUND;
  }
  std::optional<std::vector<DirEntry>> listing = ListDirectory(*folder);
  if (!listing) {
    return ERROR_ACCESS_DENIED;
  }
  // A folder below the root also lists "." and ".." (they sort first), when they match.
  if (ParentPath(pattern).size() > 3) {
    const fs::file_time_type written = fs::last_write_time(*folder, error);
    listing->insert(listing->begin(),
                    {DirEntry{u".", true, 0, written}, DirEntry{u"..", true, 0, written}});
  }
  for (const DirEntry& entry : *listing) {
    WIN32_FIND_DATAW data;
    if (MatchesWildcard(wanted, entry.name) && FillFindData(entry, data)) {
      search->entries.push_back(data);
    }
  }
  return search->entries.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

HANDLE SimFiles::FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) {
  const Call call{"FindFirstFileW", {TextArg(pattern)}};
  auto fail = [&](DWORD status) {
    sim_.tracer.End(call, "INVALID_HANDLE_VALUE", status);
    return INVALID_HANDLE_VALUE;
  };
  if (pattern == nullptr || findData == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return fail(*fault);
  }
  // The results are taken now: later changes to the folder do not change this search.
  Search search;
  if (const DWORD status = ListMatches(sim_.files.FullPath(pattern), &search);
      status != ERROR_SUCCESS) {
    return fail(status);
  }
  *findData = search.entries[0];
  search.next = 1;
  const auto handle = reinterpret_cast<HANDLE>(sim_.handles.New());
  searches_.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(search));
  sim_.tracer.End(call, sim_.tracer.HandleText("find", handle), ERROR_SUCCESS,
                  Quoted(findData->cFileName));
  return handle;
}

BOOL SimFiles::FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) {
  const Call call{"FindNextFileW", {sim_.tracer.HandleArg("find", search)}};
  auto found = searches_.find(reinterpret_cast<std::uintptr_t>(search));
  if (found == searches_.end()) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_HANDLE);
  }
  if (findData == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  Search& state = found->second;
  if (state.next >= state.entries.size()) {
    return sim_.tracer.EndBool(call, ERROR_NO_MORE_FILES);
  }
  *findData = state.entries[state.next++];
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, Quoted(findData->cFileName));
}

BOOL SimFiles::FindClose(HANDLE search) {
  const Call call{"FindClose", {sim_.tracer.HandleArg("find", search)}};
  if (searches_.erase(reinterpret_cast<std::uintptr_t>(search)) == 0) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_HANDLE);
  }
  // A fault does not keep the search open: the handle is gone either way.
  return sim_.tracer.EndBool(call, sim_.faults.For(call).value_or(ERROR_SUCCESS));
}

HANDLE SimFiles::CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode,
                             DWORD disposition, DWORD flags) {
  const Call call{"CreateFileW",
                  {TextArg(fileName), HexArg(access), HexArg(shareMode), DecimalArg(disposition),
                   HexArg(flags)}};
  auto fail = [&](DWORD status) {
    sim_.tracer.End(call, "INVALID_HANDLE_VALUE", status);
    return INVALID_HANDLE_VALUE;
  };
  if (fileName == nullptr) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  // Only what the tool asks for: reading an existing file.
  if (disposition != OPEN_EXISTING || (access & ~GENERIC_READ) != 0) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return fail(*fault);
  }
  const std::u16string full = sim_.files.FullPath(fileName);
  if (HasWildcard(full)) {
    return fail(ERROR_INVALID_NAME);
  }
  const std::optional<fs::path> host = sim_.files.HostPath(full);
  std::error_code error;
  if (!host || !fs::exists(*host, error)) {
    const std::optional<fs::path> folder = sim_.files.HostPath(ParentPath(full));
    return fail(folder && fs::is_directory(*folder, error) ? ERROR_FILE_NOT_FOUND
                                                           : ERROR_PATH_NOT_FOUND);
  }
  if (fs::is_directory(*host, error)) {
    return fail(ERROR_ACCESS_DENIED);
  }
  std::ifstream in(*host, std::ios::binary);
  if (!in) {
    return fail(ERROR_ACCESS_DENIED);
  }
  // The file's bytes as they are at the open; the simulated machine has no other writer.
  OpenFile file;
  file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const auto handle = reinterpret_cast<HANDLE>(sim_.handles.New());
  open_.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(file));
  sim_.tracer.End(call, sim_.tracer.HandleText("file", handle));
  return handle;
}

BOOL SimFiles::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                        void* overlapped) {
  const Call call{"ReadFile", {sim_.tracer.HandleArg("file", file), DecimalArg(bytesToRead)}};
  auto found = open_.find(reinterpret_cast<std::uintptr_t>(file));
  if (found == open_.end()) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_HANDLE);
  }
  if ((buffer == nullptr && bytesToRead != 0) || (bytesRead == nullptr && overlapped == nullptr)) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (bytesRead != nullptr) {
    *bytesRead = 0;
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  OpenFile& state = found->second;
  const std::size_t count = std::min<std::size_t>(bytesToRead, state.bytes.size() - state.position);
  if (count != 0) {
    std::memcpy(buffer, state.bytes.data() + state.position, count);
  }
  state.position += count;
  if (bytesRead != nullptr) {
    *bytesRead = static_cast<DWORD>(count);
  }
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, std::to_string(count));
}

BOOL SimFiles::CloseFile(HANDLE file) {
  open_.erase(reinterpret_cast<std::uintptr_t>(file));
  const Call call{"CloseHandle", {sim_.tracer.HandleArg("file", file)}};
  return sim_.tracer.EndBool(call, sim_.faults.For(call).value_or(ERROR_SUCCESS));
}

void SimFiles::CrtWriteStdout(const WCHAR* text) {
  const Call call{"CrtWriteStdout", {TextArg(text)}};
  if (text == nullptr) {
    sim_.tracer.End(call, "void");
    return;
  }
  const std::string utf8 = Utf16ToUtf8(text);
  stdout_ += utf8;
  if (sim_.options.stdoutSink != nullptr) {
    std::fwrite(utf8.data(), 1, utf8.size(), sim_.options.stdoutSink);
  }
  sim_.tracer.End(call, "void");
}

void* SimFiles::CrtOpenAppend(const WCHAR* path) {
  const Call call{"CrtOpenAppend", {TextArg(path)}};
  auto fail = [&] {
    sim_.tracer.End(call, "null");
    return nullptr;
  };
  if (path == nullptr || *path == 0 || sim_.faults.For(call)) {
    return fail();
  }
  const std::optional<fs::path> host = sim_.files.Resolve(path);
  if (!host) {
    return fail();
  }
  // Created when missing, as mode "a" does; only a regular file, and the open never blocks. The
  // file is written at once and cut back if the run's save fails.
  int fd = -1;
  if (const int error = sim_.machine.changes().OpenAppend(*host, &fd); error != 0) {
    if (error == ENODEV && sim_.options.stderrSink != nullptr) {
      std::fprintf(sim_.options.stderrSink,
                   "orvcard: %s: not a regular file; no response written\n", host->c_str());
    }
    return fail();
  }
  const std::uintptr_t value = sim_.handles.New();
  crtFiles_.emplace(value, fd);
  void* handle = reinterpret_cast<void*>(value);
  sim_.tracer.End(call, sim_.tracer.HandleText("crt", handle));
  return handle;
}

int SimFiles::CrtWriteText(void* file, const WCHAR* text) {
  const Call call{"CrtWriteText", {sim_.tracer.HandleArg("crt", file), TextArg(text)}};
  auto found = crtFiles_.find(reinterpret_cast<std::uintptr_t>(file));
  int written = -1;
  if (found != crtFiles_.end() && text != nullptr && !sim_.faults.For(call)) {
    const std::u16string_view wide(text);
    const std::string bytes = CrtBytes(wide);
    if (WriteAll(found->second, bytes) == 0) {
      written = static_cast<int>(wide.size());
    }
  }
  sim_.tracer.End(call, std::to_string(written));
  return written;
}

int SimFiles::CrtClose(void* file) {
  const Call call{"CrtClose", {sim_.tracer.HandleArg("crt", file)}};
  const int result = crtFiles_.erase(reinterpret_cast<std::uintptr_t>(file)) != 0 ? 0 : -1;
  sim_.tracer.End(call, std::to_string(result));
  return result;
}

}  // namespace winsim
