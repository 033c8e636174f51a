// qv_robot.exe STEP...: runs the robot's steps (see robot.h) against the
// windows of another process, for script hosts that cannot run a thread.
#include <cstdio>

#include "support/scan_robot.h"

int main(int argc, char** argv) {
  std::vector<std::string> steps(argv + 1, argv + argc);
  std::string reason;
  if (!quorvex::robot::RunSteps(steps, reason)) {
    std::fprintf(stderr, "robot: %s\n", reason.c_str());
    return 1;
  }
  return 0;
}
