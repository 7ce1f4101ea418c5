#include "carryover/registry_reader.h"

#include <cstring>

namespace qnvpd {

bool OpenKeyForReading(const std::string& path, ScopedKey* key) {
  key->Reset();
  if (path.size() + 1 > kRegistryNameChars) return false;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key->Receive()) ==
         ERROR_SUCCESS;
}

bool ReadDwordValue(HKEY key, const char* name, uint32_t* value) {
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof bytes;
  bool ok = RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) == ERROR_SUCCESS;
  *value = ok ? static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                    static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24
              : 0;
  return ok;
}

bool ReadStringValue(HKEY key, const char* name, std::string* text) {
  text->clear();
  char buffer[kRegistryStringBytes];
  DWORD size = sizeof buffer;
  if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  if (size > sizeof buffer) return false;
  const void* zero = std::memchr(buffer, '\0', size);
  if (zero != nullptr) {
    text->assign(buffer, static_cast<size_t>(static_cast<const char*>(zero) - buffer));
    return true;
  }
  // Stored without its terminator: usable only while the terminator still fits.
  if (size >= sizeof buffer) return false;
  text->assign(buffer, size);
  return true;
}

const SubkeyEnumeration& SystemSubkeyEnumeration() {
  static const SubkeyEnumeration enumeration = {
      [](HKEY key, DWORD index, char* name, DWORD* nameChars) {
        return RegEnumKeyExA(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
      }};
  return enumeration;
}

void ForEachSubkeyName(HKEY key, const std::function<void(const std::string&)>& visit,
                       const SubkeyEnumeration& enumeration) {
  DWORD errorsInARow = 0;
  for (DWORD index = 0; errorsInARow < kMaxEnumerationErrors; ++index) {
    char name[kRegistryNameChars];
    DWORD nameChars = kRegistryNameChars;
    LONG status = enumeration.enumerate(key, index, name, &nameChars);
    if (status == ERROR_NO_MORE_ITEMS) return;
    if (status != ERROR_SUCCESS || nameChars >= kRegistryNameChars) {
      ++errorsInARow;
      continue;
    }
    errorsInARow = 0;
    name[nameChars] = '\0';
    visit(std::string(name, std::strlen(name)));
  }
}

}  // namespace qnvpd
