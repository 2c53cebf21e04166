// An ED-137 call from sipp to the BC telephone line of the combined board: the simulated handset
// rings, lifting it answers, either side ends the call, and the line's call records reach the
// SNMP agent stand-in.
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comun/tests/proceso_hijo.h"
#include "placa_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;

const char kTrazaSipp[] = "/mnt/ramfs/sipp_mensajes.log";
const char kSalidaAgente[] = "/mnt/ramfs/snmpagent.out";

class Telefono : public ::testing::Test {
protected:
    // The board with the agent, until the telephone line's DSP channel is configured.
    void Arranca() {
        // The agent listens before the board starts: no record may find it missing.
        agente.Arranca({pruebas::DirBuild() + "/sim/snmpagent/snmpagent"}, kSalidaAgente);
        ASSERT_TRUE(p.Arranca());
        ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000));
    }
    void TearDown() override {
        if (HasFailure() && p.placa)
            std::printf("%s\nsipp:\n%s\nagent:\n%s\n", p.Informe().c_str(), LeeTodo(kTrazaSipp).c_str(),
                        agente.Salida().c_str());
    }
    bool Suena() { return p.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }
    bool EnAgente(const std::string& s, int iMs) {
        return EsperaQue([&] { return agente.Salida().find(s) != std::string::npos; }, iMs);
    }
    // sipp calls TLF-01 with the ED-137 headers of a telephone call (WG67-Version, Priority,
    // Subject); the line rings.
    std::unique_ptr<Sipp> Llama(const std::string& sEscenario) {
        auto sipp = std::make_unique<Sipp>(std::vector<std::string>{
            "-sf", DirFuente() + "../src/fonmira/tests/" + sEscenario, "-m", "1", "-s", "TLF-01", "-trace_msg",
            "-message_file", kTrazaSipp, "127.0.0.1:5060"});
        EXPECT_TRUE(EsperaQue([&] { return Suena(); }, 20000)) << sipp->Log();
        return sipp;
    }
    // The test lifts the handset once the line rings.
    std::unique_ptr<Sipp> LlamaYDescuelga(const std::string& sEscenario) {
        auto sipp = Llama(sEscenario);
        p.placa->Descuelga(kTelefono);
        // The hardware layer watches the handset only 20 s after its start.
        EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: Pasa a Conv (1)", 40000));
        EXPECT_FALSE(Suena());
        EXPECT_TRUE(EnAgente("V,H00,2311,TLF-01:IF=2|DS=TLF-REMOTO:", 10000));
        return sipp;
    }
    // The end of the call reached the agent, with its duration in seconds.
    void FinRegistrado() { EXPECT_TRUE(EnAgente("V,H00,2312,TLF-01:IF=2|DS=TLF-REMOTO|DL=00000", 10000)); }

    pruebas_proceso::CProcesoHijo agente;
    CPlaca p;
};

// The handset goes down as soon as the line has answered, while the answer may still be on its
// way to SIP: the caller gets its 200 OK, then the BYE.
TEST_F(Telefono, HandsetDownAsSoonAsTheLineAnswersGivesTheCaller200AndBye) {
    ASSERT_NO_FATAL_FAILURE(Arranca());
    auto sipp = Llama("uac_linea_cuelga.xml");
    p.placa->Descuelga(kTelefono);
    // The hardware layer watches the handset only 20 s after its start. Polled finely: the
    // answer reaches SIP within milliseconds.
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(40);
    bool bConv = false;
    while (!(bConv = CPlaca::LogRecurso(kTelefono).find("CENTTLF[1]: Pasa a Conv (1)") != std::string::npos) &&
           std::chrono::steady_clock::now() < fin)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    p.placa->Cuelga(kTelefono);
    EXPECT_TRUE(bConv);
    EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    EXPECT_TRUE(EnAgente("V,H00,2311,TLF-01:IF=2|DS=TLF-REMOTO:", 10000));
    FinRegistrado();
}

TEST_F(Telefono, HandsetDownAfterTheAckSendsByeAndTheCallIsRecorded) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    auto sipp = LlamaYDescuelga("uac_linea_cuelga.xml");
    ASSERT_TRUE(CPlaca::NucleoDice("CSUPEREC[1]: Traplic_ACK", 10000));
    p.placa->Cuelga(kTelefono);
    EXPECT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    FinRegistrado();
}

TEST_F(Telefono, CallerByeEndsTheCallAndTheCallIsRecorded) {
    SOLO_EN_E2E();
    ASSERT_NO_FATAL_FAILURE(Arranca());
    auto sipp = LlamaYDescuelga("uac_linea_bye.xml");
    ASSERT_EQ(sipp->Espera(30000), 0) << sipp->Log();
    FinRegistrado();
    // Hang-up tone on the line until its handset goes down.
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "FIN llamada 3", 10000));
    p.placa->Cuelga(kTelefono);
    EXPECT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]: bucle Abierto(1)", 10000));
}

}  // namespace
