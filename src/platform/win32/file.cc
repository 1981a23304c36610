// SPDX-License-Identifier: BSD-2-Clause
// Replacing a file whole on Windows: a new file beside it, written, closed, then moved over it.
#include <windows.h>

#include "platform/platform.h"

namespace {

std::string Reason(const char* step, const std::string& path) {
  return std::string(step) + " " + path + ": error " + std::to_string(GetLastError());
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x10000000u ? 0x10000000u : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool PlatReplaceFile(const std::string& path, const std::string& temp, std::string_view text,
                     std::string* error) {
  HANDLE file =
      CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = Reason("cannot create", temp);
    return false;
  }
  bool ok = WriteAll(file, text);
  if (!ok) *error = Reason("cannot write", temp);
  if (!CloseHandle(file) && ok) {
    ok = false;
    *error = Reason("cannot write", temp);
  }
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    *error = Reason("cannot move the new file over", path);
  }
  if (!ok) DeleteFileA(temp.c_str());
  return ok;
}

// Windows' devices (NUL, CON, ...) refuse a move over them; a link there is replaced as a file is.
bool PlatReplaceTarget(const std::string& path, std::string* target, std::string* /*error*/) {
  *target = path;
  return true;
}

bool PlatMoveFile(const std::string& from, const std::string& to, std::string* error) {
  // Without MOVEFILE_REPLACE_EXISTING a file at `to` refuses the move; onto another volume the
  // system copies the file and deletes the original once the copy is done.
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    *error = Reason("cannot move the file to", to);
    return false;
  }
  return true;
}

void PlatRemoveFile(const std::string& path) { DeleteFileA(path.c_str()); }

std::uint32_t PlatProcessId() { return GetCurrentProcessId(); }
