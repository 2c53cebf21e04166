#include "csesionrtpradio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "../../../ext/rtp/tests/capturatshark.h"
#include "rtp_pruebas.h"

using namespace prueba;

namespace {

constexpr uint16_t PUERTO_PTT = 5004;
constexpr uint16_t PUERTO_SQ = 5006;

uint32_t gRelojPtt = 0, gRelojSq = 0;
uint32_t RelojPtt() { return gRelojPtt; }
uint32_t RelojSq() { return gRelojSq; }

using Bytes = std::vector<uint8_t>;

Bytes Construye(CSesionRTPRadio& s, bool bSq, int32_t iTipo) {
    uint8_t b[16];
    int32_t n = bSq ? s.ConstruyeSq(iTipo, b) : s.ConstruyePtt(iTipo, b);
    return Bytes(b, b + 4 * n);
}

// Golden extensions, written from the bit tables of the profile.
TEST(CSesionRTPRadio, BuildsEachBlockOfBothModesByteForByte) {
    struct Caso {
        const char* nombre;
        std::function<void(CSesionRTPRadio&)> prepara;
        bool bSq;
        int32_t iTipo;
        Bytes esperado;
    };
    const Caso casos[] = {
        {"ptt modo 1 sin bloque", [](CSesionRTPRadio& s) { s.FijaTipoPtt(1); s.FijaPttId(5); }, false, 0,
         {0x21, 0x40, 0x00, 0x00}},
        {"ptt modo 1 tipo 2", [](CSesionRTPRadio& s) { s.FijaTipoPtt(2); s.FijaPttId(63); s.FijaTiming(1); s.FijaValorTipo2(0x5A); },
         false, 0, {0x4F, 0xC1, 0x21, 0x5A}},
        {"ptt modo 1 tipo 2 antes que peticion", [](CSesionRTPRadio& s) { s.FijaTipoPtt(1); s.FijaPttId(3); s.FijaTiming(1); },
         false, 4, {0x20, 0xC1, 0x21, 0x00}},
        {"ptt modo 1 peticion de timing", [](CSesionRTPRadio& s) { s.FijaPttId(3); s.FijaTiming(1); }, false, 4,
         {0x00, 0xC1, 0x43, 0x12, 0x34, 0x56, 0x00, 0x00}},
        {"ptt modo 0", [](CSesionRTPRadio& s) { s.FijaModo(0); s.FijaTipoPtt(4); s.FijaPttId(9); }, false, 4,
         {0x89, 0x00, 0x00, 0x01}},
        {"sq modo 1 informe", [](CSesionRTPRadio& s) { s.FijaTipoPtt(1); s.FijaSquelch(1); s.FijaPttId(7); s.FijaBit21(1); s.FijaInformeA(5); s.FijaInformeB(0x13); },
         true, 1, {0x31, 0xE1, 0x11, 0x9D}},
        {"sq modo 1 informe sin squelch", [](CSesionRTPRadio& s) { s.FijaTipoPtt(1); s.FijaPttId(7); s.FijaBit21(1); s.FijaInformeA(5); },
         true, 1, {0x21, 0xE0, 0x00, 0x00}},
        {"sq modo 1 informe sin campo A", [](CSesionRTPRadio& s) { s.FijaSquelch(1); }, true, 1, {0x10, 0x00, 0x00, 0x00}},
        {"sq modo 1 tipo 3", [](CSesionRTPRadio& s) { s.FijaSquelch(1); s.FijaBit20(1); s.FijaValorTipo3(0xA5); }, true, 3,
         {0x10, 0x11, 0x31, 0xA5}},
        {"sq modo 1 tipo 3 extendido", [](CSesionRTPRadio& s) { s.FijaTipo3Extendido(1); s.FijaFlagX(1); s.FijaInformeB(3); s.FijaCampoC(2); s.FijaCampoD(9); s.FijaValorTipo3(0x42); },
         true, 3, {0x00, 0x01, 0x34, 0x42, 0x80, 0x18, 0x4A, 0x00}},
        {"sq modo 0", [](CSesionRTPRadio& s) { s.FijaModo(0); s.FijaTipoPtt(2); s.FijaSquelch(1); s.FijaPttId(0xB); s.FijaInformeA(5); s.FijaInformeB(0xC3); },
         true, 3, {0x5B, 0x46, 0xF0, 0xE9}},
    };
    gRelojPtt = 0x123456;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        CSesionRTPRadio s;
        s.FijaModo(1);
        s.FijaReloj(RelojPtt);
        c.prepara(s);
        EXPECT_EQ(c.esperado, Construye(s, c.bSq, c.iTipo));
    }
}

