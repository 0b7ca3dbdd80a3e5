// Where a test program finds the test data (tests/data) and the build's output folder. Every test
// source sees this header first (the build includes it); the paths themselves are compiled once
// per build into a small generated source, so the test sources' objects do not depend on where
// the repository lies and the compiler cache serves them to a clone in any folder.
#pragma once

namespace testpaths {
const char* testData();
const char* outDir();
} // namespace testpaths

#define TAMRIN_TEST_DATA (::testpaths::testData())
#define TAMRIN_OUT_DIR (::testpaths::outDir())
