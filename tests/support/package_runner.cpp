#include "package_runner.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <cwctype>

namespace qnvpd_test {

namespace {

// The environment block for the child: ours, with the requested changes.
std::vector<wchar_t> BuildEnvironment(const RunOptions& options) {
  std::map<std::wstring, std::wstring> vars;  // upper-cased name -> "Name=Value"
  std::map<std::wstring, std::wstring> order;
  wchar_t* block = GetEnvironmentStringsW();
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    size_t eq = entry.find(L'=', 1);
    if (eq == std::wstring::npos) continue;
    std::wstring key = entry.substr(0, eq);
    std::wstring upper = key;
    for (auto& c : upper) c = towupper(c);
    vars[upper] = entry;
  }
  FreeEnvironmentStringsW(block);
  auto set = [&](const std::wstring& key, const std::wstring& value) {
    std::wstring upper = key;
    for (auto& c : upper) c = towupper(c);
    if (value.empty())
      vars.erase(upper);
    else
      vars[upper] = key + L"=" + value;
  };
  if (!options.tempFolder.empty()) {
    set(L"TMP", options.tempFolder);
    set(L"TEMP", options.tempFolder);
  }
  for (const auto& kv : options.env) set(kv.first, kv.second);
  std::vector<wchar_t> out;
  for (const auto& kv : vars) {
    out.insert(out.end(), kv.second.begin(), kv.second.end());
    out.push_back(L'\0');
  }
  out.push_back(L'\0');
  return out;
}

struct BoxWatch {
  DWORD processId;
  std::vector<HWND> seen;
};

BOOL CALLBACK FindBoxes(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<BoxWatch*>(param);
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (wcscmp(cls, L"#32770") != 0) return TRUE;
  wchar_t title[256] = {};
  GetWindowTextW(window, title, 256);
  if (wcscmp(title, kCaption) != 0) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == watch->processId) watch->seen.push_back(window);
  return TRUE;
}

}  // namespace

// A path of the build: its own variable if set, else below QNVPD_BUILD.
std::wstring BuildPath(const wchar_t* variable, const wchar_t* belowBuild) {
  std::wstring own = EnvironmentValue(variable);
  if (!own.empty()) return own;
  std::wstring build = EnvironmentValue(L"QNVPD_BUILD");
  return build.empty() ? std::wstring() : build + L"\\" + belowBuild;
}

std::wstring PackagePath() { return BuildPath(L"QNVPD_PACKAGE", L"QNVPDSetup.exe"); }

std::wstring VariantPackagePath(const wchar_t* variant) {
  return BuildPath(L"QNVPD_VARIANTS", L"variants") + L"\\" + variant + L"\\QNVPDSetup.exe";
}

std::wstring StandinPayloadDir() { return BuildPath(L"QNVPD_STANDIN_PAYLOAD", L"standin-payload"); }

std::wstring HelpersDir() { return BuildPath(L"QNVPD_HELPERS", L"test-helpers"); }

std::wstring MarkerDllsDir() {
  return BuildPath(L"QNVPD_MARKER_DLLS", L"test-helpers\\marker-dlls");
}

std::wstring ScratchDir() {
  static std::wstring dir;
  if (dir.empty()) {
    std::wstring base = BuildPath(L"QNVPD_SCRATCH", L"scratch");
    if (base.empty()) {
      wchar_t temp[MAX_PATH + 1];
      GetTempPathW(MAX_PATH + 1, temp);
      base = std::wstring(temp) + L"qnvpd-scratch";
    }
    CreateDirectoryW(base.c_str(), nullptr);
    // Process ids are per prefix, and the 32-bit prefix's tests run beside the
    // 64-bit prefix's ones in the same build folder: the prefix kind is part of
    // the name so that two test programs never share (and delete) one folder.
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    dir = base + (wow64 ? L"\\p" : L"\\w32-p") + std::to_wstring(GetCurrentProcessId());
    DeleteTree(dir);
    CreateDirectoryW(dir.c_str(), nullptr);
  }
  return dir;
}

