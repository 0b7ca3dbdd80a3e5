// Access to the test plugins' state from the tests.
#pragma once

#include <dlfcn.h>

#include <gtest/gtest.h>

#include "streamkit/lbr.h"
#include "test_plugin_control.h"

// Loads the named test plugin for the test's own use (the host's bindings then share the
// module) and returns its cleared state.
inline TestPluginControl& pluginControl(const char* name)
{
    void* module = dlopen(name, RTLD_NOW | RTLD_LOCAL);  // kept loaded for the whole run
    EXPECT_NE(module, nullptr) << dlerror();
    auto state = reinterpret_cast<TestPluginStateFn>(dlsym(module, "TestPluginState"));
    EXPECT_NE(state, nullptr);
    TestPluginControl& control = *state();
    control.reset();
    return control;
}
