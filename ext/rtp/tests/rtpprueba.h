// Helpers of the RTP layer tests: a session that records its call-backs, a settable clock,
// raw UDP peers and a bounded wait for packets.
#ifndef RTPPRUEBA_H
#define RTPPRUEBA_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "rtpsession.h"

namespace prueba {

// Settable wall clock handed to RTPSession::SetTimeSource.
struct Reloj {
    int64_t us = int64_t(1750000000) * 1000000;
    static RTPTime Lee(void *ctx) { return RTPTime::FromMicroSeconds(static_cast<Reloj *>(ctx)->us); }
    void Avanza(double s) { us += int64_t(s * 1e6); }
};

class SesionEspia : public RTPSession {
public:
    struct Recibido {
        uint32_t ssrc;
        uint16_t seq;
        uint32_t ts;
        std::vector<uint8_t> payload;
    };
    std::vector<uint32_t> nuevas, quitadas, timeouts, byes, byeTimeouts, notas;
    int colisiones = 0, colisionesRtp = 0, cnameColisiones = 0, desconocidos = 0, malformados = 0, apps = 0;
    int compuestosRecibidos = 0, srEnCompuestos = 0, compuestosEnviados = 0, paquetesRtp = 0;
    std::vector<std::vector<uint8_t>> enviados;  // RTCP compounds sent

    // Polls until n packets were read (or about two seconds passed).
    std::vector<Recibido> Recibe(size_t n)
    {
        std::vector<Recibido> r;
        for (int vueltas = 0; r.size() < n && vueltas < 200; vueltas++) {
            WaitForIncomingData(RTPTime(0.01));
            Poll();
            LeeTodo(r);
        }
        return r;
    }
    void LeeTodo(std::vector<Recibido> &r)
    {
        BeginDataAccess();
        if (GotoFirstSourceWithData()) {
            do {
                while (RTPPacket *p = GetNextPacket()) {
                    r.push_back({p->GetSSRC(), p->GetSequenceNumber(), p->GetTimestamp(),
                                 std::vector<uint8_t>(p->GetPayloadData(), p->GetPayloadData() + p->GetPayloadLength())});
                    DeletePacket(p);
                }
            } while (GotoNextSourceWithData());
        }
        EndDataAccess();
    }
    // Polls for a while to take in what is on its way.
    void Drena(int veces = 20)
    {
        for (int i = 0; i < veces; i++) {
            WaitForIncomingData(RTPTime(0.005));
            Poll();
        }
    }

protected:
    void OnRTPPacket(RTPPacket *, const RTPTime &, const RTPAddress *) override { paquetesRtp++; }
    void OnRTCPCompoundPacket(RTCPCompoundPacket *c, const RTPTime &, const RTPAddress *) override
    {
        compuestosRecibidos++;
        c->GotoFirstPacket();
        while (RTCPPacket *p = c->GetNextPacket())
            if (p->IsKnownFormat() && p->GetPacketType() == RTCPPacket::SR)
                srEnCompuestos++;
    }
    void OnSSRCCollision(RTPSourceData *, const RTPAddress *, bool isrtp) override
    {
        colisiones++;
        colisionesRtp += isrtp;
    }
    void OnCNAMECollision(RTPSourceData *, const RTPAddress *, const uint8_t *, size_t) override { cnameColisiones++; }
    void OnNewSource(RTPSourceData *s) override { nuevas.push_back(s->GetSSRC()); }
    void OnRemoveSource(RTPSourceData *s) override { quitadas.push_back(s->GetSSRC()); }
    void OnTimeout(RTPSourceData *s) override { timeouts.push_back(s->GetSSRC()); }
    void OnBYETimeout(RTPSourceData *s) override { byeTimeouts.push_back(s->GetSSRC()); }
    void OnAPPPacket(RTCPAPPPacket *, const RTPTime &, const RTPAddress *) override { apps++; }
    void OnUnknownPacketType(RTCPPacket *, const RTPTime &, const RTPAddress *) override { desconocidos++; }
    void OnUnknownPacketFormat(RTCPPacket *, const RTPTime &, const RTPAddress *) override { malformados++; }
    void OnNoteTimeout(RTPSourceData *s) override { notas.push_back(s->GetSSRC()); }
    void OnBYEPacket(RTPSourceData *s) override { byes.push_back(s->GetSSRC()); }
    void OnSendRTCPCompoundPacket(RTCPCompoundPacket *c) override
    {
        compuestosEnviados++;
        enviados.emplace_back(c->GetCompoundPacketData(), c->GetCompoundPacketData() + c->GetCompoundPacketLength());
    }
};

// Creates a G.711 session on the port, sending to the peer port on loopback.
inline int CreaSesion(RTPSession &s, uint16_t puerto, uint16_t destino, bool conDestino = true)
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
    if (conDestino)
        r = s.AddDestination(RTPIPv4Address(INADDR_LOOPBACK, destino));
    return r;
}

// Two sessions on 5004 and 5006 sending to each other, on one settable clock.
template <class S = SesionEspia>
struct ParConReloj {
    int Crea()
    {
        a.SetTimeSource(&Reloj::Lee, &reloj);
        b.SetTimeSource(&Reloj::Lee, &reloj);
        int r = CreaSesion(a, 5004, 5006);
        return r < 0 ? r : CreaSesion(b, 5006, 5004);
    }
    Reloj reloj;
    S a, b;
};

// A plain UDP socket on loopback, to play a peer that this layer did not write.
class SocketCrudo {
public:
    explicit SocketCrudo(uint16_t puerto = 0)
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(puerto);
        bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        timeval tv{2, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~SocketCrudo() { close(fd); }
    void Envia(uint16_t puerto, const std::vector<uint8_t> &d) const
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(puerto);
        sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    // One datagram, empty after two seconds without any.
    std::vector<uint8_t> Recibe() const
    {
        std::vector<uint8_t> b(65536);
        ssize_t n = recv(fd, b.data(), b.size(), 0);
        b.resize(n > 0 ? size_t(n) : 0);
        return b;
    }
    int fd;
};

// A minimal RTP packet: version 2, the given type, sequence, timestamp, SSRC and payload.
inline std::vector<uint8_t> PaqueteRtp(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc,
                                       const std::vector<uint8_t> &payload = std::vector<uint8_t>(160, 0xd5))
{
    std::vector<uint8_t> p = {0x80, pt, uint8_t(seq >> 8), uint8_t(seq), uint8_t(ts >> 24), uint8_t(ts >> 16),
                              uint8_t(ts >> 8), uint8_t(ts), uint8_t(ssrc >> 24), uint8_t(ssrc >> 16),
                              uint8_t(ssrc >> 8), uint8_t(ssrc)};
    p.resize(12 + payload.size());
    std::copy(payload.begin(), payload.end(), p.begin() + 12);
    return p;
}

inline void Pon32(std::vector<uint8_t> &v, uint32_t x)
{
    for (int i = 3; i >= 0; i--)
        v.push_back(uint8_t(x >> (8 * i)));
}

}  // namespace prueba

#endif
