// Java installation discovery: where the runtime (JRE) and development kit (JDK)
// of the patch's version are installed, the Java home the in-use check looks for,
// and the registry records the agent's detection reads (install paths, detection key).
#pragma once
#include <cstdint>
#include <string>

#include "agent/config/settings.h"

// The Java home found by readJavaHome (UTF-8); absent until found.
extern OptText szJavaHome;

// "JavaHome" of the runtime / development kit of productVersion; a productName
// containing "x64" reads the native (64-bit) view, any other the 32-bit view.
// The empty text when the key or a text value is missing.
std::string JREInstallDir();
std::string JDKInstallDir();

// Sets szJavaHome from the runtime key: the 32-bit view for an i586 installer
// (patchName contains "586"), else the native view on 64-bit Windows.
void readJavaHome();

// Records JREPath, JDKPath and FileName under HKLM "SOFTWARE\\Orvanta" or, with
// -r or without a product name, removes them. Failures are logged; none stops the run.
void RecordJavaInstallPaths();

// "SOFTWARE\\Orvanta\\Tarnwick\\TWAgent\\AppDetection\\<productName>".
std::string DetectionKeyPath();
// Creates the detection key (ordinary mode only; software deployment leaves it
// alone). The registry's result, 0 when nothing was to be done.
int32_t CreateDetectionKey();
// Deletes the detection key and anything below it: 1 when deleted, else 0.
// A product name that would name the AppDetection key itself deletes nothing.
int32_t ClearDetectionKey();
