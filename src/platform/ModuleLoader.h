#pragma once
// Binding to a library by name. On this host a "module" is a named table of exported functions
// that the program itself provides; the URL cache layer registers itself as "wininet.dll".
// Tests may register a replacement that lacks a name and restore the original afterwards.

#include "WinTypes.h"

#include <map>
#include <string>

namespace win {

struct ModuleTag;
using HMODULE = ModuleTag*;
using FARPROC = void (*)();

// Names compare case-insensitively, as module names do. Null when no such module exists.
HMODULE LoadLibraryA(LPCSTR name);
// Null (and ERROR_PROC_NOT_FOUND as last error) when the module does not export the name.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;

} // namespace win

namespace platform {

using ModuleExports = std::map<std::string, win::FARPROC>;

// Makes `name` resolvable with the given exports, replacing any module of that name.
void RegisterModule(const std::string& name, ModuleExports exports);
// Removes a module registered under `name`; LoadLibraryA then fails for it.
void UnregisterModule(const std::string& name);
// The exports currently registered under `name` (empty when there is none).
ModuleExports ModuleExportsOf(const std::string& name);

} // namespace platform
