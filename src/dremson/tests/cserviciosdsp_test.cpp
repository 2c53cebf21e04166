// The DSP service's channel table, command wrappers, event forwarding and resource channels,
// driven through the real queues by made-up resource processes against the simulated DSP.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "recurso_parado.h"
#include "serviciopruebas.h"

using namespace serviciopruebas;

namespace {

std::string Hex(std::initializer_list<int> v) {
    std::string s;
    char ac[4];
    for (int b : v) {
        std::snprintf(ac, sizeof(ac), "%02x", b & 0xFF);
        s += (s.empty() ? "" : " ") + std::string(ac);
    }
    return s;
}

TEST_F(ServicioDsp, GrantsSixteenChannelsRefusesTheSeventeenthAndReusesTheLowestFreed) {
    CRecurso a(50001);
    std::vector<int32_t> ids;
    for (int i = 0; i < 16; i++) {
        int32_t id = a.Pide();
        ASSERT_GE(id, 0) << "request " << i;
        ids.push_back(id);
    }
    EXPECT_EQ(a.Pide(), -1);
    EXPECT_EQ(oDremson.RecursosEnUso(), 16);
    EXPECT_EQ(Asignados(), std::vector<bool>(16, true));

    a->EnviaLiberaRecurso(ids[5]);
    ASSERT_TRUE(EsperaComando("8: " + Hex({0x04, 0x00, 5, 0})));
    a->EnviaLiberaRecurso(ids[9]);
    ASSERT_TRUE(EsperaComando("8: " + Hex({0x04, 0x00, 9, 0})));
    placa->Dsp("borra");
    int32_t id = a.Pide();
    ASSERT_GE(id, 0);
    // The new resource sits on channel 5: its commands go there.
    a->EnviaTomaProtocolo(id, 0);
    EXPECT_TRUE(EsperaComando("9: " + Hex({0x10, 0x01, 5, 0, 0})));
    EXPECT_EQ(oDremson.RecursosEnUso(), 15);
}

TEST_F(ServicioDsp, SilentResourceProcessHoldingTwoChannelsLosesBothAndItsChannel) {
    CRecurso a(50001), b(50002), c(50003);
    // Heartbeats every tick: each end's silence limit on the service side becomes 3 ticks.
    for (CRecurso* r : {&a, &b, &c}) (*r)->FijaLatido(1, nullptr);
    int32_t a0 = a.Pide(), a1 = a.Pide(), b0 = b.Pide(), c0 = c.Pide();
    ASSERT_TRUE(a0 >= 0 && a1 >= 0 && b0 >= 0 && c0 >= 0);
    // c gives its channel back: it dies holding none.
    c->EnviaLiberaRecurso(c0);
    ASSERT_TRUE(EsperaComando("8: " + Hex({0x04, 0x00, 3, 0})));
    ASSERT_EQ(IpcDremson::NumCanales(), 3);
    placa->Dsp("borra");

    // a and c fall silent; b goes on beating, each beat handled before the service's tick
    // (a request behind it on the same channel shows it was).
    for (int i = 0; i < 6 && IpcDremson::NumCanales() > 1; i++) {
        b->Temporiza(1);
        b->EnviaTomaCanalIfTx(b0, i);
        ASSERT_TRUE(EsperaComando("9: " + Hex({0x05, 0x00, 2, 0, i})));
        IpcDremson::Temporiza();
    }
    EXPECT_EQ(IpcDremson::NumCanales(), 1);
    EXPECT_EQ(IpcDremson::BuscaPid(a.iPid), -1);
    EXPECT_EQ(IpcDremson::BuscaPid(c.iPid), -1);
    EXPECT_GE(IpcDremson::BuscaPid(b.iPid), 0);
    EXPECT_TRUE(EsperaComando("8: " + Hex({0x04, 0x00, 0, 0})));
    EXPECT_TRUE(EsperaComando("8: " + Hex({0x04, 0x00, 1, 0})));
    EXPECT_EQ(oDremson.RecursosEnUso(), 1);
    EXPECT_EQ(Asignados(), (std::vector<bool>{false, false, true, false, false, false, false, false, false, false,
                                              false, false, false, false, false, false}));
    // Further ticks do not touch the closed channels again; b's channel still works.
    IpcDremson::Temporiza();
    b->EnviaTomaProtocolo(b0, 1);
    EXPECT_TRUE(EsperaComando("9: " + Hex({0x10, 0x01, 2, 0, 1})));
    // The freed channels are the lowest again.
    a->EnviaTomaProtocolo(a0, 1);  // from a pid without a channel: dropped
    CRecurso d(50004);
    int32_t d0 = d.Pide();
    ASSERT_GE(d0, 0);
    d->EnviaTomaProtocolo(d0, 3);
    EXPECT_TRUE(EsperaComando("9: " + Hex({0x10, 0x01, 0, 0, 3})));
    EXPECT_FALSE(EsperaComando("9: " + Hex({0x10, 0x01, 0, 0, 1}), 200));
}

struct CasoEvento {
    const char* szEvento;  // "dsp evento <channel> " + this
    const char* szRecibido;  // what the owner receives after its resource id, "" for nothing
};

TEST_F(ServicioDsp, EveryDspEventReachesTheOwningProcessWithItsCodeAndPayload) {
    CRecurso a(50001), b(50002);
    int32_t a0 = a.Pide(), b1 = b.Pide();
    ASSERT_TRUE(a0 >= 0 && b1 >= 0);
    Toma();
    const CasoEvento casos[] = {
        {"dtmf 5 7", "Dtmf(#,5,7)"},
        {"voxtx 1 9", "VoxTx(#,1,9)"},
        {"voxrx 0 3", "VoxRx(#,0,3)"},
        {"n5 6", "Evento84(#,6)"},
        {"bucle 1 2 3 4", "Bucle(#,33751040,4)"},  // 2 and 3 in the two high bytes; 1 is dropped
        {"reposo", "Reposo(#)"},
        {"libre", "LlamadoLibre(#)"},
        {"ocupado", "LlamadoOcupado(#)"},
        {"entrante 3 1234 567", "Entrante(#,3)1234/567"},
        {"entrante 1 - 89", "Entrante(#,1)/89"},
        {"liberada 4", "Liberada(#,4)"},
        {"liberada 3", "Interrumpida(#)"},
        {"interrumpida", "Interrumpida(#)"},
        {"congestion", "Congestion(#)"},
        {"fuera", "FueraServicio(#)"},
        {"bloqueada", "Bloqueada(#)"},
        {"timeout", "Timeout(#)"},
        {"errorprotocolo", "ErrorProtocolo(#)"},
        {"descuelga", "Descuelga(#)"},
        {"selcal", ""},
        {"callerid", ""},
        {"callprogress", ""},
        {"errorinterno", ""},
        {"tomalinea", ""},
    };
    // Each owner's messages, in order (the two processes receive on threads of their own).
    std::vector<std::string> esperados[2];
    for (const CasoEvento& c : casos) {
        for (int iCanal : {0, 1}) {
            placa->Dsp("evento " + std::to_string(iCanal) + " " + c.szEvento);
            std::string s = c.szRecibido;
            if (s.empty()) continue;
            s.replace(s.find('#'), 1, std::to_string(iCanal == 0 ? a0 : b1));
            esperados[iCanal].push_back(s);
        }
    }
    // Nowhere to go: a free channel, channels 16 and 0xFFFF (raw: code, channel, digit, value).
    placa->Dsp("evento 2 dtmf 1 1");
    placa->Dsp("crudo 10 80 10 00 01 01");
    placa->Dsp("crudo 10 80 ff ff 01 01");
    placa->Dsp("crudo 20 80 10 00");
    // The last ones: everything before them has been handled.
    placa->Dsp("evento 0 dtmf 9 9");
    placa->Dsp("evento 1 dtmf 9 9");
    esperados[0].push_back(T("Dtmf", {a0, 9, 9}));
    esperados[1].push_back(T("Dtmf", {b1, 9, 9}));
    ASSERT_TRUE(EsperaMensaje(T("Dtmf", {a0, 9, 9})));
    ASSERT_TRUE(EsperaMensaje(T("Dtmf", {b1, 9, 9})));
    std::vector<std::string> recibidos[2];
    for (const std::string& m : Toma()) recibidos[m.find(std::to_string(a0)) != std::string::npos ? 0 : 1].push_back(m);
    EXPECT_EQ(recibidos[0], esperados[0]);
    EXPECT_EQ(recibidos[1], esperados[1]);
    EXPECT_EQ(oDremson.RecursosEnUso(), 2);
}

TEST_F(ServicioDsp, ResourceRequestsReachTheDspOnTheResourcesChannelAsCommands) {
    CRecurso a(50001);
    int32_t a0 = a.Pide(), a1 = a.Pide();
    ASSERT_TRUE(a0 >= 0 && a1 >= 0);
    const uint8_t aucDigitos[3] = {1, 2, 3};
    int32_t aiLcen[22];
    for (int i = 0; i < 22; i++) aiLcen[i] = i == 0 ? -10 : 1000 + i;
    std::string sLcen = "52: " + Hex({0x2c, 0x01, 1, 0});
    for (int i = 0; i < 22; i++) sLcen += " " + Hex({aiLcen[i], aiLcen[i] >> 8});
    struct {
        std::function<void()> fEnvia;
        std::string sComando;
    } casos[] = {
        {[&] { a->EnviaTomaCanalIfTx(a1, 7); }, "9: " + Hex({0x05, 0, 1, 0, 7})},
        {[&] { a->EnviaTomaCanalHostRx(a1, 8); }, "9: " + Hex({0x08, 0, 1, 0, 8})},
        {[&] { a->EnviaTomaCodecHostRx(a1, 2); }, "9: " + Hex({0x0d, 0, 1, 0, 2})},
        {[&] { a->EnviaSelecCagTx(a1, 3, 4); }, "10: " + Hex({0x12, 0x01, 1, 0, 3, 4})},
        {[&] { a->EnviaSelecVoxRx(a1, 1, 9); }, "10: " + Hex({0x13, 0x01, 1, 0, 1, 9})},
        {[&] { a->EnviaSelecBss(a1, 1); }, "9: " + Hex({0x18, 0x01, 1, 0, 1})},
        {[&] { a->EnviaGeneraSecuenciaTonosRx(a1, 2, 5); }, "10: " + Hex({0x1a, 0x01, 1, 0, 2, 5})},
        {[&] { a->EnviaMarcaDtmf(a1, aucDigitos, 3); }, "12: " + Hex({0x1b, 0x01, 1, 0, 3, 1, 2, 3})},
        {[&] { a->EnviaSelecCancelEcoTx(a1, 1); }, "9: " + Hex({0x1e, 0x01, 1, 0, 1})},
        // Level -10 in the top byte, duration 5 in the next, then the frequency.
        {[&] { a->EnviaAnalizaBucle(a1, static_cast<int32_t>(0xF6050000u), 9); },
         "11: " + Hex({0x30, 0x01, 1, 0, 0xf6, 5, 9})},
        {[&] { a->EnviaLlama(a1, 2, "12", 2, "345", 3); },
         "16: " + Hex({0x21, 0x01, 1, 0, 2, 2, 3, '1', '2', '3', '4', '5'})},
        {[&] { a->EnviaIntervencionPrioridad(a1, 1, "9", 1, "8", 1, 5); },
         "14: " + Hex({0x28, 0x01, 1, 0, 1, 1, 1, '9', '8', 5})},
        {[&] { a->EnviaDescuelga(a1); }, "8: " + Hex({0x20, 0x01, 1, 0})},
        {[&] { a->EnviaRespondeCongestion(a1); }, "8: " + Hex({0x26, 0x01, 1, 0})},
        {[&] { a->EnviaFinIntervencion(a1); }, "8: " + Hex({0x29, 0x01, 1, 0})},
        {[&] { a->EnviaBloqueaLinea(a1); }, "8: " + Hex({0x22, 0x01, 1, 0})},
        {[&] { a->EnviaTomaConfigLCEN(a1, aiLcen); }, sLcen},
    };
    for (auto& c : casos) {
        placa->Dsp("borra");
        c.fEnvia();
        EXPECT_TRUE(EsperaComando(c.sComando)) << c.sComando;
    }
    // Requests for a resource id no channel holds send nothing.
    placa->Dsp("borra");
    a->EnviaTomaCanalIfTx(a0 + 77, 7);
    a->EnviaDescuelga(a0);
    EXPECT_TRUE(EsperaComando("8: " + Hex({0x20, 0x01, 0, 0})));
    EXPECT_EQ(Lineas("comandos"), std::vector<std::string>{"8: " + Hex({0x20, 0x01, 0, 0})});
}

TEST_F(ServicioDsp, LinkLossFreesEveryChannelTellsTheOwnersAndTheCoreAndTheLinkComesBack) {
    CRecurso a(50001), b(50002);
    int32_t a0 = a.Pide(), a1 = a.Pide(), b0 = b.Pide();
    ASSERT_TRUE(a0 >= 0 && a1 >= 0 && b0 >= 0);
    placa->Dsp("silencio 1");
    EXPECT_TRUE(EsperaMensaje("EstadoDsp(3,0)"));
    EXPECT_TRUE(EsperaMensaje(T("Libera", {a0})));
    EXPECT_TRUE(EsperaMensaje(T("Libera", {a1})));
    EXPECT_TRUE(EsperaMensaje(T("Libera", {b0})));
    EXPECT_EQ(oDremson.RecursosEnUso(), 0);
    // A request while the DSP is down is refused and told.
    int32_t id = -1;
    a->EnviaArrancaRecursoId(0, &id);
    EXPECT_TRUE(EsperaMensaje(T("Libera", {id})));
    // The supervision resets the hung DSP; it boots again and serves requests.
    EXPECT_TRUE(EsperaMensaje("EstadoDsp(3,1)", 1, 10000));
    EXPECT_GE(a.Pide(), 0);
}

// A request caught by the fall of the link is refused, and the refusal leaves no channel
// taken behind it (the requester drops its id on the refusal).
TEST_F(ServicioDsp, ChannelRequestsRacingLinkFallsLeaveNoChannelTaken) {
    std::atomic<bool> bFin{false};
    std::atomic<int> iConcedidos{0}, iRechazados{0};
    std::thread t([&] {
        for (int32_t id = 1; !bFin; id++) {
            if (oDremson.ArrancaRecurso(id, 0, nullptr) == 0) {
                oDremson.LiberaRecurso(id);
                iConcedidos++;
            } else {
                iRechazados++;
            }
        }
    });
    for (int i = 0; i < 3; i++) {
        Toma();
        placa->Dsp("silencio 1");
        ASSERT_TRUE(EsperaMensaje("EstadoDsp(3,0)", 1, 5000));
        ASSERT_TRUE(EsperaMensaje("EstadoDsp(3,1)", 1, 10000));
    }
    bFin = true;
    t.join();
    EXPECT_GT(iConcedidos.load(), 0);
    EXPECT_GT(iRechazados.load(), 0);
    EXPECT_EQ(oDremson.RecursosEnUso(), 0);
    EXPECT_EQ(Asignados(), std::vector<bool>(16, false));
}

TEST_F(ServicioDsp, IncomingCallIsAnsweredByTheChannelsAutomaticAnswer) {
    CRecurso a(50001);
    int32_t a0 = a.Pide(), a1 = a.Pide();
    ASSERT_TRUE(a0 >= 0 && a1 >= 0);
    // Busy set beforehand: the owner hears of the call and the DSP gets the busy answer.
    ASSERT_EQ(oDremson.SelecRespuesta(a0, CServiciosDsp::RESPUESTA_OCUPADO), 0);
    placa->Dsp("borra");
    placa->Dsp("evento 0 entrante 2 11 22");
    EXPECT_TRUE(EsperaMensaje(T("Entrante", {a0, 2}) + "11/22"));
    EXPECT_TRUE(EsperaComando("8: " + Hex({0x25, 0x01, 0, 0})));
    // No answer set: the call waits until one is chosen.
    placa->Dsp("borra");
    placa->Dsp("evento 1 entrante 1 33 44");
    ASSERT_TRUE(EsperaMensaje(T("Entrante", {a1, 1}) + "33/44"));
    EXPECT_EQ(oDremson.SelecRespuesta(a1, 7), 0);  // no such answer: stored as none, the call still waits
    EXPECT_EQ(oDremson.SelecRespuesta(a1, CServiciosDsp::RESPUESTA_LIBRE), 0);
    EXPECT_TRUE(EsperaComando("8: " + Hex({0x24, 0x01, 1, 0})));
    // A call that ended before the answer is chosen gets none.
    oDremson.SelecRespuesta(a1, CServiciosDsp::RESPUESTA_NINGUNA);
    placa->Dsp("evento 1 entrante 1 33 44");
    placa->Dsp("evento 1 reposo");
    ASSERT_TRUE(EsperaMensaje(T("Reposo", {a1})));
    placa->Dsp("borra");
    EXPECT_EQ(oDremson.SelecRespuesta(a1, CServiciosDsp::RESPUESTA_LIBRE), 0);
    a->EnviaDescuelga(a1);
    ASSERT_TRUE(EsperaComando("8: " + Hex({0x20, 0x01, 1, 0})));
    EXPECT_EQ(Lineas("comandos"), std::vector<std::string>{"8: " + Hex({0x20, 0x01, 1, 0})});
    EXPECT_EQ(oDremson.SelecRespuesta(a1 + 1, 1), CServiciosDsp::ERR_RECURSO_DESCONOCIDO);
}

TEST_F(ServicioDsp, ChannelsOpenOnlyForAnnouncedProcessesOnceEach) {
    // The core announces: the same pid twice, and once as the resource end (mode 4).
    ipcrecEvtCreaCanalHermano(50001, COLA_HERMANO_SERVIDOR);
    ipcrecEvtCreaCanalHermano(50001, COLA_HERMANO_SERVIDOR);
    ipcrecEvtCreaCanalHermano(50002, COLA_HERMANO_CLIENTE);
    EXPECT_EQ(IpcDremson::NumCanales(), 1);
    EXPECT_EQ(IpcDremson::BuscaPid(50002), -1);
    CRecurso a(50001, false), ajeno(50002, false);
    int32_t id = -1;
    ajeno->EnviaArrancaRecursoId(0, &id);
    EXPECT_GE(a.Pide(), 0);
    EXPECT_FALSE(EsperaMensaje(T("Libera", {id}), 1, 300));
    EXPECT_EQ(Cuenta(T("Creado", {id})), 0);
    EXPECT_EQ(oDremson.RecursosEnUso(), 1);
}

// The core's announcements may race (a repeated announcement from its supervisor thread while
// its channel handler announces): one channel per process all the same.
TEST_F(ServicioDsp, RacingAnnouncementsOfTheSameProcessesOpenOneChannelEach) {
    std::vector<std::thread> v;
    for (int h = 0; h < 3; h++)
        v.emplace_back([] {
            for (int32_t pid = 51000; pid < 51020; pid++) IpcDremson::CreaCanal(pid);
        });
    for (auto& t : v) t.join();
    EXPECT_EQ(IpcDremson::NumCanales(), 20);
    std::vector<int> vEntradas;
    for (int32_t pid = 51000; pid < 51020; pid++) vEntradas.push_back(IpcDremson::BuscaPid(pid));
    std::sort(vEntradas.begin(), vEntradas.end());
    EXPECT_EQ(std::unique(vEntradas.begin(), vEntradas.end()), vEntradas.end());
    EXPECT_GE(vEntradas.front(), 0);
    EXPECT_EQ(IpcDremson::CreaCanal(51020 + IpcDremson::MAX_CANALES), 0);
    for (int32_t pid = 61000; pid < 61000 + IpcDremson::MAX_CANALES - 21; pid++) IpcDremson::CreaCanal(pid);
    EXPECT_EQ(IpcDremson::CreaCanal(70000), -2);  // a 41st process gets no channel
}

// A resource process declared dead while one of its requests is being handled: the request
// must not leave a DSP channel to the channel object freed right after. (scripts/e2e runs
// the same for longer.)
TEST_F(RecursoParado, ProcessStoppedAtItsSilenceLimitAndResumedLeavesNoChannelBehind) { Ciclos(300, 20); }

TEST_F(ServicioDsp, StartingTheDspTwiceIsRefused) {
    EXPECT_EQ(oDremson.NuevoDsp(3, 62, 63), CServiciosDsp::ERR_DSP_YA_ARRANCADO);
    EXPECT_EQ(oDremson.NumDsps(), 1);
    EXPECT_EQ(oDremson.LiberaRecurso(1234), CServiciosDsp::ERR_RECURSO_DESCONOCIDO);
}

}  // namespace
