#include "ui/AppServices.h"

#include <QStandardPaths>

namespace varnel {

std::string PublishedPortsDirectory() {
  const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty()) return {};
  return (runtime + QStringLiteral("/varnel/ports")).toStdString();
}

}  // namespace varnel
