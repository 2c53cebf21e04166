// The user agent in a test: a recording application (Cgus + Caplic, as the core's bridge is),
// a clock the test can step, and raw SIP over loopback (sipp and the bare socket of the SIP
// layer's tests).
#pragma once

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../../../ext/sip/tests/agente_prueba.h"
#include "sip/caplic.h"
#include "sip/cgus.h"
#include "sip/csipua.h"

// 10 ms ticks of the steady clock plus what the test adds.
inline std::atomic<uint32_t>& AdelantoTicks() {
    static std::atomic<uint32_t> a{0};
    return a;
}
inline uint32_t TicksPrueba() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() / 10) +
           AdelantoTicks().load();
}

struct Operacion {
    std::string sNombre;
    int iUsuario;
    SesionSip s;
    std::string sTexto;
    int iValor1, iValor2, iValor3;
};

#define VK_OP(nombre)                                                       \
    void nombre(int u, DatosEventoSip* p) override { Anota(#nombre, u, p); }

class AplicPrueba : public Cgus, public Caplic {
public:
    bool bContesta = true;   // answers every INVITE with 200 and SDP
    bool bRadio = false;     // ... as a radio session
    int32_t iOptions = 0;    // result of Traplic_Options

    // The supervision loop calls back into this object: it ends before the records go.
    ~AplicPrueba() {
        if (DameSipua()) DameSipua()->Para();
    }

    VK_OP(Traplic_Call_Proceeding)
    VK_OP(Traplic_Ringing)
    VK_OP(Traplic_Released)
    VK_OP(Traplic_Request_Failure)
    VK_OP(Traplic_Global_Failure)
    VK_OP(Traplic_Server_Failure)
    VK_OP(Traplic_Update)
    VK_OP(Traplic_Closed)
    VK_OP(Traplic_ACK)
    VK_OP(Traplic_InfoIntrusionInProgress)
    VK_OP(Traplic_InfoIntrusionIsEfective)
    VK_OP(Traplic_InfoEndofIntrusion)
    VK_OP(Traplic_InfoIntrusionInminente)
    VK_OP(Traplic_Redirect)
    VK_OP(Traplic_Reinvite)
    VK_OP(Traplic_Call_Answer)
    VK_OP(Traplic_Notify)
    VK_OP(Traplic_Call_No_Answer)
    VK_OP(Traplic_Refer)
    VK_OP(Traplic_Call_Message_Answered)
    VK_OP(Traplic_Respuesta_for_Options)

    void Traplic_Invite(int u, DatosEventoSip* p) override {
        Anota("Traplic_Invite", u, p);
        if (!bContesta || !p || !DameSipua()) return;
        if (bRadio) {
            SesionSip s;
            if (DameSipua()->LeeSesion(p->cid, &s) == 0) {
                s.iRadio = 1;
                DameSipua()->EscribeSesion(&s);
            }
        }
        EnviaOk(u, p->cid, 5004);
    }
    void Traplic_Replaces(int u, int cid, DatosEventoSip* p) override { Anota("Traplic_Replaces", u, p, "", cid); }
    void Traplic_Info(int u, DatosEventoSip* p, const char* sz) override { Anota("Traplic_Info", u, p, sz ? sz : ""); }
    void Traplic_WG67_Key_In_Subscription(int u, int n, int d, int e) override {
        Anota("Traplic_WG67_Key_In_Subscription", u, nullptr, "", n, d, e);
    }
    int32_t Traplic_Options(int u, DatosEventoSip* p) override {
        Anota("Traplic_Options", u, p);
        return iOptions;
    }

    std::vector<Operacion> Operaciones() {
        std::lock_guard<std::mutex> lk(m_);
        return ops_;
    }
    std::vector<std::string> Nombres() {
        std::vector<std::string> v;
        for (auto& o : Operaciones()) v.push_back(o.sNombre);
        return v;
    }
    int Cuenta(const std::string& sNombre) {
        int n = 0;
        for (auto& o : Operaciones()) n += o.sNombre == sNombre;
        return n;
    }
    // Waits until the operation has been called n times.
    bool Espera(const std::string& sNombre, int n = 1, int ms = 10000) {
        std::unique_lock<std::mutex> lk(m_);
        return cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] {
            int k = 0;
            for (auto& o : ops_) k += o.sNombre == sNombre;
            return k >= n;
        });
    }
    Operacion Ultima(const std::string& sNombre) {
        Operacion r{};
        for (auto& o : Operaciones())
            if (o.sNombre == sNombre) r = o;
        return r;
    }

private:
    void Anota(const char* sz, int u, DatosEventoSip* p, const std::string& t = "", int a = 0, int b = 0, int c = 0) {
        Operacion o;
        o.sNombre = sz;
        o.iUsuario = u;
        std::memset(static_cast<void*>(&o.s), 0, sizeof o.s);
        if (p) o.s = *p;
        o.sTexto = t;
        o.iValor1 = a;
        o.iValor2 = b;
        o.iValor3 = c;
        std::lock_guard<std::mutex> lk(m_);
        ops_.push_back(o);
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Operacion> ops_;
};
#undef VK_OP

inline std::string DirEscenariosSip() {
    std::string f = __FILE__;
    return f.substr(0, f.rfind('/') + 1);
}

// Final answer (status >= 200) of the request with that Call-ID, or "" after ms.
inline std::string RespuestaFinal(Crudo& c, const std::string& sCallId, int ms = 5000) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < fin) {
        std::string r = c.Recibe(100);
        if (r.compare(0, 8, "SIP/2.0 ") != 0 || r.find("Call-ID: " + sCallId + "\r\n") == std::string::npos) continue;
        if (std::atoi(r.c_str() + 8) >= 200) return r;
    }
    return "";
}

inline int Estado(const std::string& r) { return r.size() > 11 ? std::atoi(r.c_str() + 8) : 0; }

// Final answer to the request with that Call-ID and CSeq ("2 INVITE"), or "" after ms.
inline std::string RespuestaA(Crudo& c, const std::string& sCallId, const std::string& sCSeq, int ms = 5000) {
    auto fin = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < fin) {
        std::string r = c.Recibe(100);
        if (Estado(r) >= 200 && r.find("Call-ID: " + sCallId + "\r\n") != std::string::npos &&
            r.find("CSeq: " + sCSeq + "\r\n") != std::string::npos)
            return r;
    }
    return "";
}

// Value of a header of a message ("" when absent).
inline std::string Valor(const std::string& m, const std::string& sCabecera) {
    size_t p = m.find("\r\n" + sCabecera + ": ");
    if (p == std::string::npos) return "";
    p += 4 + sCabecera.size();
    return m.substr(p, m.find("\r\n", p) - p);
}

// The tag of the To of an answer.
inline std::string TagTo(const std::string& r) {
    std::string to = Valor(r, "To");
    size_t p = to.find(";tag=");
    return p == std::string::npos ? "" : to.substr(p + 5);
}

inline std::string SdpOferta(const std::string& sPayloads) {
    return "v=0\r\no=- 0 0 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 6000 RTP/AVP " + sPayloads +
           "\r\n";
}
