// Initialises the engine on a deployment directory and prints the version
// banner, the initialisation result and the template size.
//
//   ravel-smoke <deployment dir>
#include <cstdio>
#include <string>

#include "engine/ravel-exports.h"

int main(int argc, char** argv) {
  const char* dir = argc > 1 ? argv[1] : ".";
  std::printf("%s\n", Ravel_GetVersion().c_str());
  const std::string model = std::string(dir) + "/ulxmodel.dat";
  const bool share = false;
  const int status = Ravel_Initialize(model.c_str(), 20, 0.025f, dir, share);
  if (status != 0) {
    std::printf("initialisation of %s failed: status %d, detail 0x%05X\n", dir, status,
                Ravel_GetDetail(nullptr));
    return 1;
  }
  std::printf("deployment %s: template size %d bytes\n", dir, Ravel_GetTemplateSize());
  Ravel_Terminate();
  return 0;
}
