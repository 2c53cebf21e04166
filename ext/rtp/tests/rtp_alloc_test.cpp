// The steady send/receive path allocates nothing: counted through a replaced operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "rtpprueba.h"

namespace {
std::atomic<long> asignaciones{0};
}

void *operator new(size_t n)
{
    asignaciones++;
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }

using namespace prueba;

namespace {

TEST(RTPAllocation, SteadySendAndReceiveAllocateNothing)
{
    ParConReloj<RTPSession> par;  // no recording call-backs: they would allocate
    long alCrear = asignaciones.load();
    ASSERT_EQ(0, par.Crea());
    Reloj &reloj = par.reloj;
    RTPSession &a = par.a, &b = par.b;
    ASSERT_GT(asignaciones.load(), alCrear);  // the counter sees the session's own buffers
    uint8_t audio[160] = {};
    const uint8_t ext[4] = {1, 2, 3, 4};
    auto ronda = [&](int n) {
        size_t leidos = 0;
        for (int i = 0; i < n; i++) {
            reloj.Avanza(0.02);
            a.SendPacket(audio, sizeof audio);
            a.SendPacketEx(nullptr, 0, 123, false, 0, 0x0167, ext, 1);
            b.SendPacket(audio, sizeof audio);
            for (RTPSession *s : {&a, &b}) {
                s->WaitForIncomingData(RTPTime(0.01));
                s->Poll();
                if (s->GotoFirstSourceWithData())
                    do
                        while (RTPPacket *p = s->GetNextPacket()) {
                            leidos++;
                            s->DeletePacket(p);
                        }
                    while (s->GotoNextSourceWithData());
            }
        }
        return leidos;
    };
    ronda(50);  // sources known, first reports sent
    long antes = asignaciones.load();
    size_t leidos = ronda(1000);  // 20 s of session time: several RTCP reports each way
    EXPECT_EQ(0, asignaciones.load() - antes);
    EXPECT_GE(leidos, 2900u);
}

}  // namespace