TEST(CSesionRTPRadio, PttIdKeepsItsSixBits) {
    CSesionRTPRadio s;
    s.FijaModo(1);
    s.FijaPttId(0x2D);
    EXPECT_EQ(0x2D, s.DamePttId());
    EXPECT_EQ((Bytes{0x0B, 0x40, 0x00, 0x00}), Construye(s, false, 0));
}

// A PTT side on 5004 and a squelch side on 5006, mode 1, each on its own settable clock.
struct ParRadio {
    CSesionRTPRadio ptt, sq;
    int Crea(int32_t iModo = 1) {
        CSesionRTP::FijaTipoInterfaz(CSesionRTP::TIPO_IF_RADIO);
        ptt.FijaReloj(RelojPtt);
        sq.FijaReloj(RelojSq);
        int r = ptt.Crea(PUERTO_PTT, "127.0.0.1", PUERTO_SQ, 8, 8000, 160, iModo);
        return r ? r : sq.Crea(PUERTO_SQ, "127.0.0.1", PUERTO_PTT, 8, 8000, 160, iModo);
    }
};

// Polls s until it holds a packet, then reads it with lee; null after five seconds.
RTPPacket* RecibeUno(CSesionRTPRadio& s, RTPPacket* (CSesionRTPRadio::*lee)()) {
    RTPPacket* p = nullptr;
    SondeaHasta(s, [&] {
        if (s.GotoFirstSourceWithData()) p = (s.*lee)();
        return p != nullptr;
    });
    return p;
}

Bytes Extension(const RTPPacket* p) {
    return p->HasExtension() ? Bytes(p->GetExtensionData(), p->GetExtensionData() + p->GetExtensionLength()) : Bytes();
}

// The PTT side asks at T1, the squelch side takes the request at its clock tLlegada and,
// held by its sending flag, answers at tRespuesta; the reply reaches the PTT side at T3.
// Returns the reply's extension.
Bytes IdaYVuelta(ParRadio& par, uint32_t uiT1, uint32_t uiLlegada, uint32_t uiRespuesta, uint32_t uiT3) {
    gRelojPtt = uiT1;
    par.ptt.FijaTiming(1);
    EXPECT_EQ(0, par.ptt.EnviaAudio(nullptr, 0));
    gRelojSq = uiLlegada;
    par.sq.MarcaEnviando();
    RTPPacket* p = RecibeUno(par.sq, &CSesionRTPRadio::RecibePaqueteSq);
    if (!p) return {};
    EXPECT_EQ(uiT1, par.sq.DameEstimador().uiT1Recibido);
    EXPECT_EQ(p->GetTimestamp(), par.sq.DameEstimador().uiTsPeticion);
    par.sq.DeletePacket(p);
    EXPECT_EQ(1, par.sq.RespondeTiming()) << "no reply while sending";
    gRelojSq = uiRespuesta;
    EXPECT_EQ(-1, par.sq.TickKeepAliveSq(0));
    EXPECT_EQ(0, par.sq.RespondeTiming());
    EXPECT_EQ(220, par.sq.DameCuentaKeepAlive());
    EXPECT_EQ(1, par.sq.RespondeTiming()) << "answered once";
    gRelojPtt = uiT3;
    p = RecibeUno(par.ptt, &CSesionRTPRadio::RecibePaquete);
    if (!p) return {};
    Bytes e = Extension(p);
    EXPECT_EQ(CSesionRTPRadio::PAYLOAD_KEEPALIVE, p->GetPayloadType());
    EXPECT_EQ(0u, p->GetPayloadLength());
    par.ptt.DeletePacket(p);
    return e;
}

