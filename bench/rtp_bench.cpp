// Send and receive of 172-byte G.711 packets (12-byte header, 160 samples) between two
// endpoints on loopback: through the RTP layer, through bare UDP sockets and through oRTP.
// Each side waits for readability with poll() before reading, as the network thread does.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <ortp/ortp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

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

void BM_UdpCrudo(benchmark::State &st)
{
    int tx = SocketUdp(6004), rx = SocketUdp(6006);
    sockaddr_in d{};
    d.sin_family = AF_INET;
    d.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    d.sin_port = htons(6006);
    uint8_t paquete[12 + kMuestras] = {0x80, 8};
    uint8_t rxbuf[2048];
    uint16_t seq = 0;
    for (auto _ : st) {
        paquete[2] = uint8_t(seq >> 8);
        paquete[3] = uint8_t(seq++);
        sendto(tx, paquete, sizeof paquete, 0, reinterpret_cast<sockaddr *>(&d), sizeof d);
        EsperaLectura(rx);
        sockaddr_in de;
        socklen_t l = sizeof de;
        ssize_t n = recvfrom(rx, rxbuf, sizeof rxbuf, 0, reinterpret_cast<sockaddr *>(&de), &l);
        benchmark::DoNotOptimize(n);
    }
    close(tx);
    close(rx);
}

int CreaSesion(RTPSession &s, uint16_t puerto, uint16_t destino)
{
    RTPSessionParams sp;
    sp.SetOwnTimestampUnit(1.0 / 8000.0);
    sp.SetAcceptOwnPackets(true);
    RTPUDPv4TransmissionParams tp;
    tp.SetPortbase(puerto);
    int r = s.Create(sp, &tp);
    if (r < 0)
        return r;
    s.SetDefaultPayloadType(8);
    s.SetDefaultTimestampIncrement(160);
    s.SetDefaultMark(false);
    return s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, destino));
}

void BM_CapaRtp(benchmark::State &st)
{
    RTPSession a, b;
    if (CreaSesion(a, 6104, 6106) < 0 || CreaSesion(b, 6106, 6104) < 0) {
        st.SkipWithError("Create");
        return;
    }
    RTPTransmissionInfo *inf = b.GetTransmissionInfo();
    int rx = static_cast<RTPUDPv4TransmissionInfo *>(inf)->GetRTPSocket();
    b.DeleteTransmissionInfo(inf);
    uint8_t audio[kMuestras] = {};
    size_t recibidos = 0;
    for (auto _ : st) {
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
    }
    benchmark::DoNotOptimize(recibidos);
    a.Destroy();
    b.Destroy();
}

void BM_Ortp(benchmark::State &st)
{
    ortp_init();
    ortp_set_log_level_mask(NULL, ORTP_FATAL);
    RtpSession *s[2];
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
    int rx = rtp_session_get_rtp_socket(s[1]);
    uint8_t audio[kMuestras] = {};
    uint32_t ts = 0;
    size_t recibidos = 0;
    for (auto _ : st) {
        rtp_session_send_with_ts(s[0], audio, sizeof audio, ts += kMuestras);
        EsperaLectura(rx);
        while (mblk_t *m = rtp_session_recvm_with_ts(s[1], ts)) {
            unsigned char *p;
            recibidos += size_t(rtp_get_payload(m, &p));
            freemsg(m);
        }
    }
    benchmark::DoNotOptimize(recibidos);
    rtp_session_destroy(s[0]);
    rtp_session_destroy(s[1]);
    ortp_exit();
}

BENCHMARK(BM_UdpCrudo)->MinTime(2.0);
BENCHMARK(BM_CapaRtp)->MinTime(2.0);
BENCHMARK(BM_Ortp)->MinTime(2.0);

// Keeps each benchmark's real time per iteration for the ratio lines.
class Informe : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &r : runs)
            tiempos[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    double Tiempo(const std::string &prefijo) const
    {
        for (const auto &[n, t] : tiempos)
            if (n.rfind(prefijo, 0) == 0)
                return t;
        return 0;
    }

private:
    std::map<std::string, double> tiempos;
};

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    Informe informe;
    benchmark::RunSpecifiedBenchmarks(&informe);
    double udp = informe.Tiempo("BM_UdpCrudo"), capa = informe.Tiempo("BM_CapaRtp"), ortp = informe.Tiempo("BM_Ortp");
    std::printf("rtp_ratio_vs_udp=%.3f\n", udp > 0 ? capa / udp : 0.0);
    std::printf("rtp_ratio_vs_ortp=%.3f\n", ortp > 0 ? capa / ortp : 0.0);
    return 0;
}
