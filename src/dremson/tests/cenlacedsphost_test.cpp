// The framed link over a byte stream: frames, escaping and CRC on the wire, acknowledgement,
// retransmission, the transmit ring, and two ends talking through a stream in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cenlacedsphost.h"
#include "mensajesdsp.h"

namespace {

// One end: the stream it reads is filled by the test (or the other end); what it writes is
// kept frame by frame.
class CEnlacePrueba : public CEnlaceDspHost {
public:
    std::vector<uint8_t> vEntrada;
    std::vector<std::vector<uint8_t>> vEscritas;
    std::vector<std::vector<uint8_t>> vRecibidos;  // messages handed to ProcesaMensaje
    int iEspacio = 1;
    int iEnlacesOk = 0;

    std::vector<uint8_t> Toda() const {
        std::vector<uint8_t> v;
        for (const auto& e : vEscritas) v.insert(v.end(), e.begin(), e.end());
        return v;
    }

protected:
    int Lee(int* piLong, uint8_t* puc) override {
        int n = std::min<int>(*piLong, static_cast<int>(vEntrada.size()));
        std::memcpy(puc, vEntrada.data(), static_cast<size_t>(n));
        vEntrada.erase(vEntrada.begin(), vEntrada.begin() + n);
        *piLong = n;
        return 0;
    }
    int Escribe(int* piLong, const uint8_t* puc) override {
        vEscritas.emplace_back(puc, puc + *piLong);
        return 0;
    }
    int ProcesaMensaje(const uint8_t* puc, int n, int* piMas) override {
        vRecibidos.emplace_back(puc, puc + n);
        *piMas = 0;
        return 0;
    }
    void EvtEnlaceOk(uint32_t) override { iEnlacesOk++; }
    int HayEspacio(int) override { return iEspacio; }
    int BytesDisponibles() override { return static_cast<int>(vEntrada.size()); }
};

std::vector<uint8_t> Mensaje(uint16_t usCodigo, uint16_t usCanal, std::vector<uint8_t> vParametros = {}) {
    std::vector<uint8_t> v(4);
    dsp::Pon16(v.data(), usCodigo);
    dsp::Pon16(v.data() + 2, usCanal);
    v.insert(v.end(), vParametros.begin(), vParametros.end());
    return v;
}

// The body of a frame written by an end, unescaped, checked for its flags.
std::vector<uint8_t> Cuerpo(const std::vector<uint8_t>& t) {
    EXPECT_GE(t.size(), 2u);
    EXPECT_EQ(t.front(), 0xFE);
    EXPECT_EQ(t.back(), 0xFF);
    std::vector<uint8_t> v;
    for (size_t i = 1; i + 1 < t.size(); i++) {
        if (t[i] == 0xFD) i++;
        v.push_back(t[i]);
    }
    return v;
}

// The reference CRC-16/CCITT-FALSE, bit by bit from its definition.
uint16_t CrcReferencia(const std::vector<uint8_t>& v) {
    uint16_t c = 0xFFFF;
    for (uint8_t b : v)
        for (int i = 7; i >= 0; i--) {
            bool bit = ((b >> i) & 1) ^ (c >> 15);
            c = static_cast<uint16_t>(c << 1);
            if (bit) c ^= 0x1021;
        }
    return c;
}

// The frames written, heartbeats left out.
std::vector<std::vector<uint8_t>> SinLatidos(const std::vector<std::vector<uint8_t>>& v) {
    std::vector<std::vector<uint8_t>> r;
    for (const auto& t : v)
        if (dsp::Lee16(Cuerpo(t).data() + 4) != dsp::CMD_LATIDO) r.push_back(t);
    return r;
}

class Enlace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(a.Inicia(1000, 3, 50, 500), 0);
        ASSERT_EQ(b.Inicia(1000, 3, 50, 500), 0);
    }
    // What a wrote since the last call goes to b's stream, and the other way.
    void Lleva(CEnlacePrueba& de, CEnlacePrueba& a_) {
        for (const auto& t : de.vEscritas) a_.vEntrada.insert(a_.vEntrada.end(), t.begin(), t.end());
        de.vEscritas.clear();
    }
    CEnlacePrueba a, b;
};

