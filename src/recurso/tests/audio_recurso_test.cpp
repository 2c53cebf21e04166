// Audio of a line through a real resource process: the test is the core on the real queue
// (session messages), the remote RTP end on loopback, and the line's PCM channel of the
// simulated board (injected and captured bytes, in the line's A-law).
#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "../../../ext/rtp/tests/capturatshark.h"
#include "csesionrtp.h"
#include "csimboard.h"
#include "proceso_recurso.h"
#include "rtp_pruebas.h"

namespace {

using namespace pruebas_recurso;
using std::chrono::milliseconds;

constexpr int REC = 3;
constexpr int CANAL_LINEA = 51;  // PCM channel of line module 3 (slot 48 + module)
constexpr uint16_t PUERTO_LOCAL = 5004;
constexpr uint16_t PUERTO_REMOTO = 7000;
constexpr int32_t NINGUNO = -1;
constexpr int32_t AMPLITUD = 8000;
constexpr uint16_t MAX_SESIONES = 15;
const char* const LINEA_CAPTURADA = "/mnt/ramfs/linea.pcm";

DireccionSesion Sesion(int32_t iTx, int32_t iRx, uint16_t uiLocal = PUERTO_LOCAL, uint16_t uiRemoto = PUERTO_REMOTO) {
    DireccionSesion s{};
    s.iPayloadForzado = iTx;
    s.iPayload = iRx;
    s.iPuertoLocal = uiLocal;
    std::strcpy(s.acDirRemota, "127.0.0.1");
    s.iPuertoRemoto = uiRemoto;
    return s;
}

// A cosine (its first sample at full amplitude, easy to find after silence) at 437 Hz.
std::vector<int32_t> Tono(int32_t n) {
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++)
        v[static_cast<size_t>(i)] = static_cast<int32_t>(std::lround(AMPLITUD * std::cos(2 * M_PI * 437.0 * i / 8000.0)));
    return v;
}

// Index of the first sample above half the amplitude, or -1.
long Inicio(const std::vector<int32_t>& v) {
    auto it = std::find_if(v.begin(), v.end(), [](int32_t x) { return std::abs(x) > AMPLITUD / 2; });
    return it == v.end() ? -1 : it - v.begin();
}

// G.711 keeps a sample within about 1/16 of its value (plus a step near zero); a law
// conversion on the way adds one more rounding.
bool Parecidas(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::abs(a[i] - b[i]) > std::abs(b[i]) / 8 + 64) return false;
    return true;
}

bool Contiene(const std::string& s, const std::vector<uint8_t>& v) {
    return s.find(std::string(v.begin(), v.end())) != std::string::npos;
}


int DescriptoresDe(pid_t iPid) {
    DIR* d = opendir(("/proc/" + std::to_string(iPid) + "/fd").c_str());
    if (!d) return -1;
    int n = 0;
    while (readdir(d)) ++n;
    closedir(d);
    return n;
}

long RssKbDe(pid_t iPid) {
    std::ifstream f("/proc/" + std::to_string(iPid) + "/status");
    std::string l;
    while (std::getline(f, l))
        if (l.compare(0, 6, "VmRSS:") == 0) return std::atol(l.c_str() + 6);
    return -1;
}

