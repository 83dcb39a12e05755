#include "ui/AppServices.h"

#include "platform/RuntimeDirectory.h"

namespace varnel {

std::string PublishedPortsDirectory() {
  const std::string runtime = UserRuntimeDirectory();
  if (runtime.empty()) return {};
  return runtime + "/varnel/ports";
}

}  // namespace varnel
