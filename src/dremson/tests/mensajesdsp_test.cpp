// The host-DSP message catalogue as it crosses /dev/hpidsp: every command's bytes and driver
// count as the simulated DSP received them, and every event's decoding from the bytes the
// DSP sent, short and over-long ones included.
#include <functional>

#include "dsppruebas.h"

using namespace dsppruebas;

namespace {

const int32_t kConfigLcen[22] = {-10, -50, 20, 100, 20, 1000, 40, 40, 160, 60, 100,
                                 5000, 6000, 80, 150, 40, 60, 20, 130, 20, 130, 200};

std::string Hex(const std::vector<int>& v) {
    std::string s;
    char ac[4];
    for (int b : v) {
        snprintf(ac, sizeof(ac), "%02x", b & 0xFF);
        s += (s.empty() ? "" : " ") + std::string(ac);
    }
    return s;
}

const uint8_t* U(const char* sz) { return reinterpret_cast<const uint8_t*>(sz); }

struct CasoComando {
    const char* szNombre;
    std::function<int(CMasterDsp&)> fn;
    const char* szEsperado;  // driver count, then the message bytes
};

std::string LineaLcen() {
    std::vector<int> v = {0x2c, 0x01, 0x03, 0x00};
    for (int32_t x : kConfigLcen) {
        v.push_back(x & 0xFF);
        v.push_back((x >> 8) & 0xFF);
    }
    return "52: " + Hex(v);
}

TEST_F(PlacaDsp, EveryCommandWritesItsBytesWithItsCount) {
    Arranque();
    const std::string sLcen = LineaLcen();
    const CasoComando kCasos[] = {
        {"ArrancaRecurso", [](CMasterDsp& m) { return m.ArrancaRecurso(3); }, "8: 03 00 03 00"},
        {"TomaCanalIfTx", [](CMasterDsp& m) { return m.TomaCanalIfTx(3, 17); }, "9: 05 00 03 00 11"},
        {"TomaCanalIfRx", [](CMasterDsp& m) { return m.TomaCanalIfRx(3, 18); }, "9: 06 00 03 00 12"},
        {"TomaCanalHostTx", [](CMasterDsp& m) { return m.TomaCanalHostTx(3, 19); }, "9: 07 00 03 00 13"},
        {"TomaCanalHostRx", [](CMasterDsp& m) { return m.TomaCanalHostRx(3, 20); }, "9: 08 00 03 00 14"},
        {"QuitaCanalHostRx", [](CMasterDsp& m) { return m.QuitaCanalHostRx(3, 1); }, "9: 09 00 03 00 01"},
        {"TomaCodecIfTx", [](CMasterDsp& m) { return m.TomaCodecIfTx(3, 8); }, "9: 0a 00 03 00 08"},
        {"TomaCodecIfRx", [](CMasterDsp& m) { return m.TomaCodecIfRx(3, 0); }, "9: 0b 00 03 00 00"},
        {"TomaCodecHostTx", [](CMasterDsp& m) { return m.TomaCodecHostTx(3, 8); }, "9: 0c 00 03 00 08"},
        {"TomaCodecHostRx", [](CMasterDsp& m) { return m.TomaCodecHostRx(3, 9); }, "9: 0d 00 03 00 09"},
        {"TomaProtocolo", [](CMasterDsp& m) { return m.TomaProtocolo(3, 5); }, "9: 10 01 03 00 05"},
        {"SelecCagRx", [](CMasterDsp& m) { return m.SelecCagRx(3, 1, 2); }, "10: 11 01 03 00 01 02"},
        {"SelecCagTx", [](CMasterDsp& m) { return m.SelecCagTx(3, 3, 4); }, "10: 12 01 03 00 03 04"},
        {"SelecVoxRx", [](CMasterDsp& m) { return m.SelecVoxRx(3, 1, 40); }, "10: 13 01 03 00 01 28"},
        {"SelecVoxTx", [](CMasterDsp& m) { return m.SelecVoxTx(3, 0, 41); }, "10: 14 01 03 00 00 29"},
        {"SelecDetCallProgress", [](CMasterDsp& m) { return m.SelecDetCallProgress(3, 5, 6); }, "10: 15 01 03 00 05 06"},
        {"SelecDetDtmf", [](CMasterDsp& m) { return m.SelecDetDtmf(3, 1); }, "9: 16 01 03 00 01"},
        {"SelecDetCallerID", [](CMasterDsp& m) { return m.SelecDetCallerID(3, 7); }, "9: 17 01 03 00 07"},
        {"SelecBss", [](CMasterDsp& m) { return m.SelecBss(3, 1); }, "9: 18 01 03 00 01"},
        {"GeneraSecuenciaTonosTx", [](CMasterDsp& m) { return m.GeneraSecuenciaTonosTx(3, 2, 30); }, "10: 19 01 03 00 02 1e"},
        {"GeneraTonoCallProgRx", [](CMasterDsp& m) { return m.GeneraTonoCallProgRx(3, 3, 5); }, "10: 1a 01 03 00 03 05"},
        {"MarcaDtmf", [](CMasterDsp& m) { return m.MarcaDtmf(3, U("123"), 3); }, "12: 1b 01 03 00 03 31 32 33"},
        {"MarcaSelcal", [](CMasterDsp& m) { return m.MarcaSelcal(3, U("AB"), 2); }, "11: 1c 01 03 00 02 41 42"},
        {"MarcaCcir", [](CMasterDsp& m) { return m.MarcaCcir(3, U("9"), 1); }, "10: 1d 01 03 00 01 39"},
        {"SelecCancelEcoTx", [](CMasterDsp& m) { return m.SelecCancelEcoTx(3, 1); }, "9: 1e 01 03 00 01"},
        {"SelecCancelEcoRx", [](CMasterDsp& m) { return m.SelecCancelEcoRx(3, 0); }, "9: 1f 01 03 00 00"},
        {"Descuelga", [](CMasterDsp& m) { return m.Descuelga(3); }, "8: 20 01 03 00"},
        {"Llama", [](CMasterDsp& m) { return m.Llama(3, 2, U("1234"), 4, U("56789"), 5); },
         "20: 21 01 03 00 02 04 05 31 32 33 34 35 36 37 38 39"},
        {"Bloquea", [](CMasterDsp& m) { return m.Bloquea(3); }, "8: 22 01 03 00"},
        {"Libera", [](CMasterDsp& m) { return m.Libera(3); }, "8: 23 01 03 00"},
        {"RespondeLibre", [](CMasterDsp& m) { return m.RespondeLibre(3); }, "8: 24 01 03 00"},
        {"RespondeOcupado", [](CMasterDsp& m) { return m.RespondeOcupado(3); }, "8: 25 01 03 00"},
        {"RespondeCongestion", [](CMasterDsp& m) { return m.RespondeCongestion(3); }, "8: 26 01 03 00"},
        {"RespondeFueraDeServicio", [](CMasterDsp& m) { return m.RespondeFueraDeServicio(3); }, "8: 27 01 03 00"},
        {"IntervencionPrioridad", [](CMasterDsp& m) { return m.IntervencionPrioridad(3, 1, U("12"), 2, U("345"), 3, 5); },
         "17: 28 01 03 00 01 02 03 31 32 33 34 35 05"},
        {"FinIntervencion", [](CMasterDsp& m) { return m.FinIntervencion(3); }, "8: 29 01 03 00"},
        {"Aparca", [](CMasterDsp& m) { return m.Aparca(3); }, "8: 2a 01 03 00"},
        {"Desaparca", [](CMasterDsp& m) { return m.Desaparca(3); }, "8: 2b 01 03 00"},
        {"TomaConfigLCEN", [](CMasterDsp& m) { return m.TomaConfigLCEN(3, kConfigLcen); }, sLcen.c_str()},
        {"SelecBucle", [](CMasterDsp& m) { return m.SelecBucle(3, -3, 10, 7); }, "11: 30 01 03 00 fd 0a 07"},
        {"LiberaRecurso", [](CMasterDsp& m) { return m.LiberaRecurso(3); }, "8: 04 00 03 00"},
        {"canal de 16 bits", [](CMasterDsp& m) { return m.Libera(0x1234); }, "8: 23 01 34 12"},
    };
    for (const CasoComando& c : kCasos) {
        SCOPED_TRACE(c.szNombre);
        placa->Dsp("borra");
        EXPECT_EQ(c.fn(master), 0);
        EXPECT_EQ(LineasDe("comandos"), std::vector<std::string>{c.szEsperado});
    }
}

TEST_F(PlacaDsp, CommandsWithoutAMessageAndCommandsWhileTheLinkIsDown) {
    Arranque();
    placa->Dsp("borra");
    const int32_t aiBloque[2] = {1, 2};
    EXPECT_EQ(master.TomaConfigR2(3, aiBloque), CMasterDsp::ERR_DISPOSITIVO);
    EXPECT_EQ(master.TomaConfigN5(3, aiBloque), CMasterDsp::ERR_DISPOSITIVO);
    EXPECT_TRUE(LineasDe("comandos").empty());
    // The fall greets the DSP: the hello is written whatever the link state.
    master.FuerzaCaida(Reloj());
    EXPECT_EQ(LineasDe("comandos"), std::vector<std::string>{"8: 01 00 00 00"});
    placa->Dsp("borra");
    EXPECT_EQ(master.Descuelga(3), CMasterDsp::ERR_ENLACE_CAIDO);
    EXPECT_EQ(master.MarcaDtmf(3, U("1"), 1), CMasterDsp::ERR_ENLACE_CAIDO);
    EXPECT_EQ(master.TomaConfigLCEN(3, kConfigLcen), CMasterDsp::ERR_ENLACE_CAIDO);
    EXPECT_EQ(master.TomaConfigR2(3, aiBloque), CMasterDsp::ERR_ENLACE_CAIDO);
    EXPECT_TRUE(LineasDe("comandos").empty());
}

struct CasoRecorte {
    const char* szNombre;
    std::function<int(CMasterDsp&, const uint8_t*)> fn;
    std::vector<int> cabecera;  // the message's first bytes; digits follow, then maybe a value
    int iDigitos;
    const char* szLog;
};

TEST_F(PlacaDsp, DigitsBeyondOneMessageAreCutOffAndLogged) {
    Arranque();
    std::string sDigitos(100, '7');
    const uint8_t* p = U(sDigitos.c_str());
    const CasoRecorte kCasos[] = {
        {"MarcaDtmf 70", [](CMasterDsp& m, const uint8_t* d) { return m.MarcaDtmf(2, d, 70); },
         {0x1b, 0x01, 0x02, 0x00, 59}, 59, "MarcaDtmf con 70 digitos; se envian 59"},
        {"MarcaCcir 59", [](CMasterDsp& m, const uint8_t* d) { return m.MarcaCcir(2, d, 59); },
         {0x1d, 0x01, 0x02, 0x00, 59}, 59, nullptr},
        {"MarcaDtmf -4", [](CMasterDsp& m, const uint8_t* d) { return m.MarcaDtmf(2, d, -4); },
         {0x1b, 0x01, 0x02, 0x00, 0}, 0, nullptr},
        {"Llama 40+40", [](CMasterDsp& m, const uint8_t* d) { return m.Llama(2, 1, d, 40, d, 40); },
         {0x21, 0x01, 0x02, 0x00, 1, 17, 40}, 57, "Llama con 40+40 digitos; se envian 17+40"},
        {"Llama 0+90", [](CMasterDsp& m, const uint8_t* d) { return m.Llama(2, 1, d, 0, d, 90); },
         {0x21, 0x01, 0x02, 0x00, 1, 0, 57}, 57, "Llama con 0+90 digitos; se envian 0+57"},
        {"IntervencionPrioridad 30+30",
         [](CMasterDsp& m, const uint8_t* d) { return m.IntervencionPrioridad(2, 1, d, 30, d, 30, 5); },
         {0x28, 0x01, 0x02, 0x00, 1, 26, 30}, 56, "IntervencionPrioridad con 30+30 digitos; se envian 26+30"},
    };
    for (const CasoRecorte& c : kCasos) {
        SCOPED_TRACE(c.szNombre);
        placa->Dsp("borra");
        BorraLineas();
        EXPECT_EQ(c.fn(master, p), 0);
        std::vector<int> v = c.cabecera;
        for (int i = 0; i < c.iDigitos; i++) v.push_back('7');
        if (c.cabecera[0] == 0x28) v.push_back(5);
        EXPECT_EQ(LineasDe("comandos"), std::vector<std::string>{std::to_string(v.size() + 4) + ": " + Hex(v)});
        EXPECT_EQ(CuentaLineas(c.szLog ? c.szLog : "digitos; se envian"), c.szLog ? 1 : 0);
    }
}

struct CasoEvento {
    const char* szBytes;                // as the DSP sends them (hex)
    std::vector<std::string> asEventos;  // what the service receives
    const char* szLinea;                // a log or trace line it must write, if any
};

TEST_F(PlacaDsp, EveryEventIsDecodedAndShortOnesAreDropped) {
    Arranque();
    const CasoEvento kCasos[] = {
        {"10 80 05 00 35 07", {"DigitoDtmf(0,5,53,7)"}, "DREMSON[5]: DSPRK82_EVT_DTMF"},
        {"11 80 05 00", {}, "DREMSON[5]: DSPRK82_EVT_SELCAL"},
        {"12 80 05 00", {}, "DREMSON[5]: DSPRK82_EVT_CALLER_ID"},
        {"13 80 05 00 ff 80", {"VoxTx(0,5,255,128)"}, "DSPRK82_EVT_VAD_TX"},
        {"14 80 05 00 01 00", {"VoxRx(0,5,1,0)"}, "DSPRK82_EVT_VAD_RX"},
        {"15 80 05 00", {}, "DREMSON[5]: DSPRK82_EVT_CALL_PROGRESS"},
        {"16 80 05 00 09", {"DspEvento84(0,5,9)"}, nullptr},
        {"17 80 05 00", {}, "DREMSON[5]: DSPRK82_EVT_ERROR_INTERNO"},
        {"18 80 05 00 01 02 03 04", {"Bucle(0,5,1,2,3,4)"}, "DREMSON[5]:DSPRK82_EVT_BUCLE: 1 2 3 4 "},
        {"19 80 05 00 01 02 03 04 ff", {}, "DREMSON[5]:LOG: 1 2 3 4 255"},
        {"20 80 05 00", {"Reposo(0,5)"}, "DSPRK82_EVT_REPOSO"},
        {"21 80 05 00", {"LlamadoLibre(0,5)"}, "DSPRK82_EVT_LIBRE"},
        {"22 80 05 00", {"LlamadoOcupado(0,5)"}, "DSPRK82_EVT_OCUPADO"},
        {"23 80 05 00 02 02 03 31 32 33 34 35", {"LlamadaEntrante(0,5,2)[12][345]"}, "DSPRK82_EVT_LLAMADA_ENTRANTE"},
        {"23 80 05 00 04 00 00", {"LlamadaEntrante(0,5,4)[][]"}, nullptr},
        {"24 80 05 00 07", {"LlamadaLiberada(0,5,7)"}, "DSPRK82_EVT_LIBERADA"},
        {"24 80 05 00 03", {"ConversacionInterrumpida(0,5)"}, nullptr},
        {"25 80 05 00", {"Congestion(0,5)"}, "DSPRK82_EVT_CONGESTION"},
        {"26 80 05 00", {"FueraServicio(0,5)"}, "DSPRK82_EVT_FUERA_DE_SERVICIO"},
        {"27 80 05 00", {"ConversacionInterrumpida(0,5)"}, "DSPRK82_EVT_CONVERS_INTERRUMPIDA"},
        {"28 80 05 00", {"LineaBloqueada(0,5)"}, "DSPRK82_EVT_LINEA_BLOQUEADA"},
        {"29 80 05 00", {"Timeout(0,5)"}, "DSPRK82_EVT_TIMEOUT"},
        {"2a 80 05 00", {"ErrorProtocolo(0,5)"}, "DSPRK82_EVT_ERROR_PROTOCOLO"},
        {"2b 80 05 00", {}, "DREMSON[5]: DSPRK82_EVT_TOMA_DE_LINEA"},
        {"2c 80 05 00", {"LlamadoDescuelga(0,5)"}, "DSPRK82_EVT_LLAMADO_DESCUELGA"},
        // Channel and values unsigned; bytes past an event's fields are ignored.
        {"10 80 ff ff 31 00 aa bb", {"DigitoDtmf(0,65535,49,0)"}, nullptr},
        {"23 80 01 00 09 01 01 37 38 aa bb", {"LlamadaEntrante(0,1,9)[7][8]"}, nullptr},
        // Unknown codes of either group; the command-error event family answers probes only.
        {"30 80 05 00", {}, "DREMSON[5]: RX MENSAJE DESCONOCIDO 8030 <<<<"},
        {"1a 80 05 00", {}, "DREMSON[5]: RX MENSAJE DESCONOCIDO 801A <<<<"},
        {"2d 80 05 00", {}, "DREMSON[5]: RX MENSAJE DESCONOCIDO 802D <<<<"},
        {"40 80 05 00", {}, nullptr},
        {"00 80 11 00", {}, nullptr},
        {"05 00 05 00 01", {}, nullptr},
        // Short events: dropped whole, never read past their end.
        {"10 80 05 00 35", {}, "evento 8010 de 5 bytes, necesita 6; se descarta"},
        {"16 80 05 00", {}, "evento 8016 de 4 bytes, necesita 5; se descarta"},
        {"18 80 05 00 01 02 03", {}, "evento 8018 de 7 bytes, necesita 8; se descarta"},
        {"19 80 05 00 01 02 03 04", {}, "evento 8019 de 8 bytes, necesita 9; se descarta"},
        {"23 80 05 00 02 04 05 31 32", {}, "evento 8023 de 9 bytes, necesita 16; se descarta"},
        {"23 80 05 00 02", {}, "evento 8023 de 5 bytes, necesita 7; se descarta"},
        {"24 80 05 00", {}, "evento 8024 de 4 bytes, necesita 5; se descarta"},
        // The link's size filter: 3 and 65 bytes never reach the catalogue.
        {"10 80 05", {}, nullptr},
    };
    for (const CasoEvento& c : kCasos) {
        SCOPED_TRACE(c.szBytes);
        // A long message first, so stale bytes would lie where a short event's fields end.
        placa->Dsp("crudo 23 80 05 00 01 04 04 31 31 31 31 32 32 32 32 aa aa aa aa aa aa");
        Vacia();
        receptor.Toma();
        BorraLineas();
        placa->Dsp(std::string("crudo ") + c.szBytes);
        Vacia();
        EXPECT_EQ(receptor.Toma(), c.asEventos);
        if (c.szLinea) {
            EXPECT_EQ(CuentaLineas(c.szLinea), 1);
        }
    }
}

TEST_F(PlacaDsp, SixtyFourByteEventIsTakenSixtyFiveIsNot) {
    Arranque();
    std::string s64 = "10 80 05 00 35 07";
    for (int i = 6; i < 64; i++) s64 += " 00";
    placa->Dsp("crudo " + s64);
    placa->Dsp("crudo " + s64 + " 00");
    Vacia();
    EXPECT_EQ(receptor.Toma(), std::vector<std::string>{"DigitoDtmf(0,5,53,7)"});
}

TEST_F(PlacaDsp, EventsOfTheBoardsControlCommandReachTheService) {
    Arranque();
    placa->Dsp("evento 4 entrante 1 5551 2002");
    placa->Dsp("evento 4 liberada 16");
    placa->Dsp("evento 4 n5 2");
    placa->Dsp("evento 4 dtmf 35 0");
    Vacia();
    EXPECT_EQ(receptor.Toma(), (std::vector<std::string>{"LlamadaEntrante(0,4,1)[5551][2002]", "LlamadaLiberada(0,4,16)",
                                                        "DspEvento84(0,4,2)", "DigitoDtmf(0,4,35,0)"}));
    EXPECT_THROW(placa->Dsp("evento 4 dtmf 1"), std::runtime_error);
    EXPECT_THROW(placa->Dsp("evento 4 no_existe"), std::runtime_error);
}

}  // namespace
