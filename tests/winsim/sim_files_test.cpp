// Files of the simulated machine: full paths, searches, the Windows directory, reading, and
// the C runtime's response file.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/sim_fixture.h"

namespace {

using namespace orv;
using testing_support::EnvironmentImage;
using testing_support::ReadFileBytes;
using testing_support::SimMachine;

const std::string kSystemRootImage = EnvironmentImage("\"SystemRoot\"=\"C:\\\\WINNT\"\n");

std::string Utf8(const WCHAR* text) {
  return Utf16ToUtf8(text);
}

// A path or pattern and the error its call fails with.
struct Failure {
  const WCHAR* path;
  DWORD error;
};

// Checks that `open` gives INVALID_HANDLE_VALUE for each path, with the path's error.
template <typename Open>
void ExpectFailures(WindowsApi& api, std::initializer_list<Failure> failures, Open open) {
  for (const Failure& failure : failures) {
    EXPECT_EQ(open(failure.path), INVALID_HANDLE_VALUE) << Utf8(failure.path);
    EXPECT_EQ(api.GetLastError(), failure.error) << Utf8(failure.path);
  }
}

// The names a search lists, directories marked with a trailing '/'.
std::vector<std::string> Listing(WindowsApi& api, const WCHAR* pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW data;
  HANDLE search = api.FindFirstFileW(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) {
    return names;
  }
  do {
    names.push_back(Utf8(data.cFileName) +
                    ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "/" : ""));
  } while (api.FindNextFileW(search, &data));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(api.FindClose(search));
  return names;
}

TEST(SimFilesTest, FullPathNameFollowsTheBufferRules) {
  SimMachine sim("");
  WindowsApi& api = sim.api();
  const std::u16string expected = u"C:\\work\\*.inf";  // 13 characters
  WCHAR buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), u'#');

  // Too small, including exactly the length without room for the terminator: the size needed,
  // terminator included, and the buffer untouched.
  EXPECT_EQ(api.GetFullPathNameW(u"*.inf", 13, buffer, nullptr), 14u);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(api.GetFullPathNameW(u"*.inf", 0, nullptr, nullptr), 14u);

  WCHAR* filePart = nullptr;
  EXPECT_EQ(api.GetFullPathNameW(u"*.inf", 14, buffer, &filePart), 13u);
  EXPECT_EQ(std::u16string(buffer), expected);
  EXPECT_EQ(filePart, buffer + 8);

  // A path ending in a backslash has no file part.
  EXPECT_EQ(api.GetFullPathNameW(u"sub\\", 32, buffer, &filePart), 12u);
  EXPECT_EQ(Utf8(buffer), "C:\\work\\sub\\");
  EXPECT_EQ(filePart, nullptr);

  EXPECT_EQ(api.GetFullPathNameW(u"", 32, buffer, nullptr), 0u);
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_NAME);

  sim.api().ArmFault(
      {.api = "GetFullPathNameW", .text = "orvser", .status = ERROR_FILENAME_EXCED_RANGE});
  EXPECT_EQ(api.GetFullPathNameW(u"orvser.inf", 32, buffer, nullptr), 0u);
  EXPECT_EQ(api.GetLastError(), ERROR_FILENAME_EXCED_RANGE);

  EXPECT_EQ(sim.Calls({"GetFullPathNameW"})[2],
            "GetFullPathNameW(\"*.inf\", 14) = 13 -> \"C:\\work\\*.inf\"");
}