HANDLE StartProgram(const std::wstring& program, const RunOptions& options) {
  std::wstring cmd = L"\"" + program + L"\"";
  if (!options.arguments.empty()) cmd += L" " + options.arguments;
  std::vector<wchar_t> cmdBuf(cmd.begin(), cmd.end());
  cmdBuf.push_back(L'\0');
  std::vector<wchar_t> env = BuildEnvironment(options);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  const wchar_t* currentFolder =
      options.currentFolder.empty() ? nullptr : options.currentFolder.c_str();
  if (!CreateProcessW(program.c_str(), cmdBuf.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, env.data(), currentFolder, &si, &pi)) {
    return nullptr;
  }
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

RunResult RunProgram(const std::wstring& program, const RunOptions& options) {
  RunResult result;
  HANDLE process = StartProgram(program, options);
  if (process == nullptr) {
    result.exitCode = 0xFFFFFFFF;
    return result;
  }
  DWORD pid = GetProcessId(process);
  DWORD start = GetTickCount();
  std::vector<HWND> pressed;
  for (;;) {
    DWORD wait = WaitForSingleObject(process, 50);
    if (wait == WAIT_OBJECT_0) break;
    if (options.watchMessageBoxes) {
      BoxWatch watch{pid, {}};
      EnumWindows(FindBoxes, reinterpret_cast<LPARAM>(&watch));
      for (HWND box : watch.seen) {
        bool known = false;
        for (HWND p : pressed) known = known || p == box;
        if (known) continue;
        // The box may still be setting itself up: wait for its text (a loaded
        // machine can take a while), but not forever.
        wchar_t text[2048] = {};
        for (int tries = 0; tries < 60; ++tries) {
          Sleep(50);
          if (GetDlgItemTextW(box, 0xFFFF, text, 2048) > 0) break;
        }
        result.boxTexts.push_back(text);
        pressed.push_back(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
      }
    }
    if (GetTickCount() - start > options.timeoutMs) {
      TerminateProcess(process, 0xDEAD);
      WaitForSingleObject(process, 5000);
      result.timedOut = true;
      break;
    }
  }
  GetExitCodeProcess(process, &result.exitCode);
  CloseHandle(process);
  return result;
}

void SetWindowsVersionFor(const std::wstring& exeName, const std::wstring& version) {
  std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
  if (version.empty()) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    return;
  }
  RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version.c_str(),
                  static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
}

namespace {

// A struct of the image at `offset`, or null when it would reach past the end.
template <typename T>
const T* At(const std::string& image, size_t offset) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return nullptr;
  return reinterpret_cast<const T*>(image.data() + offset);
}

// The entry `id` of the resource directory at `dir` (an offset into the
// resource section), or null.
const IMAGE_RESOURCE_DIRECTORY_ENTRY* FindResourceEntry(const std::string& image, size_t base,
                                                        size_t dir, WORD id) {
  const auto* header = At<IMAGE_RESOURCE_DIRECTORY>(image, base + dir);
  if (header == nullptr) return nullptr;
  const size_t count = header->NumberOfNamedEntries + header->NumberOfIdEntries;
  for (size_t i = 0; i < count; ++i) {
    const auto* entry = At<IMAGE_RESOURCE_DIRECTORY_ENTRY>(
        image, base + dir + sizeof(IMAGE_RESOURCE_DIRECTORY) + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
    if (entry == nullptr) return nullptr;
    if (!entry->NameIsString && entry->Id == id) return entry;
  }
  return nullptr;
}

// Where an RVA of the image lies in its file; false outside every section.
bool FileOffsetOf(const std::string& image, DWORD rva, size_t* offset) {
  const auto* dos = At<IMAGE_DOS_HEADER>(image, 0);
  if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = At<IMAGE_NT_HEADERS32>(image, dos->e_lfanew);
  if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const size_t sections = dos->e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                          nt->FileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
    const auto* section = At<IMAGE_SECTION_HEADER>(image, sections + i * sizeof(IMAGE_SECTION_HEADER));
    if (section == nullptr) return false;
    if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData) {
      *offset = rva - section->VirtualAddress + section->PointerToRawData;
      return true;
    }
  }
  return false;
}

// The file offset of the resource section (where every directory offset starts)
// and the offset, from there, of the RCDATA type's directory of ids.
bool FindRcdataDirectory(const std::string& image, size_t* base, size_t* names) {
  const auto* dos = At<IMAGE_DOS_HEADER>(image, 0);
  if (dos == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return false;
  const auto* nt = At<IMAGE_NT_HEADERS32>(image, dos->e_lfanew);
  if (nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE) return false;
  const DWORD resourceRva =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
  if (resourceRva == 0 || !FileOffsetOf(image, resourceRva, base)) return false;
  const auto* type = FindResourceEntry(image, *base, 0, 10);  // RT_RCDATA
  if (type == nullptr || !type->DataIsDirectory) return false;
  *names = type->OffsetToDirectory;
  return true;
}

// Writes `image` to `path` and reads it back: false when it did not land whole.
bool WriteImage(const std::string& image, const std::wstring& path) {
  WriteFileBytes(path, image);
  return ReadFileBytes(path) == image;
}

}  // namespace

