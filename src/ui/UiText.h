// The user-visible text of a string id, in the language chosen at start-up, as Qt wants it.
#pragma once

#include <QString>

#include "platform/StringTable.h"

inline QString LoadText(UINT id) {
    return QString::fromUtf8(LoadString(id));
}
