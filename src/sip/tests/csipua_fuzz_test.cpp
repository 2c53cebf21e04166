// A bounded libFuzzer run of the agent's dispatcher behind the SIP stack (built with clang as
// sipua_fuzz), seeded with the stack's own seeds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

TEST(FuzzAgenteSip, DispatcherSurvivesABoundedFuzzRun) {
    const char* dir = std::getenv("VK_BUILD_DIR");
    const std::string bin = std::string(dir ? dir : ".") + "/src/sip/sipua_fuzz";
    struct stat st;
    if (stat(bin.c_str(), &st) != 0) GTEST_SKIP() << "sipua_fuzz not built (no clang)";
    const std::string f = __FILE__;
    const std::string semillas = f.substr(0, f.rfind("/src/sip/")) + "/ext/sip/tests/semillas";
    mkdir("/tmp/sipua_corpus", 0755);
    const std::string cmd = bin + " -max_total_time=15 -timeout=10 -rss_limit_mb=2048 -close_fd_mask=1 " +
                            "-print_final_stats=1 /tmp/sipua_corpus " + semillas + " > /tmp/sipua_fuzz.log 2>&1";
    const int rc = std::system(cmd.c_str());
    std::ifstream l("/tmp/sipua_fuzz.log");
    const std::string log((std::istreambuf_iterator<char>(l)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rc, 0) << log.substr(log.size() > 8000 ? log.size() - 8000 : 0);
    EXPECT_NE(log.find("Done "), std::string::npos);
    EXPECT_EQ(log.find("stat::number_of_executed_units: 0\n"), std::string::npos);
}

}  // namespace