class AudioRecurso : public ::testing::Test {
protected:
    void SetUp() override {
        // In a sanitized build freed memory is held back for a while (quarantine): growth
        // must be the program's, not the checker's.
        const char* p = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", ((p && *p ? std::string(p) + ":" : "") + "quarantine_size_mb=0").c_str(), 1);
        ConfiguraLog();
        placa = simboard::CSimBoard::Arranca();
        ASSERT_TRUE(placa);
        hijo.Arranca("fonmira", REC, 0x803E);
        ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
        hijo.Configura(LineaTelefono());
        ASSERT_TRUE(hijo.LogContiene("FIN ArrancaHW(3)", 10000));
    }
    void TearDown() override {
        if (!HasFailure()) return;
        const std::string sLog = hijo.Log(), sTrazas = Buzon::Global().Trazas();
        std::printf("log (end):\n%s\ntrazas (end):\n%s\nsalida:\n%s\n", sLog.substr(sLog.size() - std::min<size_t>(sLog.size(), 4000)).c_str(),
                    sTrazas.substr(sTrazas.size() - std::min<size_t>(sTrazas.size(), 4000)).c_str(), CHijoRecurso::Salida().c_str());
    }
    bool Diagnostico(int iCodigo, int32_t id, int32_t iResultado, int iMs = 5000) {
        return EsperaQue([&] {
            for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
                if (m.a == iCodigo && m.b == id && m.c == iResultado) return true;
            return false;
        }, iMs);
    }
    // Opens a session and waits for its answer; the session id.
    int32_t Abre(const DireccionSesion& s, int32_t iResultado = 0) {
        int32_t id = -1;
        EXPECT_GE(hijo.Canal().EnviaNuevaSesionId(&s, &id), 0);
        EXPECT_TRUE(Diagnostico(15, id, iResultado)) << "session " << id;
        return id;
    }
    int32_t Modifica(int32_t id, int32_t iTx, int32_t iRx, int32_t iResultado) {
        DireccionSesion s = Sesion(iTx, iRx);
        EXPECT_GE(hijo.Canal().EnviaModificaSesion(id, &s), 0);
        return Diagnostico(16, id, iResultado);
    }
    // Sends the bytes as RTP from the peer, one 20 ms packet at a time at the real rate.
    static void EnviaPaquetes(prueba::Par& par, const std::vector<uint8_t>& v) {
        auto t = Reloj::now();
        for (size_t i = 0; i + 160 <= v.size(); i += 160) {
            par.SendPacket(v.data() + i, 160);
            t += milliseconds(20);
            std::this_thread::sleep_until(t);
        }
    }
    // Blocks of 160 bytes of v that the line has played intact since its capture began.
    static size_t BloquesOidos(const std::vector<uint8_t>& v) {
        const std::string s = ficheros_pruebas::LeeTodo(LINEA_CAPTURADA);
        size_t n = 0;
        for (size_t i = 0; i + 160 <= v.size(); i += 160)
            if (s.find(std::string(v.begin() + static_cast<long>(i), v.begin() + static_cast<long>(i + 160))) != std::string::npos) ++n;
        return n;
    }
    // Waits until the line has played at least half the blocks of v unchanged. Not all: on a
    // loaded machine a late pass may overflow the 40 ms the mixer holds, which drops samples.
    static bool LineaOye(const std::vector<uint8_t>& v, int iMs = 5000) {
        return EsperaQue([&] { return BloquesOidos(v) >= std::max<size_t>(1, v.size() / 160 / 2); }, iMs);
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CHijoRecurso hijo;
};

class LeyAudio : public AudioRecurso, public ::testing::WithParamInterface<int32_t> {
protected:
    bool LeyA() const { return GetParam() == CSesionRTP::PAYLOAD_PCMA; }
};

TEST_P(LeyAudio, SineOnTheLineLeavesAsRtpInThePayloadsLaw) {
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL, static_cast<uint8_t>(GetParam())), 0);
    Abre(Sesion(GetParam(), GetParam()));
    const std::vector<int32_t> seno = Tono(8000);
    ficheros_pruebas::Escribe("/mnt/ramfs/seno.pcm", std::string(reinterpret_cast<const char*>(prueba::Codifica(seno, true).data()), seno.size()));
    placa->Inyecta(CANAL_LINEA, "/mnt/ramfs/seno.pcm");

    std::vector<uint8_t> carga;
    std::vector<RTPPacket*> v = prueba::Recibe(par, 90);
    std::sort(v.begin(), v.end(), [](RTPPacket* a, RTPPacket* b) {
        return static_cast<int16_t>(a->GetSequenceNumber() - b->GetSequenceNumber()) < 0;
    });
    for (RTPPacket* p : v) {
        EXPECT_EQ(p->GetPayloadType(), GetParam());
        EXPECT_EQ(p->GetPayloadLength(), 160u);
        carga.insert(carga.end(), p->GetPayloadData(), p->GetPayloadData() + p->GetPayloadLength());
        par.DeletePacket(p);
    }
    if (LeyA()) {
        EXPECT_TRUE(Contiene(std::string(carga.begin(), carga.end()), prueba::Codifica(seno, true)));
    }
    const std::vector<int32_t> d = prueba::Decodifica(carga.data(), carga.size(), LeyA());
    const long k = Inicio(d);
    ASSERT_GE(k, 0);
    ASSERT_LE(static_cast<size_t>(k) + seno.size(), d.size());
    EXPECT_TRUE(Parecidas(std::vector<int32_t>(d.begin() + k, d.begin() + k + static_cast<long>(seno.size())), seno));
}

