#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

// Every test case runs in its own sandbox: the fixed paths are private and writable.
TEST(Sandbox, FixedPathsArePrivateAndWritable) {
    ASSERT_NE(getenv("VK_SANDBOX"), nullptr);
    struct stat st{};
    EXPECT_EQ(stat("/mnt/ramfs", &st), 0);
    FILE* f = fopen("/var/sandbox_probe.pid", "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(unlink("/var/sandbox_probe.pid"), 0);
}
