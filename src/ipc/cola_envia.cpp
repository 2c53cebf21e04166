// Typed senders of the IPC catalogue: each builds its payload in a local buffer and hands
// it to Cola::Envia. While the end is inactive they send nothing and answer -1, except
// the ringing, accept and end-of-session messages.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ipc/cola.h"
#include "comun/nlog.h"

namespace {

// Payload under construction. A field that does not fit is not copied but still
// counted, so that Cola::Envia refuses the whole message.
class Carga {
public:
    Carga& Entero(int32_t v) { return Bytes(&v, 4); }
    Carga& Byte(uint8_t v) { return Bytes(&v, 1); }
    Carga& Bytes(const void* p, int32_t tam) {
        if (tam <= 0) return *this;
        if (tam > MAX_CARGA_COLA - n) {
            n = MAX_CARGA_COLA + 1;  // Envia refuses it
            return *this;
        }
        if (p != nullptr)
            memcpy(buf + n, p, tam);
        else
            memset(buf + n, 0, tam);
        n += tam;
        return *this;
    }
    Carga& Contados(const void* p, int32_t tam) { return Entero(tam).Bytes(p, tam); }
    const uint8_t* Datos() const { return buf; }
    int Longitud() const { return n; }

private:
    uint8_t buf[MAX_CARGA_COLA];
    int n = 0;
};

bool ContadorValido(int32_t n, const void* p) {
    if (n < 0 || (n > 0 && p == nullptr)) {
        NLOG::Log(NLOG::ERROR, "Cola: texto de %d bytes no valido, no se envia", n);
        return false;
    }
    return true;
}

}  // namespace

int Cola::EnviaCarga(uint8_t codigo, const void* carga, int longitud) {
    Envia(codigo, carga, longitud);
    return 0;
}

// ---- No payload, words ----

int Cola::EnviaSinCarga(uint8_t codigo) {
    if (NoEnvia()) return -1;
    Envia(codigo, nullptr, 0);
    return 0;
}

int Cola::EnviaReset() { return EnviaSinCarga(COD_RESET); }
int Cola::EnviaPintaEstadisticas() { return EnviaSinCarga(COD_PINTA_ESTADISTICAS); }
int Cola::EnviaSinConfig() { return EnviaSinCarga(COD_SIN_CONFIG); }
int Cola::EnviaTermina() { return EnviaSinCarga(COD_TERMINA); }

int Cola::EnviaUnEntero(uint8_t codigo, int32_t a) {
    if (NoEnvia()) return -1;
    Envia(codigo, &a, 4);
    return 0;
}

int Cola::EnviaDosEnteros(uint8_t codigo, int32_t a, int32_t b) {
    if (NoEnvia()) return -1;
    Carga c;
    c.Entero(a).Entero(b);
    return EnviaCarga(codigo, c.Datos(), c.Longitud());
}

int Cola::EnviaTresEnteros(uint8_t codigo, int32_t a, int32_t b, int32_t c) {
    if (NoEnvia()) return -1;
    Carga p;
    p.Entero(a).Entero(b).Entero(c);
    return EnviaCarga(codigo, p.Datos(), p.Longitud());
}

int Cola::EnviaConversacionInterrumpida(int32_t idLlamada) {
    LiberaIdLlamada(idLlamada);
    return EnviaUnEntero(COD_CONVERSACION_INTERRUMPIDA, idLlamada);
}

int Cola::EnviaAbortaIntervencion(int32_t idLlamada) {
    LiberaIdLlamada(idLlamada);
    return EnviaUnEntero(COD_ABORTA_INTERVENCION, idLlamada);
}

int Cola::EnviaLiberaRecurso(int32_t idRecurso) {
    LiberaIdRecurso(idRecurso);
    return EnviaUnEntero(COD_LIBERA_RECURSO, idRecurso);
}

// ---- Counted bytes, mixed fields, blocks ----

int Cola::EnviaContados(uint8_t codigo, int32_t id, const void* bytes, int32_t n) {
    if (NoEnvia() || !ContadorValido(n, bytes)) return -1;
    Carga c;
    c.Entero(id).Contados(bytes, n);
    return EnviaCarga(codigo, c.Datos(), c.Longitud());
}

