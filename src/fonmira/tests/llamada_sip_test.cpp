// A call from a SIP peer through the running core into the BC telephone line of the
// configuration agent's example: the core, the line's program, the DSP service and the simulated
// board are the real programs; sipp is the caller.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "csimboard.h"
#include "nucleo_proceso.h"
#include "sipp.h"
#include "traza_consola.h"

namespace {

using pruebas::EsperaQue;

constexpr int kRecurso = 1;  // TLF-01 of telefono_bc.ini, on module 1 of the board
constexpr int kModulo = 1;
const char kTrazaSipp[] = "/mnt/ramfs/sipp_mensajes.log";

std::string DirFuente() {
    const std::string f = __FILE__;
    return f.substr(0, f.rfind('/') + 1);
}

class LlamadaSipALinea : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        pruebas::InstalaProgramas();
        pruebas::ConfiguraLogs();
        ASSERT_EQ(pruebas::EscribeEjemplo("telefono_bc.ini"), 0);
        nucleo.Arranca({});
        consola = std::make_unique<pruebas::TrazaConsola>();
        ASSERT_TRUE(LineaContiene("CENTTLF[1]:Recurso DSP configurado", 30000));
    }
    void TearDown() override {
        if (HasFailure())
            std::printf("core:\n%s\nlinea:\n%s\nsipp:\n%s\n", LogNucleo().c_str(),
                        pruebas::LogRecurso(kRecurso).c_str(), pruebas::LeeTodo(kTrazaSipp).c_str());
    }
    static std::string LogNucleo() { return pruebas::LeeTodo("/mnt/ramfs/vk_pelm.log"); }
    static bool LineaContiene(const std::string& s, int iMs) {
        return EsperaQue([&] { return pruebas::LogRecurso(kRecurso).find(s) != std::string::npos; }, iMs);
    }
    bool Suena() { return placa->Slic(kModulo).find(" ring=1 ") != std::string::npos; }
    std::unique_ptr<Sipp> Llama(const std::string& sEscenario) {
        return std::make_unique<Sipp>(std::vector<std::string>{"-sf", DirFuente() + sEscenario, "-m", "1", "-s",
                                                               "TLF-01", "-trace_msg", "-message_file", kTrazaSipp,
                                                               "127.0.0.1:5060"});
    }
    // sipp calls the line's SIP user; the test answers by lifting the handset once it rings.
    std::unique_ptr<Sipp> LlamaYDescuelga(const std::string& sEscenario) {
        auto sipp = Llama(sEscenario);
        EXPECT_TRUE(EsperaQue([&] { return Suena(); }, 40000)) << sipp->Log();
        placa->Descuelga(kModulo);
        // The hardware layer watches the handset 20 s after its start.
        EXPECT_TRUE(LineaContiene("CENTTLF[1]: Pasa a Conv (1)", 40000));
        EXPECT_FALSE(Suena());
        return sipp;
    }
    // Idle again: a new call from SIP rings the line, and the core gives it the session record
    // the ended call had (the first free one).
    void LineaLibre() {
        const size_t iAntes = consola->Texto().size();
        auto sipp = Llama("uac_linea_cuelga.xml");
        EXPECT_TRUE(EsperaQue([&] { return Suena(); }, 10000)) << sipp->Log();
        EXPECT_TRUE(EsperaQue(
            [&] { return consola->Texto().find("CSUPEREC[1]: infosesion=0\n", iAntes) != std::string::npos; }, 5000))
            << consola->Texto();
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    pruebas::CNucleo nucleo;
    std::unique_ptr<pruebas::TrazaConsola> consola;
};

TEST_F(LlamadaSipALinea, CallerEndsTheCallWithBye) {
    auto sipp = LlamaYDescuelga("uac_linea_bye.xml");
    ASSERT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    // The line got the end of the call: hang-up tone until the handset goes down.
    EXPECT_TRUE(LineaContiene("FIN llamada 3", 10000));
    placa->Cuelga(kModulo);
    EXPECT_TRUE(LineaContiene("CENTTLF[1]: bucle Abierto(1)", 10000));
    LineaLibre();
}

TEST_F(LlamadaSipALinea, HangingUpTheHandsetSendsByeToTheCaller) {
    auto sipp = LlamaYDescuelga("uac_linea_cuelga.xml");
    // Hung up once the caller has confirmed the answer with its ACK.
    ASSERT_TRUE(EsperaQue([] { return LogNucleo().find("CSUPEREC[1]: Traplic_ACK") != std::string::npos; }, 10000));
    placa->Cuelga(kModulo);
    EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    EXPECT_TRUE(LineaContiene("CENTTLF[1]: Fin llamada ", 10000));
    LineaLibre();
}

}  // namespace
