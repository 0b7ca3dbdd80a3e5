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
        execv("/proc/self/exe", argv);
        return 127;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