// Code 60 ends after the destination; code 67 adds a final word.
int Cola::EnviaLlamadaLinea(uint8_t codigo, int32_t id, int32_t prioridad, const void* origen,
                            int32_t nOrigen, const void* destino, int32_t nDestino,
                            const int32_t* final) {
    if (NoEnvia() || !ContadorValido(nOrigen, origen) || !ContadorValido(nDestino, destino))
        return -1;
    Carga p;
    p.Entero(id).Entero(prioridad).Contados(origen, nOrigen).Contados(destino, nDestino);
    if (final != nullptr) p.Entero(*final);
    return EnviaCarga(codigo, p.Datos(), p.Longitud());
}

int Cola::EnviaEnteroByteEntero(uint8_t codigo, int32_t id, uint8_t b, int32_t valor) {
    if (NoEnvia()) return -1;
    Carga c;
    c.Entero(id).Byte(b).Entero(valor);
    return EnviaCarga(codigo, c.Datos(), c.Longitud());
}

int Cola::EnviaCreaCanalHermano(int32_t pid, uint8_t modo) {
    if (NoEnvia()) return -1;
    Carga c;
    c.Entero(pid).Byte(modo);
    return EnviaCarga(COD_CREA_CANAL_HERMANO, c.Datos(), c.Longitud());
}

int Cola::EnviaDiagnostico(uint8_t comando, int32_t id, int32_t resultado) {
    if (NoEnvia()) return -1;
    Carga c;
    c.Byte(comando).Entero(id).Entero(resultado);
    return EnviaCarga(COD_DIAGNOSTICO, c.Datos(), c.Longitud());
}

int Cola::EnviaNotificaEstadoRecurso(const NotificacionEstado* estado) {
    if (NoEnvia()) return -1;
    Envia(COD_NOTIFICA_ESTADO_RECURSO, estado, sizeof *estado);
    return 0;
}

int Cola::EnviaIdBloque(uint8_t codigo, int32_t id, const void* bloque, int n) {
    if (NoEnvia()) return -1;
    Carga c;
    c.Entero(id).Bytes(bloque, n);
    return EnviaCarga(codigo, c.Datos(), c.Longitud());
}

int Cola::EnviaModificaSesion(int32_t idSesion, const DireccionSesion* dir) {
    if (EnviaIdBloque(COD_MODIFICA_SESION, idSesion, dir, sizeof *dir) < 0) return -1;
    return idSesion;
}

// ---- Opening a call, session or DSP resource ----

int Cola::EnviaApertura(uint8_t codigo, eTablaId t, int32_t alto, const void* reg, int n,
                        int32_t* id) {
    *id = -1;
    if (NoEnvia()) return -1;
    int32_t nuevo = AsignaId(t, alto);
    if (nuevo < 0) return -1;
    *id = nuevo;
    Carga c;
    c.Entero(nuevo).Bytes(reg, n);
    Envia(codigo, c.Datos(), c.Longitud());
    return nuevo;
}

int Cola::EnviaLlamadaSalienteId(const DatosLlamada* datos, int32_t* id) {
    return EnviaApertura(COD_LLAMADA_SALIENTE, TABLA_LLAMADAS_PAR, iPeer, datos, sizeof *datos, id);
}

int Cola::EnviaLlamadaEntranteId(const DatosLlamada* datos, int32_t* id) {
    return EnviaApertura(COD_LLAMADA_ENTRANTE, TABLA_LLAMADAS_IMPAR, iPropio, datos,
                         sizeof *datos, id);
}

int Cola::EnviaIntervencionId(const DatosLlamada* datos, int32_t* id) {
    if (LadoHijo())
        return EnviaApertura(COD_INTERVENCION, TABLA_LLAMADAS_IMPAR, iPropio, datos, sizeof *datos, id);
    return EnviaApertura(COD_INTERVENCION, TABLA_LLAMADAS_PAR, iPeer, datos, sizeof *datos, id);
}

int Cola::EnviaNuevaSesionId(const DireccionSesion* dir, int32_t* id) {
    if (LadoHijo())
        return EnviaApertura(COD_NUEVA_SESION, TABLA_SESIONES_IMPAR, iPropio, dir, sizeof *dir, id);
    return EnviaApertura(COD_NUEVA_SESION, TABLA_SESIONES_PAR, iPeer, dir, sizeof *dir, id);
}

