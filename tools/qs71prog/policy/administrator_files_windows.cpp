#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <cstdlib>

#include "file_system.h"
#include "policy/administrator_files.h"

namespace qs71prog {

namespace {

// Any of these lets its holder change the file, or what a folder holds.
constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                 FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER |
                                 GENERIC_WRITE | GENERIC_ALL;

bool IsAdministrator(PSID sid) {
  return IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinLocalSystemSid);
}

// "BENCH3\ann", or the SID as text when the account cannot be looked up.
std::string AccountName(PSID sid) {
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
    return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "an unknown account";
  const std::string shown = text;
  LocalFree(text);
  return shown;
}

// The first entry of the access list that lets someone but the administrators change the file.
std::string WriterFault(PACL dacl) {
  if (dacl == nullptr) return "has no access list, so everyone may change it";
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) continue;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
    // An entry only for what is made inside (CREATOR OWNER's) grants nothing on this one.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
      continue;
    }
    const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & kChanges) != 0 && !IsAdministrator(sid)) {
      return "lets " + AccountName(sid) + " change it";
    }
  }
  return "";
}

// What lets someone other than the administrators change the file at the open handle.
std::string Fault(HANDLE handle) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD got = GetSecurityInfo(handle, SE_FILE_OBJECT,
                                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                    nullptr, &dacl, nullptr, &descriptor);
  if (got != ERROR_SUCCESS) {
    SetLastError(got);
    return "cannot be checked: " + LastSystemError();
  }
  std::string fault;
  if (owner == nullptr || !IsAdministrator(owner)) {
    fault = "is owned by " + (owner == nullptr ? std::string("nobody") : AccountName(owner)) +
            ", not by the Administrators group";
  } else {
    fault = WriterFault(dacl);
  }
  LocalFree(descriptor);
  return fault;
}

HANDLE OpenForSecurity(const std::string& path) {
  // Without FILE_FLAG_OPEN_REPARSE_POINT, a link is followed to its target.
  return CreateFileA(path.c_str(), READ_CONTROL,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The target's own name, without the \\?\ that GetFinalPathNameByHandle puts first.
std::string FinalName(HANDLE handle, const std::string& path) {
  char name[MAX_PATH * 4];
  const DWORD length = GetFinalPathNameByHandleA(handle, name, sizeof name, FILE_NAME_NORMALIZED);
  if (length == 0 || length >= sizeof name) return path;
  std::string text(name, length);
  if (text.rfind("\\\\?\\UNC\\", 0) == 0) return "\\" + text.substr(7);
  return text.rfind("\\\\?\\", 0) == 0 ? text.substr(4) : text;
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return ".";
  return cut == 2 && path[1] == ':' ? path.substr(0, 3) : path.substr(0, cut);
}

std::string Advice(const std::string& path) {
  return "icacls \"" + path + "\" /setowner Administrators && icacls \"" + path +
         "\" /inheritance:r /grant:r Administrators:F SYSTEM:F Users:RX";
}

// Checks path; target receives the name of the file it leads to.
bool Check(const std::string& path, const std::string& named, const std::string& what,
           std::string& target, std::string& problem) {
  const std::string place = what + " " + named + (path == named ? "" : ": its folder " + path);
  const HANDLE handle = OpenForSecurity(path);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = place + " cannot be checked: " + LastSystemError();
    return false;
  }
  const std::string fault = Fault(handle);
  target = FinalName(handle, path);
  CloseHandle(handle);
  if (fault.empty()) return true;
  problem = place + " " + fault +
            ", so others than the administrators could change it; a "
            "station takes it only from them: " +
            Advice(path);
  return false;
}

}  // namespace

std::string SystemPolicyFile() {
  const char* data = std::getenv("PROGRAMDATA");
  return data == nullptr || *data == '\0' ? "" : std::string(data) + "\\qs71\\station.toml";
}

bool OnlyAdministratorsMayChange(const std::string& path, const std::string& what,
                                 std::string& problem) {
  std::string target;
  std::string ignored;
  if (!Check(path, path, what, target, problem)) return false;
  if (!Check(FolderOf(target), path, what, ignored, problem)) return false;
  return FolderOf(path) == FolderOf(target) || Check(FolderOf(path), path, what, ignored, problem);
}

bool RunByAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
         CheckTokenMembership(nullptr, sid, &member) && member;
}

}  // namespace qs71prog
