// The pool of local RTP ports: the order it hands ports out in, its wrap-around, and that only
// the session holding a port gives it back.
#include <gtest/gtest.h>

#include <vector>

#include "sip/poollocalport.h"

namespace {

TEST(PoolLocalPort, HandsOutFrom5006UpAndWrapsToPort5004Last) {
    PoolLocalPort p;
    std::vector<int> v;
    for (int i = 0; i < 26; i++) v.push_back(p.AsignaLocalPort(100 + i));
    for (int i = 0; i < 25; i++) EXPECT_EQ(v[i], 5006 + 2 * i) << i;
    EXPECT_EQ(v[25], 5004);
    EXPECT_EQ(p.AsignaLocalPort(200), -1);
    EXPECT_EQ(p.Libres(), 0);
}

TEST(PoolLocalPort, TheSearchStartsAfterThePortReleasedLast) {
    PoolLocalPort p;
    for (int i = 0; i < 26; i++) p.AsignaLocalPort(i);
    ASSERT_EQ(p.LiberaLocalPort(5010, 2), 0);  // cid 2 holds 5010 (third handed out)
    EXPECT_EQ(p.AsignaLocalPort(50), 5010);
    ASSERT_EQ(p.LiberaLocalPort(5030, 12), 0);
    ASSERT_EQ(p.LiberaLocalPort(5012, 3), 0);
    EXPECT_EQ(p.AsignaLocalPort(51), 5030);  // circular from just after 5012
    EXPECT_EQ(p.AsignaLocalPort(52), 5012);
}

TEST(PoolLocalPort, ReleasesOnlyAPoolPortHeldByTheCaller) {
    struct Caso {
        int iPuerto;
        int cid;
        int iResultado;
        int iLibres;
    };
    const Caso casos[] = {
        {5011, 7, 0, 1},   // the odd port of 5010's slot
        {5010, 7, 0, 1},   // the port itself
        {5010, 8, -1, 0},  // held by another session
        {5003, 7, -1, 0},  // below the pool
        {5056, 7, -1, 0},  // above the pool
        {-1, 7, -1, 0},
    };
    for (const Caso& c : casos) {
        PoolLocalPort p;
        for (int i = 0; i < 26; i++) p.AsignaLocalPort(i == 2 ? 7 : 1000 + i);  // 5010 is the third
        EXPECT_EQ(p.LiberaLocalPort(c.iPuerto, c.cid), c.iResultado) << c.iPuerto << " " << c.cid;
        EXPECT_EQ(p.Libres(), c.iLibres) << c.iPuerto << " " << c.cid;
    }
}

TEST(PoolLocalPort, AReleasedPortTakenByAnotherSessionStaysWithIt) {
    PoolLocalPort p;
    const int iPuerto = p.AsignaLocalPort(1);
    ASSERT_EQ(p.LiberaLocalPort(iPuerto, 1), 0);
    for (int i = 0; i < 26; i++) p.AsignaLocalPort(10 + i);
    // The first session gives its old port back late: the session now holding it keeps it.
    EXPECT_EQ(p.LiberaLocalPort(iPuerto, 1), -1);
    EXPECT_EQ(p.Libres(), 0);
    EXPECT_EQ(p.LiberaPuertoDeCid(1), -1);
    EXPECT_EQ(p.LiberaPuertoDeCid(10), iPuerto + 2 > 5054 ? 5004 : iPuerto + 2);
}

}  // namespace
