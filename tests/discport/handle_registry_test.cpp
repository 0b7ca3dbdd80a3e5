// The registry of live handles with its per-thread memory of handles found: a handle taken back
// is refused at once, by the thread that remembered it and by any other, also when its address
// comes back for a new handle; more handles than a thread remembers are all still found.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tamrin_common/handle_registry.h"

namespace {

using tamrin_common::HandleRegistry;

TEST(HandleRegistry, RemovedHandlesAreRefusedAlthoughRemembered)
{
    HandleRegistry registry;
    int objects[100] = {};
    for (int& object : objects)
        ASSERT_TRUE(registry.add(&object));
    // Round after round over more handles than a thread remembers.
    for (int round = 0; round < 3; ++round)
        for (int& object : objects)
            EXPECT_TRUE(registry.contains(&object));
    EXPECT_FALSE(registry.contains(nullptr));
    int other = 0;
    EXPECT_FALSE(registry.contains(&other));

    EXPECT_TRUE(registry.contains(&objects[3]));
    EXPECT_TRUE(registry.remove(&objects[3]));
    EXPECT_FALSE(registry.contains(&objects[3]));
    EXPECT_FALSE(registry.remove(&objects[3]));
    EXPECT_TRUE(registry.contains(&objects[2]));

    // The same address handed out again is live again, and gone again after its removal.
    ASSERT_TRUE(registry.add(&objects[3]));
    EXPECT_TRUE(registry.contains(&objects[3]));
    EXPECT_TRUE(registry.remove(&objects[3]));
    EXPECT_FALSE(registry.contains(&objects[3]));
}

TEST(HandleRegistry, RemovalByAnotherThreadIsSeenAtOnce)
{
    HandleRegistry registry;
    int object = 0;
    ASSERT_TRUE(registry.add(&object));
    std::atomic<int> step{0};
    std::thread other([&] {
        while (step.load() != 1)
            std::this_thread::yield();
        EXPECT_TRUE(registry.remove(&object));
        step.store(2);
    });
    EXPECT_TRUE(registry.contains(&object)); // now remembered by this thread
    step.store(1);
    while (step.load() != 2)
        std::this_thread::yield();
    other.join();
    EXPECT_FALSE(registry.contains(&object));
}

TEST(HandleRegistry, RegistriesDoNotShareTheirHandles)
{
    HandleRegistry first, second;
    int object = 0;
    ASSERT_TRUE(first.add(&object));
    EXPECT_TRUE(first.contains(&object));
    EXPECT_FALSE(second.contains(&object));
    EXPECT_FALSE(second.remove(&object));
    EXPECT_TRUE(first.contains(&object));
}

} // namespace