bool FindRcdataInFile(const std::string& image, WORD id, size_t* offset, size_t* size) {
  size_t base = 0, names = 0;
  if (!FindRcdataDirectory(image, &base, &names)) return false;
  // The name, then its first language.
  const auto* name = FindResourceEntry(image, base, names, id);
  if (name == nullptr || !name->DataIsDirectory) return false;
  const auto* languages = At<IMAGE_RESOURCE_DIRECTORY>(image, base + name->OffsetToDirectory);
  const auto* language = At<IMAGE_RESOURCE_DIRECTORY_ENTRY>(
      image, base + name->OffsetToDirectory + sizeof(IMAGE_RESOURCE_DIRECTORY));
  if (languages == nullptr || language == nullptr || language->DataIsDirectory) return false;
  const auto* data = At<IMAGE_RESOURCE_DATA_ENTRY>(image, base + language->OffsetToData);
  if (data == nullptr || !FileOffsetOf(image, data->OffsetToData, offset)) return false;
  if (*offset + data->Size > image.size()) return false;
  *size = data->Size;
  return true;
}

bool WriteDamagedPackage(WORD id, const std::wstring& path) {
  std::string image = ReadFileBytes(PackagePath());
  size_t offset = 0, size = 0;
  if (!FindRcdataInFile(image, id, &offset, &size) || size == 0) return false;
  image[offset + size / 2] ^= 0x01;
  return WriteImage(image, path);
}

bool WriteRenumberedPackage(WORD id, WORD newId, const std::wstring& path) {
  std::string image = ReadFileBytes(PackagePath());
  size_t base = 0, names = 0, offset = 0, size = 0;
  if (!FindRcdataDirectory(image, &base, &names) || FindRcdataInFile(image, newId, &offset, &size)) {
    return false;
  }
  const auto* header = At<IMAGE_RESOURCE_DIRECTORY>(image, base + names);
  if (header == nullptr) return false;
  const size_t first = base + names + sizeof(IMAGE_RESOURCE_DIRECTORY) +
                       header->NumberOfNamedEntries * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
  std::vector<IMAGE_RESOURCE_DIRECTORY_ENTRY> entries(header->NumberOfIdEntries);
  const size_t bytes = entries.size() * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
  if (first > image.size() || image.size() - first < bytes) return false;
  std::memcpy(entries.data(), image.data() + first, bytes);
  bool renumbered = false;
  for (IMAGE_RESOURCE_DIRECTORY_ENTRY& entry : entries) {
    if (entry.Id != id) continue;
    entry.Id = newId;
    renumbered = true;
  }
  // The loader looks ids up by binary search: the entries must stay in order.
  std::sort(entries.begin(), entries.end(),
            [](const IMAGE_RESOURCE_DIRECTORY_ENTRY& a, const IMAGE_RESOURCE_DIRECTORY_ENTRY& b) {
              return a.Id < b.Id;
            });
  std::memcpy(&image[first], entries.data(), bytes);
  return renumbered && !FindRcdataInFile(image, id, &offset, &size) &&
         FindRcdataInFile(image, newId, &offset, &size) && WriteImage(image, path);
}

std::multimap<std::string, std::string> ReadReport(const std::wstring& path) {
  std::multimap<std::string, std::string> out;
  std::istringstream in(ReadFileBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    out.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return out;
}

std::vector<std::string> ReportValues(const std::multimap<std::string, std::string>& report,
                                      const std::string& key) {
  std::vector<std::string> values;
  auto range = report.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}


std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name");
  if (proc == nullptr) return std::string();
  char* unix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(proc))(path.c_str());
  if (unix == nullptr) return std::string();
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool RunLinuxShell(const std::string& script, const std::vector<std::string>& arguments) {
  static int serial = 0;
  const std::wstring exitFile =
      ScratchDir() + L"\\linux-exit-" + std::to_wstring(++serial) + L".txt";
  DeleteFileW(exitFile.c_str());
  const std::string exitUnix = UnixPath(exitFile);
  if (exitUnix.empty()) return false;
  // sh -c "<script>; echo $? > \"$0\"" <exit file> <arguments>...
  std::string quoted;
  for (char c : script + "; echo $? > \"$0\"") {
    if (c == '"') quoted += '\\';
    quoted += c;
  }
  std::wstring command = L"sh -c \"" + Widen(quoted) + L"\" \"" + Widen(exitUnix) + L"\"";
  for (const std::string& argument : arguments) command += L" \"" + Widen(argument) + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(L"Z:\\bin\\sh", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    return false;
  }
  for (DWORD waited = 0; waited < 30000 && !FileExists(exitFile); waited += 20) Sleep(20);
  Sleep(50);  // the shell may still be writing the code
  return ReadFileBytes(exitFile) == "0\n";
}

LinuxFolderLink::LinuxFolderLink(const std::wstring& target, const std::wstring& link)
    : link_(UnixPath(link)) {
  const std::string unixTarget = UnixPath(target);
  made_ = !link_.empty() && !unixTarget.empty() &&
          RunLinuxShell("ln -s \"$1\" \"$2\"", {unixTarget, link_});
}

LinuxFolderLink::~LinuxFolderLink() {
  if (!link_.empty()) RunLinuxShell("rm -f \"$1\"", {link_});
}

}  // namespace qnvpd_test
