// Entry point of twprereqhandler.exe.
#include "handler/runflow.h"

int main(int argc, char** argv) { return RunPrerequisiteHandler(argc, argv); }
