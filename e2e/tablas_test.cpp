// Every way an incoming INVITE can end without a call, each 40 times (more than the SIP user
// agent's 30 sessions and the 26 RTP ports of the bridge), against the running board: every
// INVITE gets its answer, and afterwards all 26 ports take calls at once and a line connects.
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "placa_e2e.h"
#include "sip_e2e.h"
#include "sipp.h"

namespace {

using namespace e2e;
using Cambios = std::vector<std::pair<std::string, std::string>>;

constexpr int kVeces = 40;
constexpr int kEnVuelo = 4;  // INVITEs of a row in flight: with the 26 port holders, the 30 sessions
constexpr int kPuertosRtp = 26;
const char* const kRadios[] = {"RD-00", "RD-02", "RD-03"};  // programs that take every session

// A SIP peer on a port of its own; it keeps the first provisional answer to each INVITE and
// the final answer to each request.
class Par {
public:
    explicit Par(uint16_t us) : usPuerto(us), iSocket(SocketUdp(us)) {}
    ~Par() { close(iSocket); }
    std::string Invite(const std::string& sUsuario, const std::string& sId, const Cambios& vCambios = {},
                       const std::string& sCuerpo = Sdp(), const std::string& sExtra = "") {
        std::string s = Peticion("INVITE", sUsuario, sId, sId, 1, sCuerpo, sExtra, nullptr, usPuerto);
        for (auto& [sNombre, sValor] : vCambios) s = CambiaCabecera(s, sNombre, sValor);
        return s;
    }
    void Envia(const std::string& s) { EnviaUdp(iSocket, "127.0.0.1", kPuertoSip, s); }
    // ACK or BYE in the dialog of the INVITE's final answer.
    void EnDialogo(const std::string& sMetodo, const std::string& sId, int iCSeq) {
        const std::string sTo = Cabecera(mFinal[sId + "|1 INVITE"], "To");
        const std::string s = Peticion(sMetodo, "x", sId, sId + sMetodo, iCSeq, "", "", nullptr, usPuerto);
        Envia(CambiaCabecera(s, "To", sTo));
    }
    // A CANCEL of the INVITE: its Request-URI, Via, From, To, Call-ID and CSeq number.
    void Cancela(const std::string& sInvite) {
        std::string s = "CANCEL" + sInvite.substr(6, sInvite.find("\r\n\r\n") - 4);
        s = CambiaCabecera(CambiaCabecera(s, "CSeq", "1 CANCEL"), "Content-Type", "");
        Envia(CambiaCabecera(s, "Content-Length", "0") + "\r\n");
    }
    // Reads what comes until fHecho holds or iMs pass.
    bool Lee(const std::function<bool()>& fHecho, int iMs) {
        return EsperaQue(
            [&] {
                RecibeUdp(iSocket, 20, [&](const Bytes& b) {
                    const int c = CodigoSip(b);
                    const std::string sId = Cabecera(b, "Call-ID"), sCSeq = Cabecera(b, "CSeq");
                    std::string& sSitio = c >= 200 ? mFinal[sId + "|" + sCSeq] : mProvisional[sId];
                    if (c > 0 && sSitio.empty()) sSitio = b;
                    return false;
                });
                return fHecho();
            },
            iMs);
    }
    int Final(const std::string& sId, const std::string& sCSeq = "1 INVITE") { return CodigoSip(mFinal[sId + "|" + sCSeq]); }
    // Reads until every INVITE of vIds has its final answer.
    bool Finales(const std::vector<std::string>& vIds, int iMs) {
        return Lee([&] {
            for (auto& s : vIds)
                if (Final(s) == 0) return false;
            return true;
        }, iMs);
    }
    uint16_t usPuerto;
    int iSocket;
    std::map<std::string, Bytes> mFinal, mProvisional;
};

// One way for an INVITE to end without a call: the INVITE, the answers it may get, what the
// peer does after it, and what comes before and after the row.
struct Fila {
    enum Sigue { ESPERA, CANCELA, SE_VA };
    const char* szNombre;
    std::function<std::string(Par&, const std::string&, int)> fInvite;
    std::set<int> sCodigos;
    Sigue eSigue = ESPERA;
    std::function<void()> fAntes = [] {}, fDespues = [] {};
};

class Tablas : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string sIni = "/mnt/ramfs/placa_tablas.ini";
        std::string s = Ejemplo("placa_completa.ini");
        for (const char* szRadio : kRadios)
            s += std::string("\n[RECURSO-") + szRadio[4] + "]\nnombre=" + szRadio + "\niTipo=2\niTipoIf=0\n" +
                 "szUriLocal=sip:" + szRadio + "@192.0.2.23\niTipoRadio=4\n";
        FILE* f = std::fopen(sIni.c_str(), "w");
        ASSERT_TRUE(f);
        std::fputs(s.c_str(), f);
        std::fclose(f);
        setenv("VK_STANDIN_MODO", "radio", 1);
        ASSERT_TRUE(placa.Arranca(sIni));
        ASSERT_TRUE(CPlaca::RecursoDice(kTelefono, "CENTTLF[1]:Recurso DSP configurado", 40000)) << placa.Informe();
        // The hot line's idle state has reached the core: before it, its row would find it
        // unavailable (503) instead of refusing the origin.
        ASSERT_TRUE(CPlaca::NucleoDice("mantEnvia: V,N08,4,LC-01,1,", 40000)) << placa.Informe();
    }
    void TearDown() override {
        if (HasFailure()) std::printf("%s\nstdout/stderr:\n%s\n", placa.Informe().c_str(), placa.nucleo.Salida().c_str());
    }
    static std::string Radio(Par& p, const std::string& sId, int i) {
        return p.Invite(kRadios[i % 3], sId, {{"Subject", "radio"}}, Sdp("7000", "8"));
    }
    // 26 radio calls "radio<n>", answered and acknowledged: every RTP port is held. False, with
    // the calls taken ended again, when one was refused.
    bool OcupaPuertos() {
        radios = std::make_unique<Par>(5091);
        std::vector<std::string> vIds;
        for (int i = 0; i < kPuertosRtp; i++) {
            vIds.push_back("radio" + std::to_string(i));
            radios->Envia(Radio(*radios, vIds.back(), i));
        }
        // Every answer is waited for, however slow: one left behind would hold its port unacknowledged.
        bool bTodas = radios->Finales(vIds, 60000);
        sRespuestas.clear();
        for (auto& s : vIds) {
            sRespuestas += " " + std::to_string(radios->Final(s));
            bTodas = bTodas && radios->Final(s) == 200;
            if (radios->Final(s) == 200) radios->EnDialogo("ACK", s, 1);
        }
        if (!bTodas) LiberaPuertos();
        return bTodas;
    }
    void LiberaPuertos() {
        if (!radios) return;
        std::vector<std::string> vIds;
        for (int i = 0; i < kPuertosRtp; i++)
            if (radios->Final("radio" + std::to_string(i)) == 200) vIds.push_back("radio" + std::to_string(i));
        for (auto& s : vIds) radios->EnDialogo("BYE", s, 2);
        EXPECT_TRUE(radios->Lee([&] {
            for (auto& s : vIds)
                if (radios->Final(s, "2 BYE") != 200) return false;
            return true;
        }, 20000));
        radios.reset();
    }
    // A normal call to the telephone line connects: it rings, its handset is lifted, the caller
    // ends the call.
    void LineaConecta() {
        Sipp tlf({"-sf", DirFuente() + "../src/fonmira/tests/uac_linea_bye.xml", "-m", "1", "-s", "TLF-01",
                  "127.0.0.1:5060"});
        ASSERT_TRUE(EsperaQue([&] { return placa.placa->Slic(kTelefono).find(" ring=1 ") != std::string::npos; }, 20000))
            << tlf.Log();
        placa.placa->Descuelga(kTelefono);
        EXPECT_EQ(tlf.Espera(30000), 0) << tlf.Log();
        placa.placa->Cuelga(kTelefono);
    }
    // The row's INVITEs, kEnVuelo at a time; each gets one of the row's answers.
    void Recorre(const Fila& k, int iFila) {
        SCOPED_TRACE(k.szNombre);
        k.fAntes();
        Par p(5092);
        for (int i = 0; i < kVeces; i += kEnVuelo) {
            std::vector<std::string> vIds, vInvites;
            for (int j = i; j < i + kEnVuelo; j++) {
                vIds.push_back("fila" + std::to_string(iFila) + "-" + std::to_string(j));
                vInvites.push_back(k.fInvite(p, vIds.back(), j));
                p.Envia(vInvites.back());
            }
            if (k.eSigue == Fila::SE_VA) continue;
            if (k.eSigue == Fila::CANCELA) {
                p.Lee([&] {
                    for (auto& s : vIds)
                        if (p.mProvisional[s].empty() && p.Final(s) == 0) return false;
                    return true;
                }, 5000);
                for (auto& s : vInvites) p.Cancela(s);
            }
            EXPECT_TRUE(p.Finales(vIds, 15000));
            for (auto& s : vIds) EXPECT_EQ(k.sCodigos.count(p.Final(s)), 1u) << s << " " << p.Final(s);
        }
        k.fDespues();
        EXPECT_TRUE(placa.nucleo.Vivo());
    }

    CPlaca placa;
    std::unique_ptr<Par> radios;
    std::string sRespuestas;  // the final answers of the last attempt to hold every port
};

