// Countdowns of the session-timer record, one row per behaviour.
#include "sip/temporizadorsesion.h"

#include <gtest/gtest.h>

namespace {

TEST(TemporizadorSesion, FreshRecordRunsNoCountdown) {
    TemporizadorSesion t;
    EXPECT_EQ(t.DescuentaSessionExpires(10), -1);
    EXPECT_EQ(t.DescuentaRx200ok(10), -1);
    EXPECT_EQ(t.DescuentaTxupdate(10), -1);
    EXPECT_EQ(t.GetExpiraciones(), 0);
}

TEST(TemporizadorSesion, SessionExpiryCountsDownToZeroThenStops) {
    TemporizadorSesion t;
    t.SetTmpSessionExpires(2);
    EXPECT_EQ(t.DescuentaSessionExpires(1500), 500);
    EXPECT_EQ(t.DescuentaSessionExpires(600), 0);
    EXPECT_EQ(t.DescuentaSessionExpires(600), -1);
}

TEST(TemporizadorSesion, HugeSessionExpiresSaturatesInsteadOfOverflowing) {
    TemporizadorSesion t;
    t.SetTmpSessionExpires(99999999);
    t.SetTmpRx200ok(INT32_MAX);
    t.SetTmpTxupdate(INT32_MIN);
    EXPECT_EQ(t.DescuentaSessionExpires(1), INT32_MAX - 1);
    EXPECT_EQ(t.DescuentaRx200ok(7), INT32_MAX - 7);
    EXPECT_EQ(t.DescuentaTxupdate(0), 0);
}

TEST(TemporizadorSesion, Rx200okCountsItsExpiryOnce) {
    TemporizadorSesion t;
    t.SetTmpRx200ok(1);
    EXPECT_EQ(t.DescuentaRx200ok(1000), 0);
    EXPECT_EQ(t.GetExpiraciones(), 1);
    EXPECT_EQ(t.DescuentaRx200ok(1000), -1);
    EXPECT_EQ(t.GetExpiraciones(), 1);
}

TEST(TemporizadorSesion, TxupdateRunningOutArmsTheAnswerWait) {
    TemporizadorSesion t;
    t.SetTmpTxupdate(1);
    EXPECT_EQ(t.DescuentaTxupdate(999), 1);
    EXPECT_EQ(t.DescuentaTxupdate(5), 0);
    EXPECT_EQ(t.DescuentaRx200ok(0), 400000);
}

TEST(TemporizadorSesion, CopyCarriesCountdownsAndReiniciaClearsThem) {
    TemporizadorSesion t;
    t.SetSessionExpires(120);
    t.SetTmpSessionExpires(120);
    TemporizadorSesion c = t;
    EXPECT_EQ(c.GetSessionExpires(), 120);
    EXPECT_EQ(c.DescuentaSessionExpires(20000), 100000);
    c.Reinicia();
    EXPECT_EQ(c.GetSessionExpires(), 0);
    EXPECT_EQ(c.DescuentaSessionExpires(1), -1);
}

}  // namespace
