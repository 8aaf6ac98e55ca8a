#include "app/project_run.h"

int main(int argc, char** argv) { return pakkaro::RunProject(argc, argv); }
