// Window tests change the environment through Qt, under the lock Qt's own readers take (QtTest's
// watchdog thread reads it while a test's set-up runs). Call before the tests start.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include "support/Environment.h"

namespace guitest {

inline void UseQtEnvironment() {
    vp::test::EnvironmentWriter() = {
        [](const char* name, const char* value) { qputenv(name, QByteArray(value)); },
        [](const char* name) { qunsetenv(name); }};
}

}  // namespace guitest
