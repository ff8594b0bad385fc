// What the cases of the contract suite share: the check that gathers a case's failures, the
// case record, the fixture's registry values and the cases of each area.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"
#include "tests/contract/contract_cases.h"

namespace contract {

using namespace orv;

// What a case checks, failure by failure.
class Check {
 public:
  Check(WindowsApi& api, Target target) : api(api), target(target) {}

  void Eq(std::string_view what, unsigned long long actual, unsigned long long expected) {
    if (actual != expected) {
      Fail(std::string(what) + " " + std::to_string(actual) + ", expected " +
           std::to_string(expected));
    }
  }
  void Text(std::string_view what, std::u16string_view actual, std::u16string_view expected) {
    if (actual != expected) {
      Fail(std::string(what) + " \"" + Utf16ToUtf8(actual) + "\", expected \"" +
           Utf16ToUtf8(expected) + "\"");
    }
  }
  // Without regard to letter case (Wine spells C:\windows in lower case).
  void TextNoCase(std::string_view what, std::u16string_view actual, std::u16string_view expected) {
    if (FoldCase(actual) != FoldCase(expected)) {
      Text(what, actual, expected);
    }
  }
  // A status a call returns as a signed number (a registry call's LONG, the C runtime's int).
  void Status(std::string_view what, LONG returned, DWORD expected) {
    Eq(what, static_cast<DWORD>(returned), expected);
  }
  void True(std::string_view what, bool condition) {
    if (!condition) {
      Fail(std::string(what));
    }
  }
  // The result of a call and the last error it left.
  void Error(std::string_view what, unsigned long long returned, unsigned long long expected,
             DWORD expectedError) {
    const DWORD error = api.GetLastError();
    Eq(std::string(what) + " returned", returned, expected);
    Eq(std::string(what) + " last error", error, expectedError);
  }
  void Fail(const std::string& message) { failure += failure.empty() ? message : "; " + message; }

  WindowsApi& api;
  Target target;
  std::string failure;

 private:
  static std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
      if (c >= u'a' && c <= u'z') {
        c = static_cast<char16_t>(c - u'a' + u'A');
      }
    }
    return folded;
  }
};

struct Case {
  std::string name;
  std::function<void(Check&)> run;
};

// The cases of each area, in the order they run (contract_<area>.cpp).
std::vector<Case> RegistryCases();
std::vector<Case> RegistryTableCases();  // queries, enumerations, calls on unusable handles
std::vector<Case> DeviceCases();
std::vector<Case> FileCases();
std::vector<Case> ProcessCases();
std::vector<Case> SystemCases();
std::vector<Case> SimulatedOnlyCases();  // the COM port database and driver packages

// The fixture's key, and the size of its value "a Text".
constexpr const WCHAR* kRoot = u"SOFTWARE\\ORVEK Contract";
constexpr DWORD kTextBytes = 10;  // "LPT3" and its terminator

// Runs `body` with the fixture key open, and closes it.
std::function<void(Check&)> WithRoot(std::function<void(Check&, HKEY)> body);

// A buffer size that stands for no buffer at all.
constexpr DWORD kNoBuffer = 0xFFFFFFFF;
// The data of the fixture's values "a Text", "c Binary" and "d Empty".
constexpr BYTE kLpt3[] = {'L', 0, 'P', 0, 'T', 0, '3', 0, 0, 0};
constexpr BYTE kBinary[] = {1, 2, 3};
constexpr BYTE kEmpty[] = {0, 0};

// A key below the fixture key made for one case and deleted after it.
constexpr const WCHAR* kScratch = u"SOFTWARE\\ORVEK Contract\\Scratch";

}  // namespace contract
