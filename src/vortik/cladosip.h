// CLadoSip: the SIP side of one resource supervisor, the bridge's CRecursoSip. It handles the
// SIP events of the resource's user, takes incoming calls by path (radio and data open an RTP
// session with the resource process at once, a line places a call on its line and the session
// follows when the line answers), places calls towards SIP and follows their failures, transfers
// by REFER, and ends sessions on both sides. It reaches its supervisor only through
// CLadoSip::CSupervisor (the child's channel, the resource's state, the guards) and the session
// table it is handed.
//
// The handlers run on the SIP event thread and the guards on the timer thread, beside the
// child-event handlers: the session table's lock is held only to find, take or place a record,
// the child channel is taken under the supervisor's lock, never both at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "cfg/cfgpasarela.h"
#include "ctablasesiones.h"
#include "ipc/mensajescola.h"
#include "sip/cgestorllamada.h"
#include "sip/crecursosip.h"
#include "sip/ctablapttid.h"
#include "sip/datoseventosip.h"

class CCONFIG;
class CColateral;
class Cola;
class COpcionesRadio;
class CPasaGus;

class CLadoSip : public CRecursoSip {
public:
    // Name, FID and interface type of the record, copied under the configuration mutex.
    struct Identidad {
        char acNombre[sizeof(cfgConfigRecurso::nombre)];
        char acFid[sizeof(cfgConfigRecurso::szDestino)];
        int iTipoIf;
    };

    // What the SIP side needs of its supervisor.
    class CSupervisor {
    public:
        // The child's channel for one send, or null.
        virtual std::shared_ptr<Cola> CanalHijo() = 0;
        virtual int HijoConfigurado() const = 0;
        virtual bool EnReserva() const = 0;
        virtual int DameEstadoRecurso() const = 0;
        // Frees a record: its PTT id, port, routing and guards go back, then the table clears it.
        virtual void LiberaInfoSesion(InfoSesion* psInfo) = 0;
        // Guards on the core's timer (slot, or -1 logged); their expiries come back through the
        // supervisor (VenceRespuestaSip, VenceRefer).
        virtual int ArmaGuarda(int32_t iTicks, int iCodigo, int32_t iId) = 0;
        virtual void CancelaGuarda(int32_t* piSlot) = 0;
        // The supervisor's fixed wait.
        virtual void Espera(uint32_t uiMicrosegundos) = 0;
        // A session of a radio resource was answered.
        virtual void SesionRadioActiva(const char* szNombre, const char* szUri, int iReposo) = 0;
        // The collateral duties, told of what changed.
        virtual CColateral& Colateral() = 0;

    protected:
        ~CSupervisor() = default;
    };

    // State byte of a line that cannot take calls.
    enum { RECURSO_NO_DISPONIBLE = 10 };
    // Guard codes: first answer and final answer of a call towards SIP, the resource process's
    // confirmation of a call and of a session, the wait of a radio call for preemption, the
    // delayed answer to a refused transfer.
    enum {
        GUARDA_RESPUESTA = 1,
        GUARDA_FINAL = 2,
        GUARDA_LLAMADA = 5,
        GUARDA_SESION = 15,
        GUARDA_PREEMPTION = 29,
        GUARDA_REFER = 100
    };

    CLadoSip();
    virtual ~CLadoSip();
    CLadoSip(const CLadoSip&) = delete;
    CLadoSip& operator=(const CLadoSip&) = delete;

    // Once, from the supervisor's Inicia: its interface, its session table, the resource's
    // position, the live configuration, the bridge and the call manager (null in direct mode).
    void IniciaSip(CSupervisor* poSupervisor, CTablaSesiones* poTabla, int iRecurso, CCONFIG* poConfig,
                   CPasaGus* poPasaGus, CGestorLlamada* poGestor);

