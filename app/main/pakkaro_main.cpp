#include "app/project_run.h"
#include "platform/platform.h"

int main(int argc, char** argv) { return platform::RunProgram(argc, argv, pakkaro::RunProject); }
