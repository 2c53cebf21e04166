// A bounded libFuzzer run of the message entry point (built with clang as sip_fuzz).
#include "agente_prueba.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

TEST(FuzzSip, MessageEntryPointSurvivesABoundedFuzzRun) {
  const char *dir = getenv("VK_BUILD_DIR");
  std::string bin = std::string(dir ? dir : ".") + "/ext/sip/sip_fuzz";
  struct stat st;
  if (stat(bin.c_str(), &st) != 0) GTEST_SKIP() << "sip_fuzz not built (no clang)";
  mkdir("/tmp/sip_corpus", 0755);
  std::string cmd = bin + " -max_total_time=15 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 " +
                    "/tmp/sip_corpus " + DirEscenarios() + "semillas > /tmp/sip_fuzz.log 2>&1";
  int rc = system(cmd.c_str());
  std::ifstream f("/tmp/sip_fuzz.log");
  std::string log((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  EXPECT_EQ(rc, 0) << log.substr(log.size() > 8000 ? log.size() - 8000 : 0);
  EXPECT_NE(log.find("Done "), std::string::npos);
}

}  // namespace
