// The SIP bridge in a test: a recording resource in place of the core's supervisor, a call
// manager that routes every number to one resource with 16 records, and the configuration the
// bridge reads (own address 192.0.2.23, eth0 of the sandbox).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "agente_sip_prueba.h"
#include "sip/cpasagus.h"
#include "sip/encaminauri.h"

// The bridge of a test: the supervision loop calls back into it, so it ends first.
class PasaGusPrueba : public CPasaGus {
public:
    ~PasaGusPrueba() override {
        if (DameSipua()) DameSipua()->Para();
    }
};

// A text the test sets while the SIP thread reads it.
class TextoCompartido {
public:
    TextoCompartido& operator=(std::string s) {
        std::lock_guard<std::mutex> lk(m_);
        s_ = std::move(s);
        return *this;
    }
    std::string Valor() const {
        std::lock_guard<std::mutex> lk(m_);
        return s_;
    }

private:
    mutable std::mutex m_;  // guards s_
    std::string s_;
};

// A resource as the bridge sees it: records what reaches it and answers as told. What the test
// tells it is read on the SIP thread, which a datagram wakes: nothing orders the two for the race
// build but the atomics and locks.
class RecursoPrueba : public CRecursoSip {
public:
    enum Accion { ACEPTA, RECHAZA, CALLA };
    CPasaGus* poPasaGus = nullptr;
    CGestorLlamada* poGestor = nullptr;
    std::atomic<int> iUsuario{-1};
    std::atomic<Accion> eAccion{ACEPTA};
    std::atomic<int> iMotivo{202};
    TextoCompartido sListaPttId;  // "" : not a running radio
    std::atomic<int32_t> iParamRadio{-1};
    std::atomic<int> iOperador{-1}, iPrivilegiado{-1};

    void Traplic_Invite(DatosEventoSip* p) override {
        Anota("Traplic_Invite", p);
        if (eAccion == ACEPTA) poPasaGus->AceptaLlamada(iUsuario, p->cid, p->iPuertoLocal);
        else if (eAccion == RECHAZA) poPasaGus->RechazaLlamada(iUsuario, p->cid, iMotivo);
    }
    // The session's end gives its port and its routing back, as the supervisor does when it
    // frees the session.
    void Traplic_Closed(DatosEventoSip* p) override {
        poPasaGus->DevuelveLocalPort(iUsuario, p->cid, p->iPuertoLocal);
        if (poGestor) poGestor->FinEncaminaLlamada(iUsuario, p->cid);
        Anota("Traplic_Closed", p);
    }
    void Traplic_Respuesta_for_Options() override { Anota("Traplic_Respuesta_for_Options", nullptr); }
    void Traplic_Call_Proceeding(DatosEventoSip* p) override { Anota("Traplic_Call_Proceeding", p); }
    void Traplic_Ringing(DatosEventoSip* p) override { Anota("Traplic_Ringing", p); }
    void Traplic_Released(DatosEventoSip* p) override { Anota("Traplic_Released", p); }
    void Traplic_Request_Failure(DatosEventoSip* p) override { Anota("Traplic_Request_Failure", p); }
    void Traplic_Global_Failure(DatosEventoSip* p) override { Anota("Traplic_Global_Failure", p); }
    void Traplic_Server_Failure(DatosEventoSip* p) override { Anota("Traplic_Server_Failure", p); }
    void Traplic_Replaces(int, DatosEventoSip* p) override { Anota("Traplic_Replaces", p); }
    void Traplic_Update(DatosEventoSip* p) override { Anota("Traplic_Update", p); }
    void Traplic_ACK(DatosEventoSip* p) override { Anota("Traplic_ACK", p); }
    void Traplic_Info(DatosEventoSip* p, const char*) override { Anota("Traplic_Info", p); }
    void Traplic_InfoIntrusionInProgress(DatosEventoSip* p) override { Anota("Traplic_InfoIntrusionInProgress", p); }
    void Traplic_InfoIntrusionIsEfective(DatosEventoSip* p) override { Anota("Traplic_InfoIntrusionIsEfective", p); }
    void Traplic_InfoEndofIntrusion(DatosEventoSip* p) override { Anota("Traplic_InfoEndofIntrusion", p); }
    void Traplic_InfoIntrusionInminente(DatosEventoSip* p) override { Anota("Traplic_InfoIntrusionInminente", p); }
    void Traplic_Redirect(DatosEventoSip* p) override { Anota("Traplic_Redirect", p); }
    void Traplic_Reinvite(DatosEventoSip* p) override { Anota("Traplic_Reinvite", p); }
    void Traplic_Call_Answer(DatosEventoSip* p) override { Anota("Traplic_Call_Answer", p); }
    void Traplic_Notify(DatosEventoSip* p) override { Anota("Traplic_Notify", p); }
    void Traplic_Call_No_Answer(DatosEventoSip* p) override { Anota("Traplic_Call_No_Answer", p); }
    void Traplic_Refer(DatosEventoSip* p) override { Anota("Traplic_Refer", p); }
    int32_t Traplic_Options() override {
        Anota("Traplic_Options", nullptr);
        return 0;
    }
    void Abortallamada(int cid) override {
        SesionSip s{};
        s.cid = cid;
        Anota("Abortallamada", &s);
    }
    int DameListaPttId(char* sz, size_t n) override {
        const std::string s = sListaPttId.Valor();
        if (s.empty() || s.size() >= n) return -1;
        std::memcpy(sz, s.c_str(), s.size() + 1);
        return static_cast<int>(s.size());
    }
    int32_t DameParamRadio() override { return iParamRadio; }
    int EnRangosOperador(const char*) override { return iOperador; }
    int EnRangosPrivilegiados(const char*) override { return iPrivilegiado; }