int Cola::EnviaArrancaRecursoId(int32_t argumento, int32_t* id) {
    return EnviaApertura(COD_ARRANCA_RECURSO, TABLA_RECURSOS, iPropio, &argumento, 4, id);
}

// ---- Closing; messages sent even while inactive ----

int Cola::EnviaFinLlamadaCausa(int32_t idLlamada, int32_t causa) {
    LiberaIdLlamada(idLlamada);
    return EnviaDosEnteros(COD_FIN_LLAMADA, idLlamada, causa);
}

int Cola::EnviaRechazaLlamada(int32_t idLlamada, int32_t motivo) {
    LiberaIdLlamada(idLlamada);
    return EnviaDosEnteros(COD_RECHAZA_LLAMADA, idLlamada, motivo);
}

int Cola::EnviaRingingMotivo(int32_t idLlamada, int32_t motivo) {
    Carga c;
    c.Entero(idLlamada).Entero(motivo);
    return EnviaCarga(COD_RINGING, c.Datos(), c.Longitud());
}

int Cola::EnviaAceptaLlamadaValor(int32_t idLlamada, int32_t valor) {
    Carga c;
    c.Entero(idLlamada).Entero(valor);
    return EnviaCarga(COD_ACEPTA_LLAMADA, c.Datos(), c.Longitud());
}

int Cola::EnviaFinSesionValor(int32_t idSesion, int32_t valor) {
    LiberaIdSesion(idSesion);
    Carga c;
    c.Entero(idSesion).Entero(valor);
    return EnviaCarga(COD_FIN_SESION, c.Datos(), c.Longitud());
}

int Cola::EnviaInfoLlamadaValor(int32_t idLlamada, int32_t motivo, int32_t valor) {
    return EnviaTresEnteros(COD_INFO_LLAMADA, idLlamada, motivo, valor);
}

int Cola::EnviaInfoLlamada(int32_t idLlamada, int32_t motivo) {
    EnviaInfoLlamadaValor(idLlamada, motivo, 0);
    return 0;
}

// ---- Text, configuration, record 23 ----

int Cola::EnviaTraza(const char* formato, ...) {
    if (NoEnvia()) return -1;
    char buf[TAM_TRAZA_COLA];
    memset(buf, 0, sizeof buf);
    va_list ap;
    va_start(ap, formato);
    int n = vsnprintf(buf, sizeof buf, formato, ap);
    va_end(ap);
    if (n < 0) n = 0;
    if (n > TAM_TRAZA_COLA - 1) n = TAM_TRAZA_COLA - 1;
    return Envia(COD_TRAZA, buf, n);
}

int Cola::EnviaTomaConfig(const char* bloque, const cfgConfigRecurso* registro) {
    if (NoEnvia()) return -1;
    bool escrito = cfgEscribeFicheroSistema(bloque);
    const int32_t n = static_cast<int32_t>(strlen(FicheroConfigSistema));
    Carga c;
    c.Contados(FicheroConfigSistema, n).Bytes(registro, TAM_REGISTRO_RECURSO);
    NLOG::Log(NLOG::DEBUG, "Envia Tomaconfig pos=%i", c.Longitud());
    Envia(COD_TOMA_CONFIG, c.Datos(), c.Longitud());
    return escrito ? 0 : -2;
}

int Cola::EnviaMensaje23(uint8_t a, int32_t b, const char* texto1, int32_t c,
                         const char* texto2, int32_t d, int32_t e, uint8_t f) {
    if (NoEnvia()) return -1;
    int32_t n1 = texto1 ? static_cast<int32_t>(strnlen(texto1, MAX_CARGA_COLA)) : 0;
    int32_t n2 = texto2 ? static_cast<int32_t>(strnlen(texto2, MAX_CARGA_COLA)) : 0;
    Carga p;
    p.Byte(a).Entero(b).Contados(texto1, n1).Entero(c).Contados(texto2, n2).Entero(d).Entero(e).Byte(f);
    return EnviaCarga(COD_MENSAJE23, p.Datos(), p.Longitud());
}