TEST_P(LeyAudio, RtpInThePayloadsLawIsPlayedOnTheLine) {
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL, static_cast<uint8_t>(GetParam())), 0);
    placa->Captura(CANAL_LINEA, LINEA_CAPTURADA);
    Abre(Sesion(GetParam(), GetParam()));
    const std::vector<uint8_t> enviado = prueba::Codifica(Tono(4000), LeyA());
    EnviaPaquetes(par, enviado);
    // The line's own law: the bytes come out as they went in; mu-law comes out converted.
    const std::vector<int32_t> lineal = prueba::Decodifica(enviado.data(), enviado.size(), LeyA());
    EXPECT_TRUE(LineaOye(prueba::Codifica(lineal, true)));
}

INSTANTIATE_TEST_SUITE_P(Leyes, LeyAudio, ::testing::Values(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMU),
                         [](const ::testing::TestParamInfo<int32_t>& i) {
                             return std::string(i.param == CSesionRTP::PAYLOAD_PCMA ? "PCMA" : "PCMU");
                         });

TEST_F(AudioRecurso, WithReceiveOffTheLineHearsTheHoldToneAndNotTheRemoteEnd) {
    const std::vector<uint8_t> retencion = prueba::Codifica(prueba::Seno(800, 0, 3000), true);
    ficheros_pruebas::Escribe("/mnt/ramfs/tonoreten.pcm", std::string(retencion.begin(), retencion.end()));
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL), 0);
    placa->Captura(CANAL_LINEA, LINEA_CAPTURADA);
    const int32_t id = Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA));

    ASSERT_TRUE(Modifica(id, CSesionRTP::PAYLOAD_PCMA, NINGUNO, 0));
    EXPECT_TRUE(LineaOye(retencion));
    const std::vector<uint8_t> remoto = prueba::Codifica(Tono(1600), true);
    EnviaPaquetes(par, remoto);
    EXPECT_EQ(BloquesOidos(remoto), 0u);

    // Receiving again: the remote end is heard, and once what the tone left in the mixer
    // has played, the tone is heard no more.
    ASSERT_TRUE(Modifica(id, CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, 0));
    EnviaPaquetes(par, remoto);
    EXPECT_TRUE(LineaOye(remoto));
    placa->Captura(CANAL_LINEA, LINEA_CAPTURADA);
    EnviaPaquetes(par, remoto);
    EXPECT_TRUE(LineaOye(remoto));
    EXPECT_EQ(BloquesOidos(retencion), 0u);
}

// The largest "Max Jitter(ms)" of tshark's RTP stream table, or -1 without a stream. The
// column is the last of a row but for an optional problem mark.
double MaxJitterMs(const std::string& sTabla) {
    std::istringstream is(sTabla);
    double d = -1;
    for (std::string l; std::getline(is, l);) {
        std::istringstream c(l);
        std::vector<std::string> v;
        for (std::string t; c >> t;) v.push_back(t);
        if (!v.empty() && v.back() == "X") v.pop_back();
        if (v.size() < 12 || v[0].find_first_not_of("0123456789.") != std::string::npos) continue;
        d = std::max(d, std::atof(v.back().c_str()));
    }
    return d;
}

// An inactive offer (both payload types -1, as the core sends for a Replaces whose SDP says
// a=inactive) opens a session that sends and hears nothing; the first modification that
// gives it a payload type starts its audio both ways.
TEST_F(AudioRecurso, SessionWithoutPayloadTypesIsSilentUntilAModificationGivesItOne) {
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL), 0);
    placa->Captura(CANAL_LINEA, LINEA_CAPTURADA);
    const int32_t id = Abre(Sesion(NINGUNO, NINGUNO));
    const std::vector<uint8_t> remoto = prueba::Codifica(Tono(1600), true);
    EnviaPaquetes(par, remoto);  // ten audio-thread passes at least
    std::vector<RTPPacket*> v = prueba::Recibe(par, 1);
    for (RTPPacket* p : v) par.DeletePacket(p);
    EXPECT_TRUE(v.empty()) << "the line sent before it had a payload type";
    EXPECT_EQ(BloquesOidos(remoto), 0u);
    ASSERT_TRUE(Modifica(id, NINGUNO, NINGUNO, 0));  // still none

    ASSERT_TRUE(Modifica(id, CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, 0));
    v = prueba::Recibe(par, 5);
    EXPECT_EQ(v.size(), 5u);
    for (RTPPacket* p : v) {
        EXPECT_EQ(p->GetPayloadType(), CSesionRTP::PAYLOAD_PCMA);
        par.DeletePacket(p);
    }
    EnviaPaquetes(par, remoto);
    EXPECT_TRUE(LineaOye(remoto));

    // One never given a payload type ends without a fault, and so does this one.
    const int32_t idMudo = Abre(Sesion(NINGUNO, NINGUNO, PUERTO_LOCAL + 2, PUERTO_REMOTO + 2));
    ASSERT_EQ(hijo.Canal().EnviaFinSesion(idMudo), 0);
    ASSERT_EQ(hijo.Canal().EnviaFinSesion(id), 0);
    ASSERT_TRUE(EsperaQue([] {
        const std::string t = Buzon::Global().Trazas();
        return t.find("Sesion eliminada\n") != t.rfind("Sesion eliminada\n");
    }, 5000));
    EXPECT_EQ(Buzon::Global().Trazas().find("No puedo detener sesion"), std::string::npos);
    EXPECT_EQ(hijo.Log().find("Datos RTP corruptos"), std::string::npos);
    EXPECT_TRUE(hijo.Vivo());
}

