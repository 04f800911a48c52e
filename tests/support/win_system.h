// Where the running test program and Windows live, for tests that start
// programs beside themselves or look into the system folders (the native one
// from 32-bit test programs too); UTF-8 <-> UTF-16 for the "W" calls of tests;
// and one way to wait for something to happen.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace twtest {

// UTF-8 to UTF-16 and back ("" for a text that does not convert).
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);

// Asks `done` every `stepMs` until it says yes (true) or `timeoutMs` have passed
// (false).
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs, DWORD stepMs = 100);

// The folder of the running test program (no trailing backslash).
std::string ExeFolder();
// The Windows folder, as GetWindowsDirectory gives it.
std::string WindowsFolder();
// The native System32 folder as this test program reaches it: "<Windows>\\sysnative"
// in a 32-bit test program on 64-bit Windows (its System32 is SysWOW64),
// "<Windows>\\system32" otherwise.
std::string NativeSystemFolder();

}  // namespace twtest
