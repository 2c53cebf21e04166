// The DSP master driven as the DSP service drives it (a boot/receive thread and a 20 ms
// supervisor under one lock) against the simulated DSP in real time: it boots the DSP, keeps
// the link up, brings it back after a fall, and carries a call between two looped channels.
#include <sched.h>

#include <atomic>

#include "dsppruebas.h"

using namespace dsppruebas;

namespace {

class ServicioDsp : public PlacaDsp {
protected:
    void SetUp() override {
        PlacaDsp::SetUp();
        if (HasFatalFailure()) return;
        placa->Dsp("reloj marcha");
        master.bPausasReales = true;
        hBoot = std::thread([this] { HiloBootloader(); });
        hSupervisor = std::thread([this] { HiloSupervisor(); });
    }
    void TearDown() override {
        bFin = true;
        if (hBoot.joinable()) hBoot.join();
        if (hSupervisor.joinable()) hSupervisor.join();
        PlacaDsp::TearDown();
    }

    void HiloBootloader() {
        hwResetDsp();
        master.PreparaArranque();
        while (!bFin) {
            while (!bFin && master.ArrancaDsp() == -1) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            // Once something was read, three empty reads in a row are tolerated.
            int iReintentos = 3;
            for (bool bPrimero = true; !bFin; bPrimero = false) {
                int r;
                {
                    std::lock_guard<std::mutex> l(tMutex);
                    r = master.RecibeDsp();
                }
                if (r < 1) {
                    if (bPrimero || iReintentos == 0) break;
                    iReintentos--;
                } else {
                    iReintentos = 3;
                }
                sched_yield();
            }
        }
    }
    void HiloSupervisor() {
        while (!bFin) {
            {
                std::lock_guard<std::mutex> l(tMutex);
                master.SupervisaEnlace();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    bool EsperaEvento(const std::string& s, int n = 1, int iMs = 5000) {
        return Espera([&] { return receptor.Cuenta(s) >= n; }, iMs);
    }

    std::mutex tMutex;  // the service's lock: one receive or supervision step at a time
    std::atomic<bool> bFin{false};
    std::thread hBoot, hSupervisor;
};

TEST_F(ServicioDsp, BootsTheDspAndKeepsItsLinkUp) {
    ASSERT_TRUE(EsperaEvento("DspOk(0)"));
    EXPECT_TRUE(master.Enlace());
    uint32_t uiResets = placa->PulsosResetDsp();
    uint32_t uiSondas = Estado("sondas");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(master.Enlace());
    EXPECT_EQ(receptor.Eventos(), std::vector<std::string>{"DspOk(0)"});
    EXPECT_EQ(placa->PulsosResetDsp(), uiResets);
    // A probe about every 200 ms, each answered.
    EXPECT_GE(Estado("sondas") - uiSondas, 4u);
    EXPECT_EQ(Estado("fase"), 3u);  // running its firmware
}

TEST_F(ServicioDsp, LinkComesBackAfterTheDspFallsBackToItsBootLoader) {
    ASSERT_TRUE(EsperaEvento("DspOk(0)"));
    placa->Dsp("fase1");
    ASSERT_TRUE(EsperaEvento("DspCaido(0)"));
    ASSERT_TRUE(EsperaEvento("DspOk(0)", 2));
    EXPECT_TRUE(master.Enlace());
    // A hung DSP: silence, the fall after 500 ms, the reset that cures it, the boot again.
    placa->Dsp("silencio 1");
    ASSERT_TRUE(EsperaEvento("DspCaido(0)", 2));
    ASSERT_TRUE(EsperaEvento("DspOk(0)", 3));
    EXPECT_EQ(receptor.Eventos(),
              (std::vector<std::string>{"DspOk(0)", "DspCaido(0)", "DspOk(0)", "DspCaido(0)", "DspOk(0)"}));
}

TEST_F(ServicioDsp, TwoLoopedChannelsCallEachOther) {
    ASSERT_TRUE(EsperaEvento("DspOk(0)"));
    placa->Dsp("bucle 2 5");
    ASSERT_EQ(master.ArrancaRecurso(2), 0);
    ASSERT_EQ(master.ArrancaRecurso(5), 0);
    ASSERT_EQ(master.TomaProtocolo(2, 1), 0);
    ASSERT_EQ(master.TomaProtocolo(5, 1), 0);
    ASSERT_TRUE(EsperaEvento("Reposo(0,5)"));  // the lines are at rest under their protocol
    ASSERT_EQ(master.SelecDetDtmf(5, 1), 0);
    ASSERT_EQ(master.Llama(2, 3, reinterpret_cast<const uint8_t*>("3001"), 4, reinterpret_cast<const uint8_t*>("3002"), 4), 0);
    ASSERT_TRUE(EsperaEvento("LlamadaEntrante(0,5,3)[3001][3002]"));
    master.RespondeLibre(5);
    ASSERT_TRUE(EsperaEvento("LlamadoLibre(0,2)"));
    master.Descuelga(5);
    ASSERT_TRUE(EsperaEvento("LlamadoDescuelga(0,2)"));
    master.MarcaDtmf(2, reinterpret_cast<const uint8_t*>("47"), 2);
    ASSERT_TRUE(EsperaEvento("DigitoDtmf(0,5,55,0)"));
    master.Libera(2);
    ASSERT_TRUE(EsperaEvento("LlamadaLiberada(0,5,0)"));
    master.Libera(5);
    std::vector<std::string> esperados = {"DspOk(0)",
                                          "Reposo(0,2)",
                                          "Reposo(0,5)",
                                          "LlamadaEntrante(0,5,3)[3001][3002]",
                                          "LlamadoLibre(0,2)",
                                          "LlamadoDescuelga(0,2)",
                                          "DigitoDtmf(0,5,52,0)",
                                          "DigitoDtmf(0,5,55,0)",
                                          "LlamadaLiberada(0,5,0)"};
    EXPECT_EQ(receptor.Eventos(), esperados);
    // A busy answer goes back the same way.
    master.Llama(5, 1, nullptr, 0, reinterpret_cast<const uint8_t*>("9"), 1);
    ASSERT_TRUE(EsperaEvento("LlamadaEntrante(0,2,1)[][9]"));
    master.RespondeOcupado(2);
    ASSERT_TRUE(EsperaEvento("LlamadoOcupado(0,5)"));
}

}  // namespace
