// The core (libtamlib, libstreamkit, libdiscport, the plugins and tamrin-cli) must run where Qt is
// not installed: none of them may depend on a Qt library. Checked with ldd on the build's output
// folder, found as the folder of libtamlib itself.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tamlib/strings.h"

namespace fs = std::filesystem;

namespace {

fs::path outputFolder()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&PlbLoadString), &info) || !info.dli_fname)
        return {};
    return fs::path(info.dli_fname).parent_path();
}

// ldd's listing of `file`; empty when ldd cannot run.
std::string dependencies(const fs::path& file)
{
    const std::string command = "ldd '" + file.string() + "' 2>&1";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

bool namesQt(const std::string& listing)
{
    return listing.find("libQt") != std::string::npos;
}

} // namespace

TEST(CoreWithoutQt, NoCoreLibraryProgramOrPluginLinksQt)
{
    const fs::path out = outputFolder();
    ASSERT_FALSE(out.empty());
    // The check can see Qt where it is: the user-interface library links it.
    ASSERT_TRUE(namesQt(dependencies(out / "libtamlibui.so"))) << "ldd does not list Qt libraries";

    std::vector<fs::path> core = {out / "libtamlib.so", out / "libstreamkit.so", out / "libdiscport.so",
                                  out / "tamrin-cli"};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(out / "PsrPlugins", error)) {
        if (entry.path().extension() == ".psr")
            core.push_back(entry.path());
    }
    EXPECT_GT(core.size(), 4u) << "no plugin in " << (out / "PsrPlugins").string()
                               << " (build tamrin-cli-runtime)";
    for (const fs::path& file : core) {
        ASSERT_TRUE(fs::exists(file)) << file.string() << " is not built (build tamrin-cli-runtime)";
        const std::string listing = dependencies(file);
        EXPECT_NE(listing.find("=>"), std::string::npos) << file.string() << ": " << listing;
        EXPECT_FALSE(namesQt(listing)) << file.string() << ":\n" << listing;
    }
}