    // Virtual slots 2-25: the SIP events of the resource's user.
    void Traplic_Respuesta_for_Options() override;
    void Traplic_Call_Proceeding(DatosEventoSip* psSesion) override;
    void Traplic_Ringing(DatosEventoSip* psSesion) override;
    void Traplic_Released(DatosEventoSip* psSesion) override;
    void Traplic_Request_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Global_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Server_Failure(DatosEventoSip* psSesion) override;
    void Traplic_Invite(DatosEventoSip* psSesion) override;
    void Traplic_Replaces(int cidSustituido, DatosEventoSip* psSesion) override;
    void Traplic_Update(DatosEventoSip* psSesion) override;
    void Traplic_Closed(DatosEventoSip* psSesion) override;
    void Traplic_ACK(DatosEventoSip* psSesion) override;
    void Traplic_Info(DatosEventoSip* psSesion, const char* szCuerpo) override;
    void Traplic_InfoIntrusionInProgress(DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionIsEfective(DatosEventoSip* psSesion) override;
    void Traplic_InfoEndofIntrusion(DatosEventoSip* psSesion) override;
    void Traplic_InfoIntrusionInminente(DatosEventoSip* psSesion) override;
    void Traplic_Redirect(DatosEventoSip* psSesion) override;
    void Traplic_Reinvite(DatosEventoSip* psSesion) override;
    void Traplic_Call_Answer(DatosEventoSip* psSesion) override;
    void Traplic_Notify(DatosEventoSip* psSesion) override;
    void Traplic_Call_No_Answer(DatosEventoSip* psSesion) override;
    void Traplic_Refer(DatosEventoSip* psSesion) override;
    int32_t Traplic_Options() override;

    // Look-ups of the bridge.
    int DameListaPttId(char* szLista, size_t uiTam) override;
    void Abortallamada(int cid) override;
    int32_t DameParamRadio() override;
    int EnRangosOperador(const char* szNumero) override;
    int EnRangosPrivilegiados(const char* szNumero) override;

    // What a SIP failure status means for the line (motivo of EvtRechazaLlamada) and for the
    // call manager (progression code): the generic map and the Q.850 map of QSIG lines.
    struct CausaFallo {
        int32_t iMotivo;
        int32_t iProgresion;
    };
    static CausaFallo CausaFalloSip(int iEstadoSip);
    static CausaFallo CausaFalloSipQsig(int iEstadoSip);
    // 0 when the call manager took the failed leg on, else -1.
    int Tr_Fallo_Llamada(InfoSesion* psInfo, int iEstadoSip);
    // End a session towards the resource process only.
    void Funcion_LimpiaSesion(InfoSesion* psInfo);
    void LimpiaSesionPorCid(int cid);
    InfoSesion* BuscaCid(int cid);
    // Session clean-up on both sides with a cause.
    void CierraSesionCompleta(InfoSesion* psInfo, int iCausa);
    // The record's PTT id goes back to the table (once) and the KEY-IN subscribers hear it.
    void LiberaPttIdSesion(InfoSesion* psInfo);
    // Guard expiries (timer thread): first and final answer of a call towards SIP, and the
    // delayed answer to a refused transfer.
    void VenceRespuestaSip(int iCodigo, int cid);
    void VenceRefer(int32_t iDialogo);
    // What the incoming checks read of the record (cladosip.cpp).
    struct DatosRecurso;
    // Incoming calls by path: radio and data (iTipo 16 radio, 32 data) or a line.
    void TrataInviteRadio(DatosEventoSip* psSesion, int iTipo);
    void TrataInviteGeneral(DatosEventoSip* psSesion);
    // 0 allowed, -1 refused.
    int CompruebaListaUri(const char* szUri);
    int CompruebaOrigenRemoto(const char* szUri);
    static int MapeaValorLlamada(int iValor);

    // Fields.
    CPasaGus* poMiPasaGus;
    CGestorLlamada* poGestorLlamada;
    CTablaPttId oTablaPttId;  // under the session table's lock
    COpcionesRadio* poOpcionesRadio;
    std::atomic<int32_t> iIdUsuarioSip;  // set by the supervisor, read by every other thread

protected:
    Identidad DameIdentidad();
    // The session record of an InfoSesion's call words, ports and address.
    void LlenaDireccionSesion(const InfoSesion* psInfo, DireccionSesion* psDir);
    // Sends on the child channel; -1 (logged by the caller) without one.
    // The new session's id goes into the record, and its confirmation guard is armed, under
    // the session table's lock: the resource process may confirm before the send returns, and the
    // confirmation's look-up takes the same lock.
    int EnviaNuevaSesion(const DireccionSesion* psDir, InfoSesion* psInfo);
    int EnviaLlamadaSaliente(const DatosLlamada* psDatos, InfoSesion* psInfo);
    int EnviaFinSesion(int32_t idsesion);
    int EnviaFinLlamada(int32_t idllam, int32_t iCausa);
    // Places a call towards SIP for the record (direct mode straight, routing mode through the
    // call manager) and arms its first-answer guard; the SIP call id, or negative.
    int ColocaLlamada(DatosLlamadaGestor* psPeticion, InfoSesion* psInfo, int idllam);
    void CierraSip(int cid, int iCausa);

private:
    // fEnvia(channel, &id) sends a request the line answers by id; its id goes to *piId and its
    // confirmation guard to *piGuarda. 0, or -1.
    template <class FEnvia, class FFin>
    int EnviaVigilado(int32_t* piId, int32_t* piGuarda, int iCodigo, FEnvia fEnvia, FFin fFin);
    // Payload override and payload type of a session record by the media direction word.
    static void PayloadsPorDireccion(int iDireccion, int iPayload, DireccionSesion* psDir);
    // The steps of an incoming radio or data call.
    int RechazoPrevioRadio(const DatosRecurso& d, const DatosEventoSip* psSesion);
    int RechazoAdmisionRadio(const DatosRecurso& d, const DatosEventoSip* psSesion, const InfoSesion* psInfo);
    void PreparaSesionRadio(const DatosEventoSip* psSesion, int iTipo, int iPttId, InfoSesion* psInfo,
                            DireccionSesion* psDir);
    // Clean-up of a leg whose failure the call manager did not take on.
    void FalloLlamada(InfoSesion* psInfo, int iEstadoSip);
    // The intrusion INFOs, one motivo each towards the line.
    void TrataIntrusion(DatosEventoSip* psSesion, int iMotivo, const char* szLog, bool bFin);
    // Both bounds belong to the range; only trunk records carry the ranges.
    int EnRangos(const char* szNumero, bool bOrigen);
    // Text of the PTT-id table, under the session table's lock; its length.
    int VuelcaPttId(char* szLista, size_t uiTam);
    // The configuration's console level, read under its mutex.
    int NivelConsola();

    CSupervisor* poSup;
    CTablaSesiones* poSesiones;
    int iRecurso;
    CCONFIG* poCfg;
    cfgConfigRecurso* psRegistro;
    std::atomic<int32_t> iRefersPendientes;  // delayed answers to refused transfers
};