    struct Evento {
        std::string sNombre;
        SesionSip s;
    };
    std::vector<Evento> Eventos() {
        std::lock_guard<std::mutex> lk(m_);
        return v_;
    }
    int Cuenta(const std::string& sNombre) {
        int n = 0;
        for (auto& e : Eventos()) n += e.sNombre == sNombre;
        return n;
    }
    bool Espera(const std::string& sNombre, int n = 1, int ms = 10000) {
        std::unique_lock<std::mutex> lk(m_);
        return cv_.wait_for(lk, std::chrono::milliseconds(ms), [&] {
            int k = 0;
            for (auto& e : v_) k += e.sNombre == sNombre;
            return k >= n;
        });
    }
    SesionSip Ultimo(const std::string& sNombre) {
        SesionSip s{};
        for (auto& e : Eventos())
            if (e.sNombre == sNombre) s = e.s;
        return s;
    }

private:
    void Anota(const char* sz, const DatosEventoSip* p) {
        Evento e;
        e.sNombre = sz;
        std::memset(static_cast<void*>(&e.s), 0, sizeof e.s);
        if (p) e.s = *p;
        std::lock_guard<std::mutex> lk(m_);
        v_.push_back(e);
        cv_.notify_all();
    }
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Evento> v_;
};

// A call manager of 16 records that routes every number to one resource.
class GestorPrueba : public CGestorLlamada {
public:
    TextoCompartido sDestino;
    int EncaminaLlamadaEntrante(int, DatosLlamadaGestor* psDatos, int cid, CEventos*) override {
        std::lock_guard<std::mutex> lk(m_);
        for (int i = 0; i < 16; i++)
            if (aiCid[i] < 0) {
                aiCid[i] = cid;
                asDatos[i] = *psDatos;
                std::snprintf(asDatos[i].UsuDestino, sizeof asDatos[i].UsuDestino, "%s", sDestino.Valor().c_str());
                asDatos[i].canal = -1;
                return i;
            }
        return -8;
    }
    int DameDatosLlamada(int i, DatosLlamadaGestor* psDatos) override {
        std::lock_guard<std::mutex> lk(m_);
        if (i < 0 || i >= 16 || aiCid[i] < 0) return -1;
        *psDatos = asDatos[i];
        return 0;
    }
    int ProgresionLlamada(int, int, int, int*) override { return -1; }
    int FinEncaminaLlamada(int, int cid) override {
        std::lock_guard<std::mutex> lk(m_);
        for (int& c : aiCid)
            if (c == cid) c = -1;
        return 0;
    }
    int Ocupadas() {
        std::lock_guard<std::mutex> lk(m_);
        int n = 0;
        for (int c : aiCid) n += c >= 0;
        return n;
    }

private:
    std::mutex m_;
    int aiCid[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    DatosLlamadaGestor asDatos[16];
};

// The configuration the bridge reads; iModo is iCfgModoSistema.
inline cfgConfigPasarela* ConfigPrueba(int iModo) {
    static cfgConfigPasarela* c = new cfgConfigPasarela;
    std::snprintf(c->szNombre, sizeof c->szNombre, "PASARELA-PRUEBA");
    std::snprintf(c->szDirVirtual, sizeof c->szDirVirtual, "192.0.2.23");
    c->iCfgModoSistema = iModo;
    c->iSipPeriodoSuperv = 120;
    sipFijaConfig(c);
    return c;
}
