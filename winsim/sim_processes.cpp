// Programs run to their end inside CreateProcessW. A program file is recognised by its first
// line, "#winsim-program NAME": "cmd" is the command interpreter, "dpinst" the driver package
// installer. Each program run is traced when it ends ("cmd" and "DPInst" lines), so its line
// comes before the line of the CreateProcessW call that started it.
#include "winsim/sim_processes.h"

#include <cstring>
#include <fstream>

#include "platform/text.h"
#include "winsim/cmd_syntax.h"
#include "winsim/dpinst.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

namespace fs = std::filesystem;

namespace {

constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
// The interpreter's exit status for a command that names no program file.
constexpr DWORD kCommandNotFound = 9009;
// The interpreter's exit status for a line that pipes or redirects, which it does not simulate
// (the status the interpreter gives a line it cannot parse).
constexpr DWORD kUnsupportedLine = 1;
// The installer's exit status for a command line it does not understand: the failure flag,
// with nothing counted, since nothing was tried.
constexpr DWORD kInstallerUsageError = 0x80000000;
constexpr std::string_view kProgramMark = "#winsim-program ";
constexpr std::u16string_view kDefaultPathExt = u".COM;.EXE;.BAT;.CMD";

// The entries of a ';'-separated list, surrounding quotes removed, empty ones dropped.
std::vector<std::u16string> SplitList(std::u16string_view list) {
  std::vector<std::u16string> entries;
  while (!list.empty()) {
    const std::size_t cut = list.find(u';');
    std::u16string entry(list.substr(0, cut));
    list = cut == std::u16string_view::npos ? std::u16string_view() : list.substr(cut + 1);
    std::erase(entry, u'"');
    if (!entry.empty()) {
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

bool HasFolder(std::u16string_view name) {
  return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool HasExtension(std::u16string_view name) {
  return LastComponent(name).find(u'.') != std::u16string_view::npos;
}

// True when a present device has one of `ids` among its hardware identifiers.
bool AnyDevicePresent(RegKey& hklm, const std::vector<std::u16string>& ids) {
  bool found = false;
  ForEachDeviceInstance(hklm, {}, [&](RegKey&, RegKey&, RegKey& instance) {
    const RegValue* hardwareIds = instance.FindValue(u"HardwareID");
    if (found || instance.FindSubkey(u"Control") == nullptr || hardwareIds == nullptr) {
      return;
    }
    for (const std::u16string& id : SplitAtNul(hardwareIds->data())) {
      for (const std::u16string& wanted : ids) {
        found = found || SameName(id, wanted);
      }
    }
  });
  return found;
}

}  // namespace

std::vector<std::u16string> SimProcesses::SearchFolders(bool systemFolders) const {
  std::vector<std::u16string> folders;
  if (systemFolders && !sim_.options.programFolder.empty()) {
    folders.push_back(sim_.options.programFolder);
  }
  folders.push_back(sim_.files.currentDirectory());
  if (systemFolders) {
    folders.push_back(system_.SystemDirectory());
    folders.push_back(system_.WindowsDirectory());
  }
  for (std::u16string& entry : SplitList(system_.Environment(u"Path").value_or(u""))) {
    folders.push_back(std::move(entry));
  }
  return folders;
}

std::optional<std::u16string> SimProcesses::FindFile(
    std::u16string_view name, const std::vector<std::u16string>& folders) const {
  for (const std::u16string& folder : folders) {
    // A name with a folder of its own stands for itself (relative to the current directory).
    const std::u16string candidate = sim_.files.FullPath(
        HasFolder(name) ? std::u16string(name) : folder + u"\\" + std::u16string(name));
    const std::optional<fs::path> host = sim_.files.HostPath(system_.FileSystemViewPath(candidate));
    std::error_code error;
    if (host && fs::is_regular_file(*host, error)) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::optional<std::u16string> SimProcesses::FindCommand(std::u16string_view name) const {
  std::vector<std::u16string> names = {std::u16string(name)};
  if (!HasExtension(name)) {
    names.clear();
    for (const std::u16string& extension :
         SplitList(system_.Environment(u"PATHEXT").value_or(std::u16string(kDefaultPathExt)))) {
      names.push_back(std::u16string(name) + extension);
    }
  }
  const std::vector<std::u16string> folders =
      HasFolder(name) ? std::vector<std::u16string>{sim_.files.currentDirectory()}
                      : SearchFolders(false);
  for (const std::u16string& folder : folders) {
    for (const std::u16string& candidate : names) {
      if (std::optional<std::u16string> found = FindFile(candidate, {folder})) {
        return found;
      }
    }
  }
  return std::nullopt;
}

DWORD SimProcesses::GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) {
  const Call call{"GetEnvironmentVariableW", {TextArg(name), DecimalArg(bufferChars)}};
  auto traced = [&](DWORD returned, const std::string& outputs) {
    sim_.tracer.End(call, std::to_string(returned), ERROR_SUCCESS, outputs);
    return returned;
  };
  DWORD status = name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS) {
    status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  }
  std::optional<std::u16string> value;
  if (status == ERROR_SUCCESS) {
    value = system_.Environment(name);
    status = value ? ERROR_SUCCESS : ERROR_ENVVAR_NOT_FOUND;
  }
  if (status != ERROR_SUCCESS) {
    sim_.tracer.End(call, "0", status);
    return 0;
  }
  const auto length = static_cast<DWORD>(value->size());
  if (buffer == nullptr || bufferChars <= length) {
    return traced(length + 1, "too small");
  }
  std::memcpy(buffer, value->c_str(), (value->size() + 1) * sizeof(WCHAR));
  if (length == 0) {
    sim_.lastError = ERROR_SUCCESS;  // tells an empty value from a failure
  }
  return traced(length, Quoted(*value));
}

// The program: the application name as given (no search, no extension added), else the first
// token of the command line, with ".exe" when it has no extension, searched for.
std::optional<std::u16string> SimProcesses::ProgramOf(const WCHAR* applicationName,
                                                      const WCHAR* commandLine) const {
  if (applicationName != nullptr) {
    return sim_.files.FullPath(applicationName);
  }
  std::u16string name = FirstToken(commandLine, nullptr);
  if (!HasExtension(name)) {
    name += u".exe";
  }
  return HasFolder(name) ? sim_.files.FullPath(name) : FindFile(name, SearchFolders(true));
}

BOOL SimProcesses::CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                                  PROCESS_INFORMATION* info) {
  const Call call{"CreateProcessW", {TextArg(applicationName), TextArg(commandLine)}};
  if ((applicationName == nullptr && commandLine == nullptr) || info == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  const std::optional<std::u16string> program = ProgramOf(applicationName, commandLine);
  if (!program) {
    return sim_.tracer.EndBool(call, ERROR_FILE_NOT_FOUND);
  }
  DWORD startError = ERROR_SUCCESS;
  const DWORD exitCode =
      RunProgram(*program, commandLine != nullptr ? commandLine : applicationName, &startError);
  if (startError != ERROR_SUCCESS) {
    return sim_.tracer.EndBool(call, startError);
  }
  const std::uintptr_t process = sim_.handles.New();
  const std::uintptr_t thread = sim_.handles.New();
  processes_[process] = exitCode;
  processes_[thread] = exitCode;
  threads_.insert(thread);
  *info = PROCESS_INFORMATION{reinterpret_cast<HANDLE>(process), reinterpret_cast<HANDLE>(thread),
                              nextProcessId_, nextProcessId_ + 4};
  nextProcessId_ += 8;
  return sim_.tracer.EndBool(call, ERROR_SUCCESS,
                             sim_.tracer.HandleText("process", info->hProcess) + ", " +
                                 sim_.tracer.HandleText("thread", info->hThread) + ", exit " +
                                 Hex(exitCode));
}

DWORD SimProcesses::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  const Call call{"WaitForSingleObject",
                  {sim_.tracer.HandleArg(threads_.count(value) != 0 ? "thread" : "process", handle),
                   HexArg(milliseconds)}};
  DWORD status = processes_.count(value) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  if (status == ERROR_SUCCESS) {
    status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  }
  // Every simulated process has ended by the time its handle exists.
  if (status != ERROR_SUCCESS) {
    sim_.tracer.End(call, "WAIT_FAILED", status);
    return WAIT_FAILED;
  }
  sim_.tracer.End(call, "WAIT_OBJECT_0");
  return WAIT_OBJECT_0;
}

BOOL SimProcesses::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  const auto value = reinterpret_cast<std::uintptr_t>(process);
  const Call call{"GetExitCodeProcess", {sim_.tracer.HandleArg("process", process)}};
  auto found = processes_.find(value);
  if (found == processes_.end() || threads_.count(value) != 0) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_HANDLE);
  }
  if (exitCode == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  *exitCode = found->second;
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, Hex(*exitCode));
}

