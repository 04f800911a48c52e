// The run options: one process-wide record filled once from the command line
// and only read afterwards. Texts are absent until their option is given.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

struct RunOptions {
  std::optional<std::string> patchName;                   // -p
  std::optional<std::string> productName;                 // -n
  std::optional<std::string> productVersion;              // -v
  std::optional<std::string> javaFileName;                // -f
  std::optional<std::string> dependencyFileName;          // -d
  std::optional<std::string> javaArchitecture;            // -x
  std::optional<std::string> javaLatestInstalledVersion;  // -j
  int32_t clearDetection = 0;                             // -c
  bool removeJavaInstallPath = false;                     // -r
  bool calledFromSoftwareDeployment = false;              // -s
};

extern RunOptions g_runOptions;

// Fills g_runOptions from the arguments (index 1 on). Always true.
bool parseCommandLine(int argc, const char* const* argv);
// True when the patch is a Java 8 update: patchName contains "jre-8u" or
// productName contains "Java_1.8" (case-sensitive).
bool isJava8Update();
