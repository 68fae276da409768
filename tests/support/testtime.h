#pragma once

// Time bounds of the tests, stretched on slow builds: the sanitizer runs set
// VELA_TEST_TIME_FACTOR (a whole number, 1 when unset) and every bound a test
// waits for goes through scaled(), so that a slow machine never fails a
// test that would pass on a fast one.

namespace testsupport {

// The factor, 1 to 100.
int timeFactor();

// `ms` times the factor.
int scaled(int ms);

} // namespace testsupport
