// Every DSP command of the list, from the resource process's client call through the real
// queue and the DSP service to the simulated DSP: the bytes that reach the DSP.
#include <atomic>

#include "hardware/ccomeventos.h"
#include "ipc/comandosdsp.h"
#include "libdsp.h"
#include "serviciopruebas.h"

using namespace serviciopruebas;

namespace {

// The line entity that owns the DSP resources.
class CEntidad : public CComeventos {
public:
    int EvtDspRecursoCreado(int id) override {
        idCreado = id;
        return 0;
    }
    std::atomic<int> idCreado{-1};
};

const int32_t kLcen[22] = {-10, -50, 20, 100, 20, 1000, 40, 40, 160, 60, 100,
                           5000, 6000, 80, 150, 40, 60, 20, 130, 20, 130, 200};

std::vector<int> BytesLcen() {
    std::vector<int> v;
    for (int32_t x : kLcen) {
        v.push_back(x & 0xFF);
        v.push_back((x >> 8) & 0xFF);
    }
    return v;
}

// Per form: the client call's values and the parameter bytes the DSP must receive for them.
#define PIDE_SIN_VALOR(LDSP) [](int32_t id) { return LDSP(id); }
#define PIDE_SIN_VALOR_ANOTADO PIDE_SIN_VALOR
#define PIDE_VALOR(LDSP) [](int32_t id) { return LDSP(id, 0x15A); }
#define PIDE_DOS_VALORES(LDSP) [](int32_t id) { return LDSP(id, 3, 250); }
#define PIDE_BUCLE(LDSP) [](int32_t id) { return LDSP(id, static_cast<int32_t>(0xF6050000u), 9); }
#define PIDE_DIGITOS(LDSP) [](int32_t id) { return LDSP(id, "123", 3); }
#define PIDE_LLAMA(LDSP) [](int32_t id) { return LDSP(id, 2, "12", 2, "345", 3); }
#define PIDE_INTERVENCION(LDSP) [](int32_t id) { return LDSP(id, 1, "9", 1, "8", 1, 5); }
#define PIDE_BLOQUE_LCEN(LDSP) [](int32_t id) { return LDSP(id, kLcen); }
#define BYTES_SIN_VALOR std::vector<int>{}
#define BYTES_SIN_VALOR_ANOTADO BYTES_SIN_VALOR
#define BYTES_VALOR std::vector<int>{0x5a}
#define BYTES_DOS_VALORES std::vector<int>{3, 250}
#define BYTES_BUCLE std::vector<int>{0xf6, 5, 9}  // level -10, duration 5, frequency 9
#define BYTES_DIGITOS std::vector<int>{3, '1', '2', '3'}
#define BYTES_LLAMA std::vector<int>{2, 2, 3, '1', '2', '3', '4', '5'}
#define BYTES_INTERVENCION std::vector<int>{1, 1, 1, '9', '8', 5}
#define BYTES_BLOQUE_LCEN BytesLcen()

struct Caso {
    const char* szNombre;
    int (*fPide)(int32_t id);
    uint16_t usCodigo;
    std::vector<int> aiBytes;
};

std::string Linea(uint16_t usCodigo, int iCanal, const std::vector<int>& aiBytes) {
    std::vector<int> v = {usCodigo & 0xFF, usCodigo >> 8, iCanal, 0};
    v.insert(v.end(), aiBytes.begin(), aiBytes.end());
    std::string s = std::to_string(v.size() + 4) + ":";  // the driver counts 4 bytes more
    char ac[4];
    for (int b : v) {
        std::snprintf(ac, sizeof(ac), "%02x", b & 0xFF);
        s += std::string(" ") + ac;
    }
    return s;
}

TEST_F(ServicioDsp, EveryDspCommandOfTheClientReachesTheDspOnItsChannel) {
#define CASO(a, ldsp, nombre, NOMBRE, cola, manejador, metodo, dsp, forma) \
    {#ldsp, PIDE_##forma(ldsp), dsp, BYTES_##forma},
    const Caso kCasos[] = {VK_COMANDOS_DSP(CASO, _)};
#undef CASO
    ASSERT_EQ(IpcDremson::CreaCanal(static_cast<int32_t>(getpid())), 0);
    ASSERT_EQ(ldspInicia(), 0);
    ASSERT_EQ(ldspCreaCanal(static_cast<int32_t>(getpid())), 0);
    // Two resources: the second sits on DSP channel 1.
    CEntidad entidades[2];
    for (CEntidad& e : entidades) {
        ASSERT_GE(ldspArrancaRecurso(0, &e), 0);
        ASSERT_TRUE(dsppruebas::Espera([&] { return e.idCreado >= 0; }, 5000));
    }
    const int32_t id = entidades[1].idCreado;
    for (const Caso& c : kCasos) {
        SCOPED_TRACE(c.szNombre);
        placa->Dsp("borra");
        EXPECT_EQ(c.fPide(id), 0);
        const std::string s = Linea(c.usCodigo, 1, c.aiBytes);
        EXPECT_TRUE(EsperaComando(s)) << s;
        EXPECT_EQ(Lineas("comandos"), std::vector<std::string>{s});
    }
    EXPECT_EQ(ldspCreaCanal(-1), 0);
}

}  // namespace