BOOL SimProcesses::CloseProcess(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  processes_.erase(value);
  const bool thread = threads_.erase(value) != 0;
  const Call call{"CloseHandle", {sim_.tracer.HandleArg(thread ? "thread" : "process", handle)}};
  return sim_.tracer.EndBool(call, sim_.faults.For(call).value_or(ERROR_SUCCESS));
}

DWORD SimProcesses::RunProgram(std::u16string_view program, std::u16string_view commandLine,
                               DWORD* startError) {
  *startError = ERROR_SUCCESS;
  const std::u16string file = system_.FileSystemViewPath(program);
  const std::optional<fs::path> host = sim_.files.HostPath(file);
  const std::optional<fs::path> folder = sim_.files.HostPath(ParentPath(file));
  std::error_code error;
  if (!host || !fs::exists(*host, error)) {
    *startError =
        folder && fs::is_directory(*folder, error) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return 0;
  }
  std::ifstream in(*host, std::ios::binary);
  std::string firstLine;
  if (fs::is_directory(*host, error) || !in) {
    *startError = ERROR_ACCESS_DENIED;
    return 0;
  }
  std::getline(in, firstLine);
  if (firstLine.ends_with('\r')) {
    firstLine.pop_back();
  }
  const std::string name =
      firstLine.starts_with(kProgramMark) ? firstLine.substr(kProgramMark.size()) : std::string();
  if (name == "cmd") {
    return RunInterpreter(commandLine);
  }
  if (name == "dpinst") {
    return RunInstaller(program, commandLine);
  }
  *startError = ERROR_BAD_EXE_FORMAT;
  return 0;
}

