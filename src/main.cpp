// occusim2: simulated detection-history data for wildlife occupancy studies.
#include "occusim2.h"

int main(int argc, char** argv) {
  return occusim::run(argc, argv);
}
