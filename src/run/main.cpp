#include "platform/platform.hpp"
#include "run/run.hpp"

int main() {
  platform::PrepareProcess();
  OpenInput(gLocInput, kLocFileName);
  return RunExtraction();
}
