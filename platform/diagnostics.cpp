#include "platform/diagnostics.h"

#include <QString>

namespace Diagnostics {

void installMessagePattern()
{
    qSetMessagePattern(QStringLiteral("%{time hh:mm:ss.zzz} %{function} %{message}"));
}

} // namespace Diagnostics