TEST(CSesionRTPRadio, TimingReplyCarriesTheRequestTimesTurnaroundAndLocalValues) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    par.sq.FijaValores34(10, 20);
    Bytes e = IdaYVuelta(par, 0x012345, 0x200000, 0x200190, 0x300000);
    EXPECT_EQ((Bytes{0x00, 0x01, 0x4C, 0x01, 0x23, 0x45, 0x20, 0x00, 0x00, 0x01, 0x90, 0x00, 0x50, 0x00, 0xA0, 0x00}), e);
    const auto& est = par.ptt.DameEstimador();
    EXPECT_EQ(0x200000u, est.uiT2);
    EXPECT_EQ(0x300000u, est.uiT3);
    EXPECT_EQ(400, est.usRetornoRecibido);
    EXPECT_EQ(80, est.usValor3Recibido);
    EXPECT_EQ(160, est.usValor4Recibido);
}

TEST(CSesionRTPRadio, ClimaxDelayOfTheExample) {
    struct Caso {
        uint32_t uiFijo1, uiFijo2, uiValor3, uiValor4;  // ms
        int32_t iEsperado;                              // samples
    };
    for (Caso c : {Caso{0, 0, 0, 0, 800}, Caso{1, 2, 3, 4, 800 + 8 + 16 + 24 + 32}}) {
        ParRadio par;
        ASSERT_EQ(0, par.Crea());
        par.ptt.FijaRetardosFijos(c.uiFijo1, c.uiFijo2);
        par.sq.FijaValores34(c.uiValor3, c.uiValor4);
        IdaYVuelta(par, 1000, 2000, 2400, 3000);
        EXPECT_EQ(c.iEsperado, par.ptt.DameRetardo());
        EXPECT_EQ(0, par.ptt.ModoAbsolutoEnUso());
    }
}

TEST(CSesionRTPRadio, ClimaxDelayAcrossTheWrapOfThe23BitClock) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    IdaYVuelta(par, 0x7FFF00, 0x000010, 0x0001A0, 0x000700);
    // Round trip 0x800 samples, turnaround 0x190: (2048 - 400) / 2.
    EXPECT_EQ(824, par.ptt.DameRetardo());
}

TEST(CSesionRTPRadio, ReplyWithAnotherT1IsIgnored) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    IdaYVuelta(par, 1000, 2000, 2400, 3000);
    ASSERT_EQ(800, par.ptt.DameRetardo());
    // A new request at 5000; a late reply to the old one (T1 1000) must not count.
    gRelojPtt = 5000;
    ASSERT_EQ(0, par.ptt.EnviaAudio(nullptr, 0));
    CSesionRTP crudo;
    ASSERT_EQ(0, crudo.Crea(PUERTO_SQ + 10, "127.0.0.1", PUERTO_PTT, 123, 8000, 160, 0));
    for (uint32_t uiT1 : {1000u, 4999u, 5000u}) {
        SCOPED_TRACE(uiT1);
        const uint8_t ext[16] = {0x00, 0x01, 0x4C, uint8_t(uiT1 >> 16), uint8_t(uiT1 >> 8), uint8_t(uiT1),
                                 0, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0};
        ASSERT_EQ(0, crudo.SendPacketEx(nullptr, 0, 0x0167, ext, 4));
        gRelojPtt = 9000;
        RTPPacket* p = RecibeUno(par.ptt, &CSesionRTPRadio::RecibePaquete);
        ASSERT_NE(nullptr, p);
        par.ptt.DeletePacket(p);
        if (uiT1 == 5000) {
            EXPECT_EQ(9000u, par.ptt.DameEstimador().uiT3);
            EXPECT_EQ(2000, par.ptt.DameRetardo());
        } else {
            EXPECT_EQ(3000u, par.ptt.DameEstimador().uiT3);
            EXPECT_EQ(800, par.ptt.DameRetardo());
        }
    }
}

