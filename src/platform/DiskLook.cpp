#include "platform/DiskLook.h"

namespace Platform {

QString folderNotAnswering(const QString& folder)
{
    return folder + QStringLiteral(" does not answer.");
}

} // namespace Platform