TEST_F(Tablas, InvitesThatEndWithoutACallNeverUseUpTheBoard) {
    auto A = [](const char* szUsuario, const Cambios& v = {}, const std::string& sCuerpo = Sdp(),
                const std::string& sExtra = "") {
        return [=](Par& p, const std::string& sId, int) { return p.Invite(szUsuario, sId, v, sCuerpo, sExtra); };
    };
    const Cambios vAts = {{"From", "<sip:400003@127.0.0.1>;tag=n"}, {"Subject", "DA/IDA call"}};
    const std::vector<Fila> vFilas = {
        {"no free RTP port",
         [&](Par& p, const std::string& sId, int i) {
             return p.Invite("TLF-01", sId, {}, Sdp(), i % 2 ? "" : "Replaces: radio" + std::to_string(i % 26) + "\r\n");
         },
         {480}, Fila::ESPERA, [&] { ASSERT_TRUE(EsperaQue([&] { return OcupaPuertos(); }, 60000)); },
         [&] { LiberaPuertos(); }},
        {"screening: no Subject", A("TLF-01", {{"Subject", ""}}), {400}},
        {"screening: Request-URI without a user",
         [](Par& p, const std::string& sId, int) {
             std::string s = p.Invite("TLF-01", sId, {{"To", "<sip:x@127.0.0.1;rk82rs=TLF-01>"}});
             return s.replace(0, s.find(" SIP/2.0"), "INVITE sip:127.0.0.1:5060");
         },
         {400}},
        {"screening: Session-Expires below 90", A("TLF-01", {}, Sdp(), "Supported: timer\r\nSession-Expires: 60\r\n"), {422}},
        {"screening: no common codec", A("TLF-01", {}, Sdp("7000", "18")), {415}},
        {"admission: From without a number", A("NADIE"), {404}},
        {"admission: no 6-digit number", A("12345", vAts), {500}},
        {"admission: number of no exchange", A("999999", vAts), {500}},
        {"admission: no resource free for the number", A("300002", vAts), {500}},
        {"resource refuses the origin", A("LC-01"), {500}},
        {"Replaces of no call", A("TLF-01", {}, Sdp(), "Replaces: nadie@192.0.2.9;to-tag=1;from-tag=2\r\n"), {481}},
        {"caller CANCEL", A("TLF-01"), {487, 503}, Fila::CANCELA},  // 503: the line is busy
        // The radios answer at once; the answers hold their ports until the board gives up on their
        // ACK. RD-00 takes 12, the other two the 14 ports left.
        {"answer never acknowledged", [](Par& p, const std::string& sId, int) { return Radio(p, sId, 0); }, {200, 480}},
        {"peer vanished", [](Par& p, const std::string& sId, int i) { return Radio(p, sId, 1 + i % 2); }, {}, Fila::SE_VA},
    };
    for (size_t i = 0; i < vFilas.size() && !HasFailure(); i++) Recorre(vFilas[i], static_cast<int>(i));
    if (HasFailure()) return;
    // What the rows held comes back, the answers never acknowledged last (64 x T1 = 32 s).
    EXPECT_TRUE(EsperaQue([&] { return OcupaPuertos(); }, 150000)) << "last answers:" << sRespuestas;
    LiberaPuertos();
    LineaConecta();
    EXPECT_TRUE(placa.nucleo.Vivo());
    EXPECT_TRUE(placa.SanitizersCallados()) << placa.nucleo.Salida();
}

}  // namespace