TEST(CSesionRTPRadio, KeepAlivesComeWhenTheCountdownRunsOutAndAfterAPttChange) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    CSesionRTPRadio& s = par.ptt;
    s.FijaRecargaKeepAlive(200);
    s.FijaPttId(2);
    EXPECT_EQ(-1, s.TickKeepAlive(10)) << "nothing armed";
    s.FijaTipoPtt(5);
    EXPECT_EQ(-1, s.TickKeepAlive(10)) << "type 5 is not a PTT type";
    s.FijaTipoPtt(1);
    EXPECT_EQ(0, s.TickKeepAlive(10)) << "a change sends at the next tick";
    EXPECT_EQ(200, s.DameCuentaKeepAlive());
    EXPECT_EQ(150, s.TickKeepAlive(50));
    s.FijaTipoPtt(1);
    EXPECT_EQ(100, s.TickKeepAlive(50)) << "the same type does not force a send";
    EXPECT_EQ(0, s.TickKeepAlive(100));
    EXPECT_EQ(50, s.TickKeepAlive(150));
    EXPECT_EQ(0, s.TickKeepAlive(60));
    // An audio send restarts the countdown.
    uint8_t audio[160] = {};
    EXPECT_EQ(50, s.TickKeepAlive(150));
    EXPECT_EQ(0, s.EnviaAudio(audio, 160));
    EXPECT_EQ(200, s.DameCuentaKeepAlive());

    std::vector<RTPPacket*> r = Recibe(par.sq, 4);
    ASSERT_EQ(4u, r.size());
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(CSesionRTPRadio::PAYLOAD_KEEPALIVE, r[i]->GetPayloadType());
        EXPECT_EQ(0u, r[i]->GetPayloadLength());
        EXPECT_FALSE(r[i]->HasMarker());
        EXPECT_EQ(CSesionRTPRadio::ID_EXTENSION_MODO1, r[i]->GetExtensionID());
        EXPECT_EQ((Bytes{0x20, 0x80, 0x00, 0x00}), Extension(r[i]));
        EXPECT_EQ(r[0]->GetTimestamp(), r[i]->GetTimestamp()) << "keep-alives do not advance the timestamp";
    }
    EXPECT_EQ(8, r[3]->GetPayloadType());
    EXPECT_EQ(160u, r[3]->GetPayloadLength());
    for (RTPPacket* p : r) par.sq.DeletePacket(p);
}

TEST(CSesionRTPRadio, EverySeventhKeepAliveAsksForTiming) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    par.ptt.FijaTiming(1);
    gRelojPtt = 777;
    for (int i = 0; i < 14; i++) ASSERT_EQ(0, par.ptt.EnviaKeepAlive());
    std::vector<RTPPacket*> r = Recibe(par.sq, 14);
    ASSERT_EQ(14u, r.size());
    for (size_t i = 0; i < r.size(); i++) {
        bool bPeticion = i == 6 || i == 13;
        EXPECT_EQ(bPeticion ? 8u : 4u, r[i]->GetExtensionLength()) << i;
        if (bPeticion) {
            EXPECT_EQ((Bytes{0x00, 0x01, 0x43, 0x00, 0x03, 0x09, 0x00, 0x00}), Extension(r[i]));
        }
        par.sq.DeletePacket(r[i]);
    }
}

TEST(CSesionRTPRadio, SquelchSideAnswersNoRequestWhileSquelchIsOn) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    par.sq.FijaSquelch(1);
    par.ptt.FijaTiming(1);
    ASSERT_EQ(0, par.ptt.EnviaAudio(nullptr, 0));
    RTPPacket* p = RecibeUno(par.sq, &CSesionRTPRadio::RecibePaqueteSq);
    ASSERT_NE(nullptr, p);
    par.sq.DeletePacket(p);
    EXPECT_EQ(1, par.sq.RespondeTiming());
    par.sq.FijaSquelch(0);
    EXPECT_EQ(0, par.sq.RespondeTiming());
}

TEST(CSesionRTPRadio, SquelchSideKeepAliveCarriesType3WhenDueOrFlagged) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    CSesionRTPRadio& s = par.sq;
    s.FijaRecargaKeepAlive(100);
    s.FijaInformeA(2);
    s.FijaInformeB(1);
    s.FijaValorTipo3(0x33);
    ASSERT_EQ(0, s.EnviaKeepAliveSq(0));  // due: type 3
    ASSERT_EQ(0, s.EnviaKeepAliveSq(0));  // no longer due, squelch off: no block
    s.FijaSquelch(1);
    ASSERT_EQ(0, s.EnviaAudioSq("abc", 3));  // squelch on: the report
    s.FijaFlagY(1);
    ASSERT_EQ(0, s.EnviaAudioSq("abc", 3));  // squelch on and a flag: type 3
    s.MarcaEnviando();
    EXPECT_EQ(0, s.TickKeepAliveSq(100));     // clears the sending flag and sends, flag set: type 3
    std::vector<RTPPacket*> r = Recibe(par.ptt, 5);
    ASSERT_EQ(5u, r.size());
    const Bytes esperado[5] = {{0x00, 0x01, 0x31, 0x33}, {0x00, 0x00, 0x00, 0x00}, {0x10, 0x01, 0x11, 0x0A},
                               {0x10, 0x01, 0x31, 0x33}, {0x10, 0x01, 0x31, 0x33}};
    for (size_t i = 0; i < r.size(); i++) {
        EXPECT_EQ(esperado[i], Extension(r[i])) << i;
        par.ptt.DeletePacket(r[i]);
    }
    EXPECT_EQ(1, s.RespondeTiming()) << "no request pending";
}

