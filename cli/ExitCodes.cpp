#include "cli/ExitCodes.h"

namespace varnel::cli {

std::string ExitCodeTable() {
  return "Exit codes:\n"
         "  0  success\n"
         "  1  internal error\n"
         "  2  bad arguments or input (nothing was sent)\n"
         "  3  the port cannot be opened (the system's reason is printed)\n"
         "  4  the sensor did not answer in time\n"
         "  5  the sensor refused (its status is printed)\n"
         "  6  the ledger refused the registration or is kept by another station\n"
         "With several ports, the code of the first port (in the order given) that failed.\n";
}

}  // namespace varnel::cli