// The line puts the call on hold (stops sending) for two seconds and takes it back: its
// stream goes on where the sampling clock is, with the marker on the first packet after the
// pause, so that a receiver's jitter buffer does not take every later packet as two seconds
// late. tshark's RTP analysis of the capture is the judge.
TEST_F(AudioRecurso, StreamAfterAHoldKeepsToTheSamplingClockAndMarksItsFirstPacket) {
    constexpr int PAQUETES = 100;
    prueba::Par par;  // listens: an unreachable port would make the line stop sending
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL), 0);
    const std::string sFichero = "/tmp/retencion.pcap";
    prueba::Captura cap(PAQUETES, "udp dst port " + std::to_string(PUERTO_REMOTO), sFichero);
    ASSERT_TRUE(cap.listo);
    const int32_t id = Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA));
    std::vector<RTPPacket*> v = prueba::Recibe(par, 20);
    for (RTPPacket* p : v) par.DeletePacket(p);
    ASSERT_EQ(v.size(), 20u);
    ASSERT_TRUE(Modifica(id, NINGUNO, CSesionRTP::PAYLOAD_PCMA, 0));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the hold itself
    ASSERT_TRUE(Modifica(id, CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, 0));
    ASSERT_TRUE(cap.Termina());

    const std::string sRtp = "-d udp.port==" + std::to_string(PUERTO_REMOTO) + ",rtp";
    const auto vTramas = cap.Decodifica(sRtp, {"frame.time_relative", "rtp.seq", "rtp.timestamp", "rtp.marker"});
    ASSERT_EQ(vTramas.size(), static_cast<size_t>(PAQUETES));
    size_t iPausa = 1;
    double dPausa = 0;
    for (size_t i = 1; i < vTramas.size(); i++) {
        const double d = std::atof(vTramas[i].at("frame.time_relative").c_str()) -
                         std::atof(vTramas[i - 1].at("frame.time_relative").c_str());
        if (d > dPausa) dPausa = d, iPausa = i;
    }
    ASSERT_GT(dPausa, 1.5);
    for (size_t i = 0; i < vTramas.size(); i++)
        EXPECT_EQ(vTramas[i].at("rtp.marker"), i == iPausa ? "1" : "0") << "packet " << i;
    const uint32_t uiSalto = static_cast<uint32_t>(std::stoul(vTramas[iPausa].at("rtp.timestamp")) -
                                                   std::stoul(vTramas[iPausa - 1].at("rtp.timestamp")));
    EXPECT_NEAR(uiSalto / 8000.0, dPausa, 0.1) << "timestamp step " << uiSalto;
    const std::string sTabla = cap.Estadistica(sRtp, "rtp,streams");
    const double dJitter = MaxJitterMs(sTabla);
    std::printf("max jitter %.3f ms, timestamp step %u over %.3f s\n", dJitter, uiSalto, dPausa);
    EXPECT_GE(dJitter, 0) << sTabla;
    EXPECT_LE(dJitter, 40) << sTabla;
}

TEST_F(AudioRecurso, ModificationWithTwoDifferentPayloadTypesFails) {
    const int32_t id = Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA));
    EXPECT_TRUE(Modifica(id, CSesionRTP::PAYLOAD_PCMU, CSesionRTP::PAYLOAD_PCMA, -1));
    EXPECT_NE(Buzon::Global().Trazas().find("TLF [3] No puedo modificar sesion. Error -1\n"), std::string::npos);
}

