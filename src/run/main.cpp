#include "run/run.hpp"

int main() {
  OpenInput(gLocInput, kLocFileName);
  return RunExtraction();
}