TEST(CrcEnlace, IsCcittFalse) {
    const uint8_t ac[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(CEnlaceDspHost::Crc16(ac, 9), 0x29B1);
}

TEST_F(Enlace, DataFrameCarriesCrcSequenceAndMessageWithReservedBytesEscaped) {
    const auto m = Mensaje(0x0121, 3, {0xFE, 0xFD, 0xFF, 0x07});
    ASSERT_EQ(a.EnviaMensaje(m.data(), static_cast<int>(m.size()), 1000), 0);
    ASSERT_EQ(a.vEscritas.size(), 1u);
    const auto& t = a.vEscritas[0];
    // Each reserved byte goes out behind 0xFD and unchanged.
    const std::vector<uint8_t> vCola = {0xFD, 0xFE, 0xFD, 0xFD, 0xFD, 0xFF, 0x07, 0xFF};
    EXPECT_TRUE(std::equal(vCola.begin(), vCola.end(), t.end() - static_cast<long>(vCola.size())));
    auto c = Cuerpo(t);
    ASSERT_EQ(c.size(), 4 + m.size());
    EXPECT_EQ(dsp::Lee16(c.data() + 2), 1);  // the first frame after a reset takes slot 1
    EXPECT_EQ(std::vector<uint8_t>(c.begin() + 4, c.end()), m);
    EXPECT_EQ(dsp::Lee16(c.data()), CrcReferencia(std::vector<uint8_t>(c.begin() + 2, c.end())));
}

TEST_F(Enlace, MessageCrossesAndIsAcknowledgedSoItIsNeverRepeated) {
    const auto m = Mensaje(0x8023, 5, {1, 2, 3});
    ASSERT_EQ(a.EnviaMensaje(m.data(), static_cast<int>(m.size()), 0), 0);
    Lleva(a, b);
    b.Recibe(10);
    ASSERT_EQ(b.vRecibidos, std::vector<std::vector<uint8_t>>{m});
    EXPECT_EQ(b.iEnlacesOk, 1);
    ASSERT_EQ(SinLatidos(b.vEscritas).size(), 1u);
    auto acuse = Cuerpo(SinLatidos(b.vEscritas)[0]);
    EXPECT_EQ(std::vector<uint8_t>(acuse.begin() + 2, acuse.end()), (std::vector<uint8_t>{1, 0, 0x02, 0, 0, 0}));
    Lleva(b, a);
    a.Recibe(20);
    EXPECT_TRUE(a.vRecibidos.empty());  // an acknowledgement is not a message
    a.vEscritas.clear();
    for (uint32_t t = 40; t <= 5000; t += 20) a.Recibe(t);
    for (const auto& e : a.vEscritas) EXPECT_EQ(dsp::Lee16(Cuerpo(e).data() + 4), dsp::CMD_LATIDO);
}

TEST_F(Enlace, UnacknowledgedFrameGoesOutThreeTimesASecondApartThenIsDropped) {
    const auto m = Mensaje(0x0110, 2, {1});
    ASSERT_EQ(a.EnviaMensaje(m.data(), static_cast<int>(m.size()), 0), 0);
    std::vector<uint32_t> vTiempos{0};
    for (uint32_t t = 20; t <= 6000; t += 20) {
        size_t n = a.vEscritas.size();
        a.Recibe(t);
        for (size_t i = n; i < a.vEscritas.size(); i++)
            if (dsp::Lee16(Cuerpo(a.vEscritas[i]).data() + 4) == 0x0110) vTiempos.push_back(t);
    }
    EXPECT_EQ(vTiempos, (std::vector<uint32_t>{0, 1000, 2000}));
}

TEST_F(Enlace, FrameWithAWrongCrcIsNeitherAcknowledgedNorHandedOn) {
    const auto m = Mensaje(0x8010, 1, {5, 7});
    a.EnviaMensaje(m.data(), static_cast<int>(m.size()), 0);
    auto t = a.vEscritas[0];
    t[t.size() - 2] ^= 0x01;  // last message byte (7 -> 6): not a reserved byte either way
    b.vEntrada = t;
    b.Recibe(0);
    EXPECT_TRUE(b.vRecibidos.empty());
    EXPECT_TRUE(SinLatidos(b.vEscritas).empty());
    EXPECT_EQ(b.iEnlacesOk, 0);
    EXPECT_EQ(b.LeeErroresCrc(true), 1u);
    EXPECT_EQ(b.LeeErroresCrc(false), 0u);
}

TEST_F(Enlace, TwoFramesInOneReadAreBothHandled) {
    const auto m1 = Mensaje(0x8020, 1), m2 = Mensaje(0x8022, 2);
    a.EnviaMensaje(m1.data(), static_cast<int>(m1.size()), 0);
    a.EnviaMensaje(m2.data(), static_cast<int>(m2.size()), 0);
    // Noise before the first start flag is skipped.
    b.vEntrada = {0x11, 0x22};
    Lleva(a, b);
    b.Recibe(0);
    EXPECT_EQ(b.vRecibidos, (std::vector<std::vector<uint8_t>>{m1, m2}));
    EXPECT_EQ(SinLatidos(b.vEscritas).size(), 2u);  // two acknowledgements
}

TEST_F(Enlace, HeartbeatKeepsTheLinkUpButIsNotHandedOn) {
    a.Recibe(0);  // nothing sent yet: the heartbeat is due at once
    ASSERT_EQ(a.vEscritas.size(), 1u);
    EXPECT_LE(a.vEscritas[0].size(), 18u);
    EXPECT_EQ(Cuerpo(a.vEscritas[0]).size(), 12u);
    Lleva(a, b);
    b.Recibe(0);
    EXPECT_EQ(b.iEnlacesOk, 1);
    EXPECT_TRUE(b.vRecibidos.empty());
    EXPECT_TRUE(b.EnlaceOk());
    b.Recibe(600);
    EXPECT_FALSE(b.EnlaceOk());
}

TEST_F(Enlace, WithoutRoomMessagesWaitInTheRingInOrder) {
    a.iEspacio = 0;
    for (int i = 0; i < CEnlaceDspHost::TAM_ANILLO; i++) {
        const auto m = Mensaje(0x0110, static_cast<uint16_t>(i));
        ASSERT_EQ(a.EnviaMensaje(m.data(), 4, 0), 0);
    }
    const auto m = Mensaje(0x0110, 99);
    EXPECT_EQ(a.EnviaMensaje(m.data(), 4, 0), CEnlaceDspHost::ERR_ANILLO_LLENO);
    EXPECT_TRUE(a.vEscritas.empty());
    a.iEspacio = 1;
    a.Recibe(10);
    // 24 slots: the first 24 go out, the rest wait for acknowledgements.
    std::vector<int> vCanales;
    for (const auto& e : a.vEscritas) {
        auto c = Cuerpo(e);
        if (dsp::Lee16(c.data() + 4) == 0x0110) vCanales.push_back(dsp::Lee16(c.data() + 6));
    }
    ASSERT_EQ(vCanales.size(), 24u);
    for (int i = 0; i < 24; i++) EXPECT_EQ(vCanales[static_cast<size_t>(i)], i);
    // Acknowledged, the slots take the next ones.
    Lleva(a, b);
    b.Recibe(20);
    Lleva(b, a);
    a.vEscritas.clear();
    a.Recibe(30);
    int n = 0;
    for (const auto& e : a.vEscritas) n += dsp::Lee16(Cuerpo(e).data() + 4) == 0x0110;
    EXPECT_EQ(n, 24);
    EXPECT_EQ(b.vRecibidos.size(), 24u);
    EXPECT_EQ(a.EnviaMensaje(m.data(), 3, 0), -1);
}

}  // namespace