// The command interpreter, for "cmd /c LINE": the quote rule of /c, %VAR% expansion from the
// machine's environment, commands joined by &, && and ||, each program found in the current
// directory and then along Path. It prints nothing, runs no built-in command and no batch file,
// and does not pipe or redirect.
DWORD SimProcesses::RunInterpreter(std::u16string_view commandLine) {
  std::u16string_view arguments;
  FirstToken(commandLine, &arguments);
  const std::optional<InterpreterRequest> request = ParseInterpreterSwitches(arguments);
  // Without /c there is no console input to read commands from: it ends at once.
  const std::u16string text =
      request
          ? ApplyQuoteRule(request->text, request->s,
                           [&](std::u16string_view name) { return FindCommand(name).has_value(); })
          : std::u16string();
  const std::u16string line =
      ExpandVariables(text, [&](std::u16string_view name) { return system_.Environment(name); });
  const Call call{"cmd", {TextArg(line)}};
  DWORD status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  const std::optional<std::vector<ChainedCommand>> commands = SplitCommands(line);
  if (status == ERROR_SUCCESS && !commands) {
    status = kUnsupportedLine;
  } else if (status == ERROR_SUCCESS) {
    using When = ChainedCommand::When;
    for (const ChainedCommand& command : *commands) {
      if ((command.when == When::kOnSuccess && status != 0) ||
          (command.when == When::kOnFailure && status == 0)) {
        continue;
      }
      const std::u16string name = FirstToken(command.text, nullptr);
      if (name.empty()) {
        continue;
      }
      const std::optional<std::u16string> program = FindCommand(name);
      DWORD startError = ERROR_SUCCESS;
      status = program ? RunProgram(*program, command.text, &startError) : kCommandNotFound;
      if (startError != ERROR_SUCCESS) {
        status = startError;  // the interpreter's status when a program cannot start
      }
    }
  }
  return static_cast<DWORD>(sim_.tracer.EndStatus(call, status));
}

// The driver package installer: /u INF uninstalls that package; otherwise it installs every
// INF file of its own folder (or of /path DIR), in listing order, and reports the outcome in
// its exit status. It shows nothing, with or without /s and /q.
DWORD SimProcesses::RunInstaller(std::u16string_view program, std::u16string_view commandLine) {
  std::u16string_view arguments;
  FirstToken(commandLine, &arguments);
  const Call call{"DPInst", {TextArg(arguments)}};
  const InstallerOptions options = ParseInstallerOptions(SplitArguments(arguments));
  DifxStore store = difx_.Store();
  const DWORD flags = DRIVER_PACKAGE_SILENT |
                      (options.legacyMode ? DRIVER_PACKAGE_LEGACY_MODE : 0) |
                      (options.force ? DRIVER_PACKAGE_FORCE : 0);
  DWORD exitStatus;
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    exitStatus = *fault;
  } else if (!options.invalid.empty()) {
    exitStatus = kInstallerUsageError;
  } else if (options.uninstallInf) {
    const DWORD status =
        store.Uninstall(*options.uninstallInf, flags | DRIVER_PACKAGE_DELETE_FILES);
    exitStatus = status == ERROR_SUCCESS ? 0 : InstallerExitStatus(0, 0, 1, false);
  } else {
    const std::u16string folder =
        options.path ? sim_.files.FullPath(*options.path) : std::u16string(ParentPath(program));
    const std::optional<fs::path> host = sim_.files.HostPath(folder);
    unsigned installed = 0;
    unsigned storeOnly = 0;
    unsigned failed = 0;
    for (const DirEntry& entry :
         (host ? ListDirectory(*host) : std::nullopt).value_or(std::vector<DirEntry>{})) {
      if (entry.directory || !MatchesWildcard(u"*.inf", entry.name)) {
        continue;
      }
      const std::u16string inf = folder + u"\\" + entry.name;
      DriverPackage package;
      if (store.Install(inf, flags) != ERROR_SUCCESS) {
        ++failed;
      } else if (store.Read(inf, &package) == ERROR_SUCCESS &&
                 AnyDevicePresent(sim_.machine.registry().HKLM(), package.inf.DeviceIds())) {
        ++installed;
      } else {
        ++storeOnly;
      }
    }
    exitStatus = InstallerExitStatus(installed, storeOnly, failed, false);
  }
  return static_cast<DWORD>(sim_.tracer.EndStatus(call, exitStatus));
}

}  // namespace winsim
