// The three line programs on the simulated board with the real DSP service: the DSP channel of
// each line must take its line side on the time slot the line module drives, and its host
// side on the PCM channel of the line's audio threads.
#include <gtest/gtest.h>

#include "lineas_pruebas.h"

namespace {

using namespace pruebas_lineas;

constexpr int REC = 3;
constexpr int MODULO = 3;
constexpr int SLOT_PCM = MODULO + 48;  // the Rx slot of a line on this board type

struct CasoSlots {
    const char* szNombre;
    const char* szPrograma;
    int iTipoIf;
};

void PrintTo(const CasoSlots& c, std::ostream* os) { *os << c.szNombre; }

// The value of "clave=N" in a line of the board's answers; -2 when absent, -1 for "-".
int Valor(const std::string& s, const std::string& sClave) {
    const size_t p = s.find(" " + sClave + "=");
    if (p == std::string::npos) return -2;
    const std::string v = s.substr(p + sClave.size() + 2);
    return v[0] == '-' ? -1 : std::atoi(v.c_str());
}

class SlotsLinea : public PruebaLineas, public ::testing::WithParamInterface<CasoSlots> {
protected:
    void Vuelca() override {
        std::printf("log:\n%s\ncanales:\n%s\ncomandos:\n%s\n", linea.Hijo().Log().c_str(),
                    placa->Dsp("canales").c_str(), placa->Dsp("comandos").c_str());
    }
    CLinea linea;
};

TEST_P(SlotsLinea, DspChannelMeetsTheLineModuleOnItsSlotAndTheAudioOnThePcmChannel) {
    const CasoSlots& k = GetParam();
    cfgConfigRecurso r;
    cfgDefectoParteTipo(&r, k.iTipoIf);
    std::snprintf(r.nombre, sizeof r.nombre, "%s", k.szNombre);
    r.iTipo = 2;
    r.iTipoIf = k.iTipoIf;
    r.iSlot = 0;
    r.iDispositivo = MODULO;
    r.iCfgModoSistema = 1;
    linea.Arranca(k.szPrograma, REC, dsp);
    ASSERT_TRUE(linea.Configura(r));
    // The line's channel, once the DSP service has handed it all four slots.
    std::string sCanal;
    EsperaQue([&] {
        std::istringstream is(placa->Dsp("canales"));
        for (std::string l; std::getline(is, l);)
            if (l.find(" asignado ") != std::string::npos) sCanal = l;
        return Valor(sCanal, "hosttx") >= 0;
    }, 60000);
    ASSERT_GE(Valor(sCanal, "hosttx"), 0) << placa->Dsp("canales");
    const std::string sModulo = placa->Slic(MODULO);
    const int iSlotLinea = Valor(sModulo, "tstx");
    ASSERT_GE(iSlotLinea, 0) << sModulo;
    EXPECT_EQ(Valor(sModulo, "tsrx"), iSlotLinea) << sModulo;
    EXPECT_EQ(Valor(sCanal, "ifrx"), iSlotLinea) << sCanal;
    EXPECT_EQ(Valor(sCanal, "iftx"), iSlotLinea) << sCanal;
    EXPECT_EQ(Valor(sCanal, "hostrx"), SLOT_PCM) << sCanal;
    EXPECT_EQ(Valor(sCanal, "hosttx"), SLOT_PCM) << sCanal;
}

INSTANTIATE_TEST_SUITE_P(
    Lineas, SlotsLinea,
    ::testing::Values(CasoSlots{"Troncal", "lintaro", TIPOIF_ATSR2}, CasoSlots{"Telefono", "fonmira", TIPOIF_BC},
                      CasoSlots{"LineaCaliente", "kalvesk", TIPOIF_LCEN}),
    [](const ::testing::TestParamInfo<CasoSlots>& i) { return std::string(i.param.szNombre); });

}  // namespace