// Sends one packet with the radio extension ext from a plain session to the port.
void EnviaExtension(CSesionRTP& crudo, const Bytes& ext, uint16_t uiId = 0x0167) {
    ASSERT_EQ(0, crudo.SendPacketEx("x", 1, uiId, ext.data(), ext.size() / 4));
}

TEST(CSesionRTPRadio, SquelchSideEchoesARepeatedType3Value) {
    Salidas salidas;
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    CSesionRTP crudo;
    ASSERT_EQ(0, crudo.Crea(PUERTO_PTT + 10, "127.0.0.1", PUERTO_SQ, 8, 8000, 160, 0));
    CSesionRTPRadio& s = par.sq;
    s.FijaValorTipo3(0x11);
    uint8_t b[16];
    s.ConstruyeSq(CSesionRTPRadio::BLOQUE_TIPO3, b);  // the set value went out once
    // The first value is only stored; the same value again makes the next packet echo the
    // type-3 value of this side.
    const Bytes esperado[2] = {{0x00, 0x00, 0x00, 0x00}, {0x00, 0x01, 0x31, 0x11}};
    for (int i = 0; i < 2; i++) {
        EnviaExtension(crudo, {0x00, 0x01, 0x31, 0x96});
        RTPPacket* p = RecibeUno(s, &CSesionRTPRadio::RecibePaqueteSq);
        ASSERT_NE(nullptr, p);
        s.DeletePacket(p);
        ASSERT_EQ(0, s.EnviaKeepAliveSq(0));
        std::vector<RTPPacket*> r = Recibe(par.ptt, 1);
        ASSERT_EQ(1u, r.size());
        EXPECT_EQ(esperado[i], Extension(r[0])) << i;
        par.ptt.DeletePacket(r[0]);
    }
    EXPECT_NE(std::string::npos,
              Salidas::Texto().find(" Saca TYPE 3-  Saca length 1 -RrcOrden = 1 0 0 1 0 1 1 0 Total 150\n"))
        << Salidas::Texto();
    EXPECT_EQ(0x96, s.LeeValorTipo3Recibido());
    EXPECT_EQ(255, s.LeeValorTipo3Recibido());
}

