// Send and receive of 172-byte G.711 packets (12-byte header, 160 samples) between two
// endpoints on loopback: through the RTP layer, through bare UDP sockets and through oRTP.
// The receiver waits for readability with poll() before reading, as the network thread does.
// The ratio lines come from interleaved rounds (each round runs the three paths in turn and
// gives one ratio; the median is printed), so load that drifts during the run cancels out.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <ortp/ortp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "rtpsession.h"

namespace {

constexpr size_t kMuestras = 160;

void EsperaLectura(int fd)
{
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, 1000);
}

int SocketUdp(uint16_t puerto)
{
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(puerto);
    bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return s;
}

// Bare UDP: the header is written by hand, the datagram read with recvfrom.
class Crudo {
public:
    Crudo() : tx(SocketUdp(6004)), rx(SocketUdp(6006))
    {
        d.sin_family = AF_INET;
        d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        d.sin_port = htons(6006);
    }
    ~Crudo()
    {
        close(tx);
        close(rx);
    }
    void Paquete()
    {
        paquete[2] = uint8_t(seq >> 8);
        paquete[3] = uint8_t(seq++);
        sendto(tx, paquete, sizeof paquete, 0, reinterpret_cast<sockaddr *>(&d), sizeof d);
        EsperaLectura(rx);
        sockaddr_in de;
        socklen_t l = sizeof de;
        benchmark::DoNotOptimize(recvfrom(rx, rxbuf, sizeof rxbuf, 0, reinterpret_cast<sockaddr *>(&de), &l));
    }

private:
    int tx, rx;
    sockaddr_in d{};
    uint8_t paquete[12 + kMuestras] = {0x80, 8};
    uint8_t rxbuf[2048];
    uint16_t seq = 0;
};

class Capa {
public:
    Capa()
    {
        Crea(a, 6104, 6106);
        Crea(b, 6106, 6104);
        RTPTransmissionInfo *inf = b.GetTransmissionInfo();
        rx = inf ? static_cast<RTPUDPv4TransmissionInfo *>(inf)->GetRTPSocket() : -1;
        b.DeleteTransmissionInfo(inf);
    }
    bool Ok() const { return rx >= 0; }
    void Paquete()
    {
        a.SendPacket(audio, sizeof audio);
        EsperaLectura(rx);
        b.Poll();
        b.BeginDataAccess();
        if (b.GotoFirstSourceWithData()) {
            do {
                while (RTPPacket *p = b.GetNextPacket()) {
                    recibidos += p->GetPayloadLength();
                    b.DeletePacket(p);
                }
            } while (b.GotoNextSourceWithData());
        }
        b.EndDataAccess();
        benchmark::DoNotOptimize(recibidos);
    }

private:
    static void Crea(RTPSession &s, uint16_t puerto, uint16_t destino)
    {
        RTPSessionParams sp;
        sp.SetOwnTimestampUnit(1.0 / 8000.0);
        RTPUDPv4TransmissionParams tp;
        tp.SetPortbase(puerto);
        if (s.Create(sp, &tp) < 0)
            return;
        s.SetDefaultPayloadType(8);
        s.SetDefaultTimestampIncrement(160);
        s.SetDefaultMark(false);
        s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, destino));
    }
    RTPSession a, b;
    int rx = -1;
    uint8_t audio[kMuestras] = {};
    size_t recibidos = 0;
};

class Ortp {
public:
    Ortp()
    {
        for (int i = 0; i < 2; i++) {
            s[i] = rtp_session_new(RTP_SESSION_SENDRECV);
            rtp_session_set_scheduling_mode(s[i], 0);
            rtp_session_set_blocking_mode(s[i], 0);
            rtp_session_enable_jitter_buffer(s[i], FALSE);
            rtp_session_set_symmetric_rtp(s[i], FALSE);
            rtp_session_set_local_addr(s[i], "127.0.0.1", 6204 + 2 * i, 6205 + 2 * i);
            rtp_session_set_remote_addr(s[i], "127.0.0.1", 6206 - 2 * i);
            rtp_session_set_payload_type(s[i], 8);
        }
        rx = rtp_session_get_rtp_socket(s[1]);
    }
    ~Ortp()
    {
        rtp_session_destroy(s[0]);
        rtp_session_destroy(s[1]);
    }
    void Paquete()
    {
        rtp_session_send_with_ts(s[0], audio, sizeof audio, ts += kMuestras);
        EsperaLectura(rx);
        while (mblk_t *m = rtp_session_recvm_with_ts(s[1], ts)) {
            unsigned char *p;
            recibidos += size_t(rtp_get_payload(m, &p));
            freemsg(m);
        }
        benchmark::DoNotOptimize(recibidos);
    }

private:
    RtpSession *s[2];
    int rx;
    uint8_t audio[kMuestras] = {};
    uint32_t ts = 0;
    size_t recibidos = 0;
};

template <class T>
void BM_Paquete(benchmark::State &st)
{
    T t;
    for (auto _ : st)
        t.Paquete();
}

BENCHMARK_TEMPLATE(BM_Paquete, Crudo)->Name("BM_UdpCrudo")->MinTime(1.0);
BENCHMARK_TEMPLATE(BM_Paquete, Capa)->Name("BM_CapaRtp")->MinTime(1.0);
BENCHMARK_TEMPLATE(BM_Paquete, Ortp)->Name("BM_Ortp")->MinTime(1.0);

template <class T>
double NsPorPaquete(T &t, int n)
{
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < n; i++)
        t.Paquete();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / n;
}

double Mediana(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    ortp_init();
    ortp_set_log_level_mask(NULL, ORTP_FATAL);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    constexpr int kRondas = 21, kPaquetes = 20000;
    Crudo crudo;
    Capa capa;
    Ortp ortp;
    if (!capa.Ok()) {
        std::fprintf(stderr, "rtp_bench: cannot create the sessions\n");
        return 1;
    }
    std::vector<double> vsUdp, vsOrtp, nsCrudo, nsCapa, nsOrtp;
    NsPorPaquete(crudo, 2000);
    NsPorPaquete(capa, 2000);
    NsPorPaquete(ortp, 2000);
    for (int r = 0; r < kRondas; r++) {
        double c = NsPorPaquete(crudo, kPaquetes), k = NsPorPaquete(capa, kPaquetes), o = NsPorPaquete(ortp, kPaquetes);
        nsCrudo.push_back(c);
        nsCapa.push_back(k);
        nsOrtp.push_back(o);
        vsUdp.push_back(k / c);
        vsOrtp.push_back(k / o);
    }
    std::printf("interleaved medians, ns per packet: udp=%.0f rtp=%.0f ortp=%.0f\n", Mediana(nsCrudo),
                Mediana(nsCapa), Mediana(nsOrtp));
    std::printf("rtp_ratio_vs_udp=%.3f\n", Mediana(vsUdp));
    std::printf("rtp_ratio_vs_ortp=%.3f\n", Mediana(vsOrtp));
    ortp_exit();
    return 0;
}