TEST_F(AudioRecurso, EndOfASessionOnAChannelAboveThreeDetachesItWhileAudioFlows) {
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL + 8), 0);
    // Channels 0-4; the last one attached (channel 4) sends to the peer.
    std::vector<int32_t> ids;
    for (uint16_t i = 0; i < 5; i++)
        ids.push_back(Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, PUERTO_LOCAL + 2 * i,
                                  static_cast<uint16_t>(i == 4 ? PUERTO_REMOTO : PUERTO_REMOTO + 10 + 2 * i))));
    auto recibe = [&](size_t n) {
        std::vector<RTPPacket*> v = prueba::Recibe(par, n);
        for (RTPPacket* p : v) par.DeletePacket(p);
        return v.size();
    };
    ASSERT_EQ(recibe(5), 5u);
    ASSERT_EQ(hijo.Canal().EnviaFinSesion(ids[4]), 0);
    ASSERT_TRUE(EsperaQue([] { return Buzon::Global().Trazas().find("Sesion eliminada\n") != std::string::npos; }, 5000));
    recibe(0);
    // A window of audio-thread passes (20 ms each) with no packet from the ended session.
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(recibe(0), 0u);
    EXPECT_TRUE(hijo.Vivo());
    EXPECT_EQ(Buzon::Global().Trazas().find("No puedo detener sesion"), std::string::npos);
    // Its entry is free again, and a new session there carries audio.
    Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, PUERTO_LOCAL + 8, PUERTO_REMOTO));
    EXPECT_EQ(recibe(10), 10u);
    EXPECT_TRUE(hijo.Vivo());
}

TEST_F(AudioRecurso, FifteenSessionsOpenedAndClosedAThousandTimesLeakNothingAndASixteenthIsRefused) {
    // Ids are reused once freed: only answers after the request count. The mailbox grows by
    // fifteen thousand of them, so only those are read.
    auto numMensajes = [] {
        std::lock_guard<std::mutex> l(Buzon::Global().tMutex);
        return Buzon::Global().vMensajes.size();
    };
    auto respondida = [](int32_t id, size_t iDesde) {
        const auto tFin = Reloj::now() + std::chrono::seconds(10);
        do {
            {
                Buzon& b = Buzon::Global();
                std::lock_guard<std::mutex> l(b.tMutex);
                for (size_t i = iDesde; i < b.vMensajes.size(); i++) {
                    const Mensaje& m = b.vMensajes[i];
                    if (m.iCodigo == COD_DIAGNOSTICO && m.a == 15 && m.b == id) return m.c == 0;
                }
            }
            std::this_thread::sleep_for(milliseconds(1));
        } while (Reloj::now() < tFin);
        return false;
    };
    auto abreQuince = [&](int iRonda) {
        std::vector<int32_t> ids;
        const size_t iDesde = numMensajes();
        for (uint16_t i = 0; i < MAX_SESIONES; i++) {
            DireccionSesion s = Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, PUERTO_LOCAL + 2 * i,
                                       static_cast<uint16_t>(PUERTO_REMOTO + 2 * i));
            int32_t id = -1;
            hijo.Canal().EnviaNuevaSesionId(&s, &id);
            ids.push_back(id);
        }
        // Answers come in order: the last one's says all were handled.
        EXPECT_TRUE(respondida(ids.back(), iDesde)) << "round " << iRonda;
        return ids;
    };
    int iFd0 = 0;
    long lRss0 = 0;
    for (int iRonda = 0; iRonda < 1000 && !HasFailure(); iRonda++) {
        std::vector<int32_t> ids = abreQuince(iRonda);
        if (iRonda == 0) {
            Abre(Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA, 6000, 6002), 201);
            EXPECT_NE(Buzon::Global().Trazas().find("TLF [3]: Demasiadas sesiones abiertas\n"), std::string::npos);
            ASSERT_EQ(hijo.Canal().EnviaNivelConsola(0), 0);  // a thousand rounds of traces would only slow it
        }
        // Measured with all fifteen open, after the allocator has warmed up.
        if (iRonda == 50) {
            iFd0 = DescriptoresDe(hijo.Pid());
            lRss0 = RssKbDe(hijo.Pid());
        } else if (iRonda == 999) {
            // Sockets of ended sessions are closed by the audio thread on its next pass, and a
            // log file being rolled holds one more for a moment: a round's worth of slack. A leak
            // of one descriptor per session would show as thousands.
            EXPECT_LE(DescriptoresDe(hijo.Pid()), iFd0 + MAX_SESIONES);
            EXPECT_LT(RssKbDe(hijo.Pid()) - lRss0, 4096);
        }
        for (int32_t id : ids) hijo.Canal().EnviaFinSesion(id);
    }
    EXPECT_TRUE(hijo.Vivo());
    for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO)) ASSERT_TRUE(m.c == 0 || m.c == 201) << m.a << " " << m.b << " " << m.c;
}

}  // namespace