TEST(CSesionRTPRadio, ReceivedStateChangesRaiseTheChangedFlag) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    CSesionRTP crudo;
    ASSERT_EQ(0, crudo.Crea(PUERTO_SQ + 10, "127.0.0.1", PUERTO_PTT, 8, 8000, 160, 0));
    CSesionRTPRadio& s = par.ptt;
    s.FijaPeriodoKeepAlive(20);
    s.FijaMultiplicadorKeepAlive(3);
    struct Caso {
        const char* nombre;
        Bytes ext;
        uint16_t uiId;
        int32_t iCambio, iTipoPtt, iSquelch, iPttId, iA, iB;
    };
    const Caso casos[] = {
        {"estado inicial igual", {0x00, 0x00, 0x00, 0x00}, 0x0167, 0, 0, 0, 0, -1, -1},
        {"squelch y pttid", {0x31, 0x40, 0x00, 0x00}, 0x0167, 1, 1, 1, 5, -1, -1},
        {"tipo ptt 6 se lee 0", {0xD1, 0x40, 0x00, 0x00}, 0x0167, 1, 0, 1, 5, -1, -1},
        {"informe", {0x11, 0x41, 0x11, 0x9D}, 0x0167, 1, 0, 1, 5, 5, 0x13},
        {"mismo informe", {0x11, 0x41, 0x11, 0x9D}, 0x0167, 0, 0, 1, 5, 5, 0x13},
        {"bloque mas largo que la extension", {0x01, 0x41, 0x1C, 0xFF}, 0x0167, 1, 0, 0, 5, 5, 0x13},
        {"otro perfil no es estado de radio", {0xFF, 0xFF, 0xFF, 0xFF}, 0xBEDE, 0, 0, 0, 5, 5, 0x13},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        EnviaExtension(crudo, c.ext, c.uiId);
        RTPPacket* p = RecibeUno(s, &CSesionRTPRadio::RecibePaquete);
        ASSERT_NE(nullptr, p);
        EXPECT_EQ(1u, p->GetPayloadLength()) << "the packet is handed back whole";
        s.DeletePacket(p);
        EXPECT_EQ(c.iCambio, s.LeeCambio());
        EXPECT_EQ(0, s.LeeCambio());
        EXPECT_EQ(c.iTipoPtt, s.DameTipoPttRecibido());
        EXPECT_EQ(c.iSquelch, s.DameSquelch());
        EXPECT_EQ(c.iPttId, s.DamePttIdRecibido());
        EXPECT_EQ(c.iA, s.DameInformeA());
        EXPECT_EQ(c.iB, s.DameInformeB());
    }
    // Each radio packet reloaded the receive timeout: period x multiplier.
    EXPECT_EQ(40, s.TickRecepcion(20));
    EXPECT_EQ(0, s.TickRecepcion(50));
    EXPECT_EQ(-1, s.TickRecepcion(1));
    ASSERT_TRUE(s.GotoFirstSource());
    EXPECT_EQ(crudo.GetLocalSSRC(), s.DameInfoFuente());
}

TEST(CSesionRTPRadio, SquelchSideTakesType2ValuesAndPttType) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    par.ptt.FijaTiming(1);
    par.ptt.FijaTipoPtt(3);
    par.ptt.FijaValorTipo2(0x44);
    uint8_t audio[160] = {};
    ASSERT_EQ(0, par.ptt.EnviaAudio(audio, 160));
    RTPPacket* p = RecibeUno(par.sq, &CSesionRTPRadio::RecibePaqueteSq);
    ASSERT_NE(nullptr, p);
    par.sq.DeletePacket(p);
    EXPECT_EQ(0x44, par.sq.DameValorTipo2Recibido());
    EXPECT_EQ(3, par.sq.DameTipoPttRecibido());
    EXPECT_EQ(1, par.sq.LeeCambio());
}

TEST(CSesionRTPRadio, Mode0AudioIsPlainRtp) {
    ParRadio par;
    ASSERT_EQ(0, par.Crea(0));
    par.ptt.FijaTipoPtt(1);
    uint8_t audio[160] = {};
    ASSERT_EQ(0, par.ptt.EnviaAudio(audio, 160));
    ASSERT_EQ(0, par.ptt.EnviaKeepAlive());
    std::vector<RTPPacket*> r = Recibe(par.sq, 2);
    ASSERT_EQ(2u, r.size());
    EXPECT_FALSE(r[0]->HasExtension());
    EXPECT_EQ(CSesionRTPRadio::ID_EXTENSION_MODO0, r[1]->GetExtensionID());
    EXPECT_EQ((Bytes{0x20, 0x00, 0x00, 0x01}), Extension(r[1]));
    for (RTPPacket* q : r) par.sq.DeletePacket(q);
}

TEST(CSesionRTPRadio, CompensationTypeIsAlwaysRelative) {
    Salidas salidas;
    CSesionRTPRadio s;
    s.FijaIdRecurso(7);
    s.Set_TipoCompCld(1);
    EXPECT_NE(std::string::npos, Salidas::Texto().find("LOG0:7- Set_TipoCompCld 1 Temporalmente solo TIPO_COMP_CLD_RELATIVO"));
    EXPECT_EQ(0, s.ModoAbsolutoEnUso());
}

