#include "Links.h"

// TACTIMO_DONATE_URL is defined for this file alone, so that changing the
// option rebuilds one file.
QUrl Links::donate() {
    return QUrl(QStringLiteral(TACTIMO_DONATE_URL));
}