TEST(SimFilesTest, SearchListsMatchesInNameOrderWithFolders) {
  SimMachine sim("");
  for (const char* name : {"b.inf", "A.INF", "notes.txt", "oem1.inf.bak", "c.Inf"}) {
    sim.WriteFile(std::string("work/") + name, "12345");
  }
  std::filesystem::create_directories(sim.driveC() / "work" / "x.inf");
  std::filesystem::create_directories(sim.driveC() / "work" / "sub");

  EXPECT_EQ(Listing(sim.api(), u"C:\\work\\*.inf"),
            (std::vector<std::string>{"A.INF", "b.inf", "c.Inf", "x.inf/"}));
  // Relative patterns resolve against the current directory; names compare without case.
  EXPECT_EQ(Listing(sim.api(), u"*.INF").size(), 4u);
  EXPECT_EQ(Listing(sim.api(), u"C:\\WORK\\?.txt"), std::vector<std::string>{});
  // "." and ".." come first below the root, and only where they match.
  EXPECT_EQ(Listing(sim.api(), u"C:\\work\\*"),
            (std::vector<std::string>{"./", "../", "A.INF", "b.inf", "c.Inf", "notes.txt",
                                      "oem1.inf.bak", "sub/", "x.inf/"}));
  const std::vector<std::string> root = Listing(sim.api(), u"C:\\*");
  EXPECT_EQ(std::count(root.begin(), root.end(), "../"), 0);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  WIN32_FIND_DATAW data;
  HANDLE search = sim.api().FindFirstFileW(u"C:\\work\\b.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
  EXPECT_TRUE(sim.api().FindClose(search));
}

TEST(SimFilesTest, SearchFailuresAndHandles) {
  SimMachine sim("");
  WindowsApi& api = sim.api();
  WIN32_FIND_DATAW data;
  ExpectFailures(api,
                 {
                     {u"C:\\work\\*.inf", ERROR_FILE_NOT_FOUND},  // empty folder
                     {u"C:\\missing\\*.inf", ERROR_PATH_NOT_FOUND},
                     {u"D:\\*.inf", ERROR_PATH_NOT_FOUND},
                     {u"C:\\work\\", ERROR_FILE_NOT_FOUND},
                 },
                 [&](const WCHAR* pattern) { return api.FindFirstFileW(pattern, &data); });

  sim.WriteFile("work/one.inf", "x");
  sim.api().ArmFault({.api = "FindFirstFileW", .nth = 1, .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(api.FindFirstFileW(u"*.inf", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);

  HANDLE search = api.FindFirstFileW(u"*.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(sim.api().OpenHandleCount(), 1u);
  EXPECT_FALSE(api.FindNextFileW(search, &data));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_MORE_FILES);
  EXPECT_TRUE(api.FindClose(search));
  EXPECT_FALSE(api.FindClose(search));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(api.FindNextFileW(search, &data));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(SimFilesTest, SearchResultsAreTakenAtTheStart) {
  SimMachine sim("");
  sim.WriteFile("work/a.inf", "x");
  sim.WriteFile("work/b.inf", "x");
  WindowsApi& api = sim.api();
  WIN32_FIND_DATAW data;
  HANDLE search = api.FindFirstFileW(u"*.inf", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::filesystem::remove(sim.driveC() / "work" / "b.inf");
  sim.WriteFile("work/c.inf", "x");
  ASSERT_TRUE(api.FindNextFileW(search, &data));
  EXPECT_EQ(Utf8(data.cFileName), "b.inf");
  EXPECT_FALSE(api.FindNextFileW(search, &data));
  api.FindClose(search);
  EXPECT_EQ(sim.Calls({"FindFirstFileW", "FindNextFileW", "FindClose"}),
            (std::vector<std::string>{"FindFirstFileW(\"*.inf\") = find#1 -> \"a.inf\"",
                                      "FindNextFileW(find#1) = TRUE -> \"b.inf\"",
                                      "FindNextFileW(find#1) = FALSE (0x12)",
                                      "FindClose(find#1) = TRUE"}));
}

TEST(SimFilesTest, WindowsDirectoryIsTheSystemRoot) {
  WCHAR buffer[MAX_PATH];
  {
    SimMachine sim("");  // no SystemRoot: the default
    EXPECT_EQ(sim.api().GetWindowsDirectoryW(buffer, MAX_PATH), 10u);
    EXPECT_EQ(Utf8(buffer), "C:\\Windows");
  }
  SimMachine sim(kSystemRootImage);
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(sim.api().GetWindowsDirectoryW(buffer, 8), 9u);  // too small: size with terminator
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(sim.api().GetWindowsDirectoryW(buffer, 9), 8u);
  EXPECT_EQ(Utf8(buffer), "C:\\WINNT");
  sim.api().ArmFault({.api = "GetWindowsDirectoryW", .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(sim.api().GetWindowsDirectoryW(buffer, MAX_PATH), 0u);
  EXPECT_EQ(sim.api().GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(SimFilesTest, CreateFileOpensExistingFilesOnly) {
  SimMachine sim("");
  sim.WriteFile("Windows/inf/oem0.inf", "Provider=ORVEK Co., Ltd.\n");
  std::filesystem::create_directories(sim.driveC() / "Windows" / "inf" / "oem9.inf");
  WindowsApi& api = sim.api();
  ExpectFailures(api,
                 {
                     {u"C:\\Windows\\inf\\oem9.inf", ERROR_ACCESS_DENIED},  // a folder
                     {u"C:\\Windows\\inf\\oem1.inf", ERROR_FILE_NOT_FOUND},
                     {u"C:\\Windows\\missing\\oem1.inf", ERROR_PATH_NOT_FOUND},
                     {u"C:\\Windows\\inf\\oem*.inf", ERROR_INVALID_NAME},
                 },
                 [&](const WCHAR* path) {
                   return api.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
                 });
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  HANDLE file = api.CreateFileW(u"C:\\WINDOWS\\INF\\OEM0.INF", GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char bytes[64] = {};
  DWORD read = 99;
  ASSERT_TRUE(api.ReadFile(file, bytes, 9, &read, nullptr));
  EXPECT_EQ(read, 9u);
  EXPECT_EQ(std::string(bytes, read), "Provider=");
  ASSERT_TRUE(api.ReadFile(file, bytes, 64, &read, nullptr));
  EXPECT_EQ(std::string(bytes, read), "ORVEK Co., Ltd.\n");
  ASSERT_TRUE(api.ReadFile(file, bytes, 64, &read, nullptr));  // end of file: success, 0 bytes
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 1u);
  EXPECT_TRUE(api.CloseHandle(file));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  EXPECT_FALSE(api.ReadFile(file, bytes, 64, &read, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(api.CloseHandle(file));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);

  // An armed read failure leaves the handle open for the caller to close.
  file = api.CreateFileW(u"C:\\Windows\\inf\\oem0.inf", GENERIC_READ, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  sim.api().ArmFault({.api = "ReadFile", .status = ERROR_SHARING_VIOLATION});
  EXPECT_FALSE(api.ReadFile(file, bytes, 64, &read, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(read, 0u);
  EXPECT_TRUE(api.CloseHandle(file));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(SimFilesTest, ResponseFileIsAppendedWithCrLf) {
  SimMachine sim("");
  WindowsApi& api = sim.api();
  for (int run = 0; run < 2; ++run) {
    void* file = api.CrtOpenAppend(u"result.ini");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(api.CrtWriteText(file, u"\n[ResponseResult]\nResultCode = 3\n"), 33);
    EXPECT_EQ(api.CrtClose(file), 0);
  }
  EXPECT_EQ(ReadFileBytes(sim.driveC() / "work" / "result.ini"),
            "\r\n[ResponseResult]\r\nResultCode = 3\r\n"
            "\r\n[ResponseResult]\r\nResultCode = 3\r\n");
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  // Latin-1 characters become their byte, others '?'; an existing CR is kept as it is.
  void* file = api.CrtOpenAppend(u"C:\\work\\SUB\\..\\other.ini");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(api.CrtWriteText(file, u"\u00e9\u4e2d\r\n"), 4);
  api.CrtClose(file);
  EXPECT_EQ(ReadFileBytes(sim.driveC() / "work" / "other.ini"), "\xE9?\r\r\n");

  EXPECT_EQ(api.CrtOpenAppend(u"C:\\missing\\result.ini"), nullptr);
  EXPECT_EQ(api.CrtOpenAppend(u"C:\\work"), nullptr);
  EXPECT_EQ(api.CrtOpenAppend(u"D:\\result.ini"), nullptr);
  EXPECT_EQ(api.CrtClose(file), -1);
  EXPECT_EQ(api.CrtWriteText(file, u"x"), -1);

  sim.api().ArmFault({.api = "CrtOpenAppend", .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(api.CrtOpenAppend(u"result.ini"), nullptr);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

}  // namespace
