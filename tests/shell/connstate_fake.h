#pragma once

#include <QString>

#include <cstdint>

namespace wavrell::test {

/// Path of the fake connection-state library and of a library without the
/// function (both built with the tests).
QString fake_connstate_library();
QString connstate_missing_library();

/// Sets the answer of the fake library, which must be loaded (by a
/// TWebDetect) already; false when it is not. Keeps no reference to it.
bool set_fake_connection_state(bool connected, uint32_t flags);

/// Number of times the fake library has been loaded into this process.
int fake_connstate_loads();

}  // namespace wavrell::test
