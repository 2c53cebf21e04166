// The DSP master against the simulated board's DSP, its clock moved by hand: the boot
// sequence, the link coming up and going down, the keep-alive probes and the resets.
#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "dsppruebas.h"

using namespace dsppruebas;

namespace {

std::vector<std::string> Esperado(std::initializer_list<const char*> l) { return std::vector<std::string>(l.begin(), l.end()); }

TEST_F(PlacaDsp, BootsBothPhasesInBlocksOf128WordsWithTheHandshake) {
    placa->Dsp("borra");
    EXPECT_EQ(master.ArrancaDsp(), 1);
    EXPECT_EQ(LineasDe("arranque"),
              Esperado({"paso", "direccion 0x80000000", "escribe 128 en 0x80000000", "escribe 128 en 0x80000200",
                        "escribe 69 en 0x80000400", "direccion 0x11800000", "escribe 1 en 0x11800000 0x80000000",
                        "pide fase 2", "arranca"}));
    placa->Dsp("borra");
    EXPECT_EQ(master.ArrancaDsp(), 2);
    EXPECT_EQ(LineasDe("arranque"),
              Esperado({"paso", "fase2", "direccion 0xC0000000", "escribe 128 en 0xC0000000", "escribe 128 en 0xC0000200",
                        "escribe 69 en 0xC0000400", "arranca", "en marcha"}));
    // Running: no image wanted, nothing loaded.
    placa->Dsp("borra");
    EXPECT_EQ(master.ArrancaDsp(), static_cast<int>(3));
    EXPECT_EQ(LineasDe("arranque"), Esperado({"paso"}));
}

// The driver's memory address, set for an image, must not move under a message another
// thread writes meanwhile: the board's journal of device calls shows them in order.
TEST_F(PlacaDsp, MessagesFromOtherThreadsNeverCutIntoAnImageLoad) {
    EscribeFichero(CMasterDsp::FICHERO_FASE1, Imagen(64 * 1024, 3));
    EscribeFichero(CMasterDsp::FICHERO_FASE2, Imagen(64 * 1024, 4));
    std::atomic<bool> bFin{false};
    std::vector<std::thread> v;
    for (int i = 0; i < 3; i++)
        v.emplace_back([&] {
            while (!bFin) master.EnviaCorto(dsp::CMD_LATIDO, dsp::CANAL_LATIDO, 0);
        });
    EXPECT_EQ(master.ArrancaDsp(), 1);
    EXPECT_EQ(master.ArrancaDsp(), 2);
    bFin = true;
    for (auto& t : v) t.join();
    placa->Orden("diario /mnt/ramfs/diario.txt");
    std::ifstream f("/mnt/ramfs/diario.txt");
    int iMensajes = 0, iCargas = 0, iCortes = 0;
    bool bCargando = false;
    for (std::string l; std::getline(f, l);) {
        if (l.find("/dev/hpidsp") == std::string::npos) continue;
        if (l.find(" setaddr ") != std::string::npos) {
            iCargas += !bCargando;
            bCargando = true;
        } else if (l.find(" ioctl 0x8004480B ") != std::string::npos) {
            bCargando = false;
        } else if (l.find(" writemsg ") != std::string::npos) {
            iMensajes++;
            iCortes += bCargando;
        }
    }
    EXPECT_EQ(iCargas, 2);
    EXPECT_GT(iMensajes, 0);
    EXPECT_EQ(iCortes, 0);
}

TEST_F(PlacaDsp, ImageWordsAreTheLittleEndianValueOfEachFourFileBytes) {
    ASSERT_EQ(master.ArrancaDsp(), 1);
    std::string sImagen = Imagen(1300, 1);
    std::istringstream is(placa->Dsp("memoria 0x80000000 325"));
    for (size_t i = 0; i < 325; i++) {
        std::string w;
        is >> w;
        const uint8_t* p = reinterpret_cast<const uint8_t*>(sImagen.data()) + 4 * i;
        uint32_t uiEsperada = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
        ASSERT_EQ(std::stoul(w, nullptr, 16), uiEsperada) << "word " << i;
    }
}

struct CasoImagen {
    size_t iBytes;
    std::vector<std::string> asBloques;
};

TEST_F(PlacaDsp, ImageSizesGiveTheirBlocksAndAShortWordIsPaddedWithZeros) {
    const CasoImagen kCasos[] = {
        {1301, {"escribe 128 en 0x80000000", "escribe 128 en 0x80000200", "escribe 70 en 0x80000400"}},
        {1024, {"escribe 128 en 0x80000000", "escribe 128 en 0x80000200", "escribe 0 en 0x80000400"}},
        {3, {"escribe 1 en 0x80000000 0x"}},
        {0, {"escribe 0 en 0x80000000"}},
    };
    for (const CasoImagen& c : kCasos) {
        SCOPED_TRACE(c.iBytes);
        std::string s = Imagen(c.iBytes, 9);
        EscribeFichero(CMasterDsp::FICHERO_FASE1, s);
        placa->Dsp("fase1");
        placa->Dsp("borra");
        ASSERT_EQ(master.CargaFicheroDsp(1), 0);
        std::vector<std::string> v = LineasDe("arranque");
        ASSERT_GE(v.size(), c.asBloques.size() + 1);
        for (size_t i = 0; i < c.asBloques.size(); i++) EXPECT_EQ(v[1 + i].substr(0, c.asBloques[i].size()), c.asBloques[i]);
        if (c.iBytes % 4) {
            // The last word holds the remaining bytes and zeros above them.
            size_t iUltima = c.iBytes / 4;
            uint32_t uiEsperada = 0;
            for (size_t b = 0; b < c.iBytes % 4; b++)
                uiEsperada |= static_cast<uint32_t>(static_cast<uint8_t>(s[4 * iUltima + b])) << (8 * b);
            std::string w = placa->Dsp("memoria " + std::to_string(0x80000000u + 4 * iUltima) + " 1");
            EXPECT_EQ(std::stoul(w, nullptr, 16), uiEsperada);
        }
    }
}

TEST_F(PlacaDsp, HandshakeIsWrittenTwiceOnlyWhenTheDspHasNotMovedOn) {
    for (int iLento : {0, 1}) {
        SCOPED_TRACE(iLento);
        placa->Dsp("fase1");
        placa->Dsp("lento " + std::to_string(iLento));
        placa->Dsp("borra");
        ASSERT_EQ(master.CargaFicheroDsp(1), 0);
        int n = 0;
        for (const auto& s : LineasDe("arranque")) n += s == "escribe 1 en 0x11800000 0x80000000";
        EXPECT_EQ(n, 1 + iLento);
        EXPECT_EQ(Estado("fase"), 2u);
    }
}

TEST_F(PlacaDsp, FlickeringPhaseIsUnstableAndTheBootStepRetries100MsLater) {
    placa->Dsp("parpadeo 6");
    EXPECT_EQ(master.LeeFaseDsp(), -1);
    placa->Dsp("parpadeo 6");
    EXPECT_EQ(master.ArrancaDsp(), 1);  // a fresh reference once the flicker stops
    std::vector<unsigned int> v = master.Pausas();
    int iLargas = 0;
    for (unsigned int p : v) {
        EXPECT_TRUE(p == 1 || p == 100) << p;
        iLargas += p == 100;
    }
    EXPECT_GE(iLargas, 1);
}

TEST_F(PlacaDsp, MissingImageIsReportedOnceAndLoadsNothing) {
    std::remove(CMasterDsp::FICHERO_FASE1);
    placa->Dsp("borra");
    for (int i = 0; i < 3; i++) EXPECT_EQ(master.ArrancaDsp(), 1);
    EXPECT_EQ(CuentaLineas("PUM!  No se puede abrir fichero"), 1);
    for (const auto& s : LineasDe("arranque")) EXPECT_EQ(s, "paso");
    EXPECT_EQ(master.CargaFicheroDsp(5), -1);
    EXPECT_EQ(CuentaLineas("PUM!  No es ni fase 1 ni fase 2"), 1);
}

TEST_F(PlacaDsp, LinkComesUpOnTheDspsHelloAndStaysUpOnItsHeartbeats) {
    ASSERT_EQ(master.ArrancaDsp(), 1);
    ASSERT_EQ(master.ArrancaDsp(), 2);
    EXPECT_FALSE(master.Enlace());
    EXPECT_EQ(master.RecibeDsp(), 4);  // the hello
    EXPECT_TRUE(master.Enlace());
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspOk(0)"}));
    EXPECT_EQ(PasaHasta([] { return false; }, 2000), -1);
    EXPECT_TRUE(master.Enlace());
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspOk(0)"}));
    EXPECT_EQ(placa->PulsosResetDsp(), 0u);
    // The host's heartbeat goes out only when it has been silent for 50 ms: with the probes
    // every 200 ms it fills the gaps.
    EXPECT_GT(Estado("latidos"), 0u);
}

TEST_F(PlacaDsp, LinkFallsAfter500MsOfSilenceThenTheDspIsResetEverySecond) {
    Arranque();
    placa->Dsp("silencio 1");
    int iMs = PasaHasta([&] { return !master.Enlace(); }, 2000);
    // The last accepted message came at most one DSP heartbeat (100 ms) before the silence.
    EXPECT_GE(iMs, 400);
    EXPECT_LE(iMs, 520);
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspCaido(0)"}));
    EXPECT_EQ(placa->PulsosResetDsp(), 0u);
    // Reset (and hello) a second after the fall, and every second while it stays down.
    for (uint32_t n = 1; n <= 3; n++) {
        int iHastaReset = PasaHasta([&] { return placa->PulsosResetDsp() >= n; }, 1500);
        EXPECT_GE(iHastaReset, 980) << n;
        EXPECT_LE(iHastaReset, 1000) << n;
    }
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspCaido(0)"}));
}

TEST_F(PlacaDsp, UnansweredProbesResetTheDspThreeSecondsAfterTheFirst) {
    Arranque();
    placa->Dsp("ignorasondas 1");
    uint32_t uiSondas = Estado("sondas");
    int iPrimera = PasaHasta([&] { return Estado("sondas") > uiSondas; }, 400);
    ASSERT_GE(iPrimera, 0);
    EXPECT_LE(iPrimera, 240);
    uint32_t uiResets = placa->PulsosResetDsp();
    std::vector<int> aiSondas;
    int t = 0;
    uint32_t uiVistas = Estado("sondas");
    while (placa->PulsosResetDsp() == uiResets && t < 4000) {
        Paso();
        t += 20;
        if (Estado("sondas") != uiVistas) {
            uiVistas = Estado("sondas");
            aiSondas.push_back(t);
        }
    }
    // Four probes in all, 800 ms apart, and the reset 3 s after the first.
    ASSERT_EQ(aiSondas.size(), 3u);
    for (int s : aiSondas) EXPECT_EQ(s % 800, 0) << s;
    EXPECT_EQ(t, 3000);
    EXPECT_TRUE(master.Enlace());  // the heartbeats kept it up until the reset
}

TEST_F(PlacaDsp, RecoversAfterAReset) {
    Arranque();
    placa->Dsp("ignorasondas 1");
    ASSERT_GT(PasaHasta([&] { return placa->PulsosResetDsp() > 0; }, 4000), 0);
    EXPECT_EQ(Estado("fase"), 1u);
    // The boot thread finds phase 1: the link falls at once and both images go in again.
    EXPECT_EQ(master.ArrancaDsp(), 1);
    EXPECT_FALSE(master.Enlace());
    EXPECT_EQ(master.ArrancaDsp(), 2);
    Vacia();
    EXPECT_TRUE(master.Enlace());
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspCaido(0)", "DspOk(0)"}));
    // The fault went with the reset: probes are answered and no further reset comes.
    uint32_t uiResets = placa->PulsosResetDsp();
    EXPECT_EQ(PasaHasta([] { return false; }, 4000), -1);
    EXPECT_EQ(placa->PulsosResetDsp(), uiResets);
    EXPECT_TRUE(master.Enlace());
}

TEST_F(PlacaDsp, AnAnswerClearsTheProbeAndTheNextLeaves200MsAfterIt) {
    Arranque();
    // The first probe about 200 ms after the link came up.
    uint32_t uiSondas = Estado("sondas");
    int iPrimera = PasaHasta([&] { return Estado("sondas") > uiSondas; }, 400);
    EXPECT_GE(iPrimera, 200);
    EXPECT_LE(iPrimera, 240);
    // Answer read 100 ms later.
    for (int i = 0; i < 5; i++) {
        placa->Dsp("avanza 20");
        master.SupervisaEnlace();  // no reads: the answer waits
    }
    Vacia();
    uint32_t uiTrasRespuesta = Estado("sondas");
    int iSiguiente = PasaHasta([&] { return Estado("sondas") > uiTrasRespuesta; }, 400);
    EXPECT_GE(iSiguiente, 200);
    EXPECT_LE(iSiguiente, 240);
}

struct CasoRespuesta {
    const char* szCodigo;  // the event's first two bytes, as the DSP sends them
    bool bRespuesta;       // it counts as the probe's answer
};

class RespuestaSonda : public PlacaDsp, public ::testing::WithParamInterface<CasoRespuesta> {};

// The DSP ignores the probes; the test answers each one with the event under test. An event
// of the command-error family (neither group bit set) keeps the DSP from being reset.
TEST_P(RespuestaSonda, CommandErrorFamilyAnswersTheProbe) {
    const CasoRespuesta& c = GetParam();
    Arranque();
    placa->Dsp("ignorasondas 1");
    const uint32_t uiInicio = Estado("sondas");
    uint32_t uiVistas = uiInicio;
    for (int t = 0; t <= 4000 && placa->PulsosResetDsp() == 0; t += 20) {
        Paso();
        if (Estado("sondas") == uiVistas) continue;
        uiVistas = Estado("sondas");
        placa->Dsp(std::string("crudo ") + c.szCodigo + " 11 00");
        Vacia();
    }
    // Answered, a probe leaves every 200 ms; unanswered, the reset follows the fourth.
    if (c.bRespuesta)
        EXPECT_GE(Estado("sondas") - uiInicio, 15u);
    else
        EXPECT_EQ(Estado("sondas") - uiInicio, 4u);
    EXPECT_EQ(placa->PulsosResetDsp() == 0, c.bRespuesta);
    EXPECT_TRUE(master.Enlace());
    EXPECT_TRUE(receptor.Eventos().empty());  // nothing forwarded
}

INSTANTIATE_TEST_SUITE_P(Codigos, RespuestaSonda,
                         ::testing::Values(CasoRespuesta{"00 80", true}, CasoRespuesta{"0f 80", true},
                                           CasoRespuesta{"40 80", true}, CasoRespuesta{"c0 ff", true},
                                           CasoRespuesta{"30 80", false}),
                         [](const ::testing::TestParamInfo<CasoRespuesta>& i) {
                             std::string s = i.param.szCodigo;
                             return "codigo_" + s.substr(3, 2) + s.substr(0, 2);
                         });

TEST_F(PlacaDsp, DspAskingForPhaseOneAgainBringsTheLinkDownAtOnce) {
    Arranque();
    placa->Dsp("fase1");
    EXPECT_EQ(master.ArrancaDsp(), 1);
    EXPECT_FALSE(master.Enlace());
    EXPECT_EQ(receptor.Eventos(), Esperado({"DspCaido(0)"}));
    EXPECT_EQ(master.TomaProtocolo(0, 1), CMasterDsp::ERR_ENLACE_CAIDO);
}

TEST_F(PlacaDsp, LinkSurvivesTheClockWrap) {
    placa->Dsp("reloj parado 0xFFFFF000");
    Arranque();
    uint32_t uiSondas = Estado("sondas");
    EXPECT_EQ(PasaHasta([] { return false; }, 8000), -1);  // 4 s each side of the wrap
    EXPECT_LT(Reloj(), 0x2000u);
    EXPECT_TRUE(master.Enlace());
    EXPECT_EQ(placa->PulsosResetDsp(), 0u);
    EXPECT_GE(Estado("sondas") - uiSondas, 30u);
    EXPECT_TRUE(receptor.Eventos().empty());
}

TEST_F(PlacaDsp, AProbeLeftPendingAtTheFallDoesNotResetTheDspThatCameBack) {
    Arranque();
    placa->Dsp("ignorasondas 1");
    ASSERT_GT(PasaHasta([&] { return placa->PulsosResetDsp() > 0; }, 4000), 0);
    // The DSP sits in its boot loader: the next probe goes out before the link times out.
    uint32_t uiSondas = Estado("sondas");
    ASSERT_GE(PasaHasta([&] { return !master.Enlace(); }, 1000), 0);
    EXPECT_EQ(Estado("sondas"), uiSondas);  // lost in the boot loader, still pending
    ASSERT_EQ(master.ArrancaDsp(), 1);
    ASSERT_EQ(master.ArrancaDsp(), 2);
    Vacia();
    ASSERT_TRUE(master.Enlace());
    EXPECT_EQ(PasaHasta([&] { return placa->PulsosResetDsp() > 1; }, 3000), -1);
    EXPECT_TRUE(master.Enlace());
}

TEST_F(PlacaDsp, FailedMemoryWriteStopsTheLoadAndIsLoggedOnce) {
    placa->Dsp("fallaescritura 3");
    for (int i = 0; i < 3; i++) EXPECT_EQ(master.CargaFicheroDsp(1), -1);
    EXPECT_EQ(CuentaLineas("fallo escribiendo /var/boot-hpi.bin en el DSP"), 1);
    EXPECT_EQ(Estado("fase"), 1u);  // never started on part of an image
    placa->Dsp("borra");
    EXPECT_EQ(master.CargaFicheroDsp(1), 0);
    EXPECT_EQ(Estado("fase"), 2u);
}

TEST_F(PlacaDsp, ClockReadThatFailsKeepsTheLastTimeAndIsLoggedOnce) {
    EXPECT_EQ(master.DameReloj(), RELOJ_INICIAL);
    placa->Dsp("avanza 30");
    placa->Orden("rechaza 0x40044801 2");
    EXPECT_EQ(master.DameReloj(), RELOJ_INICIAL);
    EXPECT_EQ(master.DameReloj(), RELOJ_INICIAL);
    EXPECT_EQ(master.DameReloj(), RELOJ_INICIAL + 30);
    EXPECT_EQ(CuentaLineas("no se puede leer el reloj"), 1);
}

TEST_F(PlacaDsp, QueueLevels) {
    Arranque();
    placa->Dsp("evento 1 reposo");
    placa->Dsp("evento 1 dtmf 1 2");
    EXPECT_EQ(master.LeeNivelCola(), 10);
    EXPECT_TRUE(master.HayEspacioTx(640));
    EXPECT_FALSE(master.HayEspacioTx(641));
}

TEST_F(PlacaDsp, StepsRefusedBeforeTheMasterIsStarted) {
    CMasterDsp otro;
    EXPECT_EQ(otro.ArrancaDsp(), -1);
    EXPECT_EQ(otro.RecibeDsp(), CMasterDsp::ERR_NO_ARRANCADO);
    EXPECT_EQ(otro.SupervisaEnlace(), CMasterDsp::ERR_NO_ARRANCADO);
    EXPECT_EQ(otro.Reinicia(), CMasterDsp::ERR_DISPOSITIVO);
    EXPECT_EQ(otro.Libera(3), CMasterDsp::ERR_ENLACE_CAIDO);
}

TEST_F(PlacaDsp, ClockWithBit31SetIsAValue) {
    placa->Dsp("reloj parado 0xFFFFFFF0");
    EXPECT_EQ(master.DameReloj(), 0xFFFFFFF0u);
}

}  // namespace
