// list_models PACKAGE...: a program that hosts an engine. It loads each
// package file named and prints the component models the packages offer,
// one "package model version" a line; status 1 when a package fails to load
// (the engine reports why on standard error).
#include <cstdio>

#include "velquor/engine.h"

int main(int argc, char** argv) {
  velquor::Engine engine;
  for (int i = 1; i < argc; ++i) {
    if (!engine.LoadPackage(argv[i])) return 1;
  }
  for (const velquor::ModelInfo& model : engine.Models()) {
    std::printf("%s %s %s\n", model.package.c_str(), model.name.c_str(), model.version.c_str());
  }
  return 0;
}