TEST(CSesionRTPRadio, AbsoluteDelayTakesTheOneWayTime) {
    CSesionRTPRadio::EstimadorClimax e;
    e.uiFijo1 = 8;
    e.uiT1 = 1000;
    e.uiT2 = 1300;
    e.uiT3 = 3000;
    e.usRetornoRecibido = 400;
    e.iModoAbsoluto = 1;
    e.iAbsolutoEco = 1;
    e.Calcula();
    EXPECT_EQ(308, e.iRetardo);
    e.iAbsolutoEco = 0;
    e.Calcula();
    EXPECT_EQ(808, e.iRetardo);
    EXPECT_EQ(808, e.iRetardoCopia);
}

}  // namespace

namespace {

// What each packet sent below must decode to in tshark's ED-137 dissector ("" = absent).
struct Decodificado {
    const char* nombre;
    std::map<std::string, std::string> campos;
};

TEST(CSesionRTPRadio, TsharkDecodesTheExtensionFieldsAsSent) {
    const int N = 7;
    Captura cap(N, "udp portrange 5004-5007", "/tmp/rtp_radio.pcap");
    ASSERT_TRUE(cap.listo);
    ParRadio par;
    ASSERT_EQ(0, par.Crea());
    uint8_t audio[160] = {};
    // PTT side: a value block with the voice, then a timing request.
    par.ptt.FijaTipoPtt(2);
    par.ptt.FijaPttId(63);
    par.ptt.FijaTiming(1);
    par.ptt.FijaValorTipo2(0x5A);
    ASSERT_EQ(0, par.ptt.EnviaAudio(audio, 160));
    par.ptt.FijaTipoPtt(0);
    gRelojPtt = 0x012345;
    ASSERT_EQ(0, par.ptt.EnviaAudio(nullptr, 0));
    // Squelch side: a report, a type-3 block, the timing reply.
    par.sq.FijaSquelch(1);
    par.sq.FijaPttId(7);
    par.sq.FijaInformeA(5);
    par.sq.FijaInformeB(0x13);
    ASSERT_EQ(0, par.sq.EnviaAudioSq(audio, 160));
    par.sq.FijaValorTipo3(0xA5);
    ASSERT_EQ(0, par.sq.EnviaKeepAliveSq(0));
    par.sq.FijaSquelch(0);
    par.sq.FijaValores34(10, 20);
    gRelojSq = 0x200000;
    par.sq.MarcaEnviando();
    for (int i = 0; i < 2; i++) {  // the voice, then the request
        RTPPacket* p = RecibeUno(par.sq, &CSesionRTPRadio::RecibePaqueteSq);
        ASSERT_NE(nullptr, p);
        par.sq.DeletePacket(p);
    }
    gRelojSq = 0x200190;
    par.sq.TickKeepAliveSq(0);
    ASSERT_EQ(0, par.sq.RespondeTiming());
    // Mode 0 on both sides.
    par.ptt.FijaModo(0);
    par.ptt.FijaTipoPtt(4);
    par.ptt.FijaPttId(9);
    ASSERT_EQ(0, par.ptt.EnviaKeepAlive());
    par.sq.FijaModo(0);
    par.sq.FijaTipoPtt(1);
    par.sq.FijaSquelch(1);
    par.sq.FijaPttId(0xB);
    ASSERT_EQ(0, par.sq.EnviaKeepAliveSq(0));
    ASSERT_TRUE(cap.Termina());

    const std::vector<std::string> nombres = {
        "udp.dstport", "rtp.p_type", "rtp.ext.profile", "rtp.ext.len",
        "rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.squ", "rtp.ext.ed137a.ptt_id", "rtp.ext.ed137a.x",
        "rtp.ext.ed137a.ft.type", "rtp.ext.ed137a.ft.len", "rtp.ext.ed137a.ft.value",
        "rtp.ext.ed137a.ft.climax_delay.relative_value", "rtp.ext.ed137a.ft.sqi.qidx",
        "rtp.ext.ed137a.ft.sqi.qidx-ml", "rtp.ext.ed137b.ft.climax_ddc.rmm_t1",
        "rtp.ext.ed137b.ft.climax_ddc.mam_t1", "rtp.ext.ed137b.ft.climax_ddc.mam_t2",
        "rtp.ext.ed137b.ft.climax_ddc.mam_tsd", "rtp.ext.ed137b.ft.climax_ddc.mam_tj1",
        "rtp.ext.ed137b.ft.climax_ddc.mam_tid", "rtp.ext.ed137.ptt_type", "rtp.ext.ed137.squ",
        "rtp.ext.ed137.ptt_id", "_ws.expert.message"};
    auto f = cap.Decodifica("-d udp.port==5006,rtp -d udp.port==5004,rtp", nombres);
    if (getenv("RTP_WIRE_DUMP"))
        for (auto& m : f)
            for (auto& [k, v] : m) printf("%s=%s\n", k.c_str(), v.c_str());
    ASSERT_EQ(size_t(N), f.size());
    const Decodificado esperado[N] = {
        {"valor tipo 2", {{"udp.dstport", "5006"}, {"rtp.p_type", "8"}, {"rtp.ext.profile", "0x0167"}, {"rtp.ext.len", "1"},
                          {"rtp.ext.ed137a.ptt_type", "2"}, {"rtp.ext.ed137a.ptt_id", "63"}, {"rtp.ext.ed137a.x", "1"},
                          {"rtp.ext.ed137a.ft.type", "0x02"}, {"rtp.ext.ed137a.ft.len", "1"},
                          {"rtp.ext.ed137a.ft.climax_delay.relative_value", "90"}}},
        {"peticion", {{"udp.dstport", "5006"}, {"rtp.ext.len", "2"}, {"rtp.ext.ed137a.ptt_type", "0"},
                      {"rtp.ext.ed137a.ft.type", "0x04"}, {"rtp.ext.ed137a.ft.len", "3"},
                      {"rtp.ext.ed137b.ft.climax_ddc.rmm_t1", std::to_string(0x012345)}}},
        {"informe", {{"udp.dstport", "5004"}, {"rtp.ext.len", "1"}, {"rtp.ext.ed137a.squ", "1"}, {"rtp.ext.ed137a.ptt_id", "7"},
                     {"rtp.ext.ed137a.ft.type", "0x01"}, {"rtp.ext.ed137a.ft.len", "1"}, {"rtp.ext.ed137a.ft.sqi.qidx", "19"},
                     {"rtp.ext.ed137a.ft.sqi.qidx-ml", "5"}}},
        {"tipo 3", {{"udp.dstport", "5004"}, {"rtp.p_type", "123"}, {"rtp.ext.ed137a.ft.type", "0x03"},
                    {"rtp.ext.ed137a.ft.len", "1"}}},
        {"respuesta", {{"udp.dstport", "5004"}, {"rtp.p_type", "123"}, {"rtp.ext.len", "4"}, {"rtp.ext.ed137a.squ", "0"},
                       {"rtp.ext.ed137a.ft.type", "0x04"}, {"rtp.ext.ed137a.ft.len", "12"},
                       {"rtp.ext.ed137b.ft.climax_ddc.mam_t1", std::to_string(0x012345)},
                       {"rtp.ext.ed137b.ft.climax_ddc.mam_t2", std::to_string(0x200000)},
                       {"rtp.ext.ed137b.ft.climax_ddc.mam_tsd", "400"}, {"rtp.ext.ed137b.ft.climax_ddc.mam_tj1", "80"},
                       {"rtp.ext.ed137b.ft.climax_ddc.mam_tid", "160"}}},
        {"modo 0 ptt", {{"udp.dstport", "5006"}, {"rtp.ext.profile", "0x0067"}, {"rtp.ext.len", "1"},
                        {"rtp.ext.ed137.ptt_type", "4"}, {"rtp.ext.ed137.squ", "0"}, {"rtp.ext.ed137.ptt_id", "9"}}},
        {"modo 0 squelch", {{"udp.dstport", "5004"}, {"rtp.ext.profile", "0x0067"}, {"rtp.ext.ed137.ptt_type", "1"},
                            {"rtp.ext.ed137.squ", "1"}, {"rtp.ext.ed137.ptt_id", "11"}}},
    };
    for (int i = 0; i < N; i++) {
        SCOPED_TRACE(esperado[i].nombre);
        for (const auto& [campo, valor] : esperado[i].campos) EXPECT_EQ(valor, f[static_cast<size_t>(i)][campo]) << campo;
        EXPECT_EQ("", f[static_cast<size_t>(i)]["_ws.expert.message"]);
    }
}

}  // namespace
