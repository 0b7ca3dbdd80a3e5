// Main of the test programs whose test plugins are found through the loader's search path
// (TEST_PLUGIN_DIR): that path is read when a process starts, so put the folder on it and start
// again.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const char* current = std::getenv("LD_LIBRARY_PATH");
    if (!current || !std::strstr(current, TEST_PLUGIN_DIR)) {
        std::string path = TEST_PLUGIN_DIR;
        if (current && *current)
            path.append(":").append(current);
        setenv("LD_LIBRARY_PATH", path.c_str(), 1);
#if defined(__SANITIZE_THREAD__)
        // FluidSynth loads a SoundFont on OpenMP threads, whose barriers ThreadSanitizer cannot
        // see (libgomp is not instrumented): one thread, so that only our own threads are judged.
        setenv("OMP_NUM_THREADS", "1", 0);
#endif
        execv("/proc/self/exe", argv);
        return 127;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