namespace {

// A line whose time slot cannot be opened: the audio thread says so once, not fifty times
// a second, and the process runs on.
TEST(AudioSinSlot, AMissingTimeSlotIsLoggedOncePerChange) {
    ConfiguraLog();
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    placa->Orden("rechaza 0x80045005");  // every open of an audio device
    CHijoRecurso hijo;
    hijo.Arranca("fonmira", REC, 0);
    ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
    hijo.Configura(LineaTelefono());
    ASSERT_TRUE(hijo.LogContiene("hwDameMuestras noOK", 10000)) << hijo.Log();
    // Fifty passes of the audio thread.
    std::this_thread::sleep_for(milliseconds(1000));
    const std::string s = hijo.Log();
    size_t n = 0;
    for (size_t i = s.find("hwDameMuestras noOK"); i != std::string::npos; i = s.find("hwDameMuestras noOK", i + 1)) ++n;
    EXPECT_EQ(n, 1u) << s;
    EXPECT_TRUE(hijo.Vivo());
}

// The resource's interface type, known once its configuration came, sets the timestamp step
// of its sessions' packets: 160 samples a packet, none on a radio.
struct CasoTipoIf {
    int32_t iTipoIf;
    uint32_t uiPaso;
};

class AudioTipoInterfaz : public ::testing::TestWithParam<CasoTipoIf> {};

TEST_P(AudioTipoInterfaz, TimestampStepFollowsTheResourcesInterfaceType) {
    ConfiguraLog();
    auto placa = simboard::CSimBoard::Arranca();
    ASSERT_TRUE(placa);
    CHijoRecurso hijo;
    hijo.Arranca("fonmira", REC, 0);
    ASSERT_TRUE(EsperaQue([] { return !Buzon::Global().De(COD_SIN_CONFIG).empty(); }, 5000));
    cfgConfigRecurso r = LineaTelefono();
    r.iTipoIf = GetParam().iTipoIf;
    hijo.Configura(r);
    ASSERT_TRUE(hijo.LogContiene("FIN ArrancaHW(3)", 10000)) << hijo.Log();
    prueba::Par par;
    ASSERT_EQ(par.Crea(PUERTO_REMOTO, PUERTO_LOCAL), 0);
    const DireccionSesion s = Sesion(CSesionRTP::PAYLOAD_PCMA, CSesionRTP::PAYLOAD_PCMA);
    int32_t id = -1;
    ASSERT_GE(hijo.Canal().EnviaNuevaSesionId(&s, &id), 0);
    ASSERT_TRUE(EsperaQue([&] {
        for (const auto& m : Buzon::Global().De(COD_DIAGNOSTICO))
            if (m.a == 15 && m.b == id) return m.c == 0;
        return false;
    }, 5000)) << hijo.Log();
    std::vector<RTPPacket*> v = prueba::Recibe(par, 10);
    ASSERT_GE(v.size(), 10u) << hijo.Log();
    std::sort(v.begin(), v.end(), [](RTPPacket* a, RTPPacket* b) {
        return static_cast<int16_t>(a->GetSequenceNumber() - b->GetSequenceNumber()) < 0;
    });
    for (size_t i = 1; i < v.size(); i++) {
        const uint32_t uiSaltos = static_cast<uint16_t>(v[i]->GetSequenceNumber() - v[i - 1]->GetSequenceNumber());
        EXPECT_EQ(v[i]->GetTimestamp() - v[i - 1]->GetTimestamp(), GetParam().uiPaso * uiSaltos) << i;
    }
    for (RTPPacket* p : v) par.DeletePacket(p);
}

INSTANTIATE_TEST_SUITE_P(Tipos, AudioTipoInterfaz,
                         ::testing::Values(CasoTipoIf{TIPOIF_AB, 160}, CasoTipoIf{TIPOIF_RADIO, 0}),
                         [](const ::testing::TestParamInfo<CasoTipoIf>& i) {
                             return std::string(i.param.iTipoIf == TIPOIF_RADIO ? "Radio" : "Telefono");
                         });

}  // namespace

