// CColateral: the collateral duties of one resource. Its targets are the radio equipment of its
// emplacements (TX and RX, A and B) or the remote SIP user of a line; it calls them, keeps the
// session types of active and standby equipment, runs the OPTIONS supervision of the collateral
// peer and the radio maintenance mode and loop test the SNMP agent orders, and publishes the
// collateral states. It reads the live configuration it is given at construction (under its
// mutex) and reaches its supervisor only through CColateral::CSupervisor.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ceventosrecurso.h"
#include "ctablasesiones.h"
#include "ipc/mensajescola.h"
#include "sip/cgestorllamada.h"

class CCONFIG;
class Cola;
class CPasaGus;
struct cfgConfigRecurso;

class CColateral {
public:
    // What the collateral duties need of the resource's supervisor.
    class CSupervisor {
    public:
        virtual std::shared_ptr<Cola> CanalHijo() = 0;
        virtual int EnviaCodigoDebug(uint8_t ucSubcomando, uint8_t ucValor) = 0;
        virtual CPasaGus* PasaGus() = 0;
        virtual int DameIdUsuarioSip() const = 0;
        virtual int HijoConfigurado() const = 0;
        virtual int DameEstadoRecurso() const = 0;
        virtual bool EnReserva() const = 0;
        // State byte last published by the resource's process.
        virtual int EstadoPublicado() const = 0;
        // Places a call towards SIP for the record: the SIP call id, or negative.
        virtual int ColocaLlamada(DatosLlamadaGestor* psPeticion, InfoSesion* psInfo, int idllam) = 0;
        virtual void LiberaInfoSesion(InfoSesion* psInfo) = 0;
        virtual void CierraSesionCompleta(InfoSesion* psInfo, int iCausa) = 0;
        virtual void LlenaDireccionSesion(const InfoSesion* psInfo, DireccionSesion* psDir) = 0;
        // Guards on the core's timer; their expiries come back as VenceOptions and VenceBucle.
        virtual int ArmaGuarda(int32_t iTicks, int iCodigo, int32_t iId) = 0;
        virtual void CancelaGuarda(int32_t* piSlot) = 0;
        // Period of the next OPTIONS probe.
        virtual void FijaPeriodoOptions(uint32_t uiMicrosegundos) = 0;
        virtual CEventosRecurso& Sumidero() = 0;

    protected:
        ~CSupervisor() = default;
    };

    // Target states of one URI of an emplacement.
    enum { NO_CONFIGURADO = 9, MISMO_EQUIPO = 8, SIN_SESION = 2, ACTIVO = 1, REPOSO = 0 };
    // Guard codes of the OPTIONS answer and the loop test's answer.
    enum { GUARDA_OPTIONS = 0, GUARDA_BUCLE = 3 };

    CColateral(CCONFIG* poCfg, int iRecurso, CSupervisor& oSupervisor, CTablaSesiones& oSesiones);
    CColateral(const CColateral&) = delete;
    CColateral& operator=(const CColateral&) = delete;

    // The targets count from the resource's first start on.
    void Arranca() { iArrancado = 1; }
    bool Arrancado() const { return iArrancado != 0; }

    // Target indice (emplacement x 4 + 0 TxA, 1 TxB, 2 RxA, 3 RxB): 0 with the record filled, -1
    // when it names no usable target.
    int DameDestino(int iIndice, DatosLlamadaGestor* psPeticion);
    // 1 when the resource has a usable collateral configuration.
    int EsValido();
    int HayClimax();
    int EsConmutacionA();
    // The remote URI of a line (80 characters, into dst of at least 81 bytes): 0, or -1 empty.
    int DameUriRemota(char* szDestino);
    // States of the four URIs of an emplacement (9 not configured, 8 RX same as TX, 2 configured).
    int DameEstadoUris(int iEmplazamiento, int* piTxA, int* piRxA, int* piTxB, int* piRxB);
    // The switch-over state file's active equipment of emplacement indice / 4: whether target
    // indice is the active one of its side (TX for k 0 A / 1 B, RX for k 2 A / 3 B), and
    // making it so. Positions, not resource numbers, key the file.
    static bool EquipoActivo(int iRecurso, int iIndice);
    static int FijaEquipoActivo(int iRecurso, int iIndice);

    // Configuration: what a start keeps of the record (the collateral words of a radio), and
    // whether a reconfiguration changed them.
    void TomaCfg();
    void CompruebaCambioCfg();
    // Active equipment per emplacement of a local radio, from the switch-over state file.
    void CargaEqActivo();

    // Calls. idllam: the line call served, -2 radio or data collateral sessions, -3 a BL
    // resource's; markers, never call ids.
    int IniciaLlamadaColateral(int idllam, int iIndice, int iReposo);
    void SupervisaColateralDatRadPP(int idllam);
    void SupervisaColateralTipo();
    // OPTIONS supervision of the peer, and the line told its state.
    void EnviaOptionsColateral();
    void RespuestaOptions();
    void VenceOptions();
    void EnviaEstadoColateral();
    // Radio maintenance mode and loop test; VenceBucle: the test's answer never came, FinBucle:
    // the line ended it.
    void TomaModoRadio(int iModo);
    void ActivaBucleRadio(int iTipo, int iEmplazamiento);
    void VenceBucle();
    void FinBucle();
    // Switch-over order: 0 done, -1 bad arguments, -2 the target has no session.
    int FijaEquipoActivoEmplazamiento(int iEmplazamiento, int iSentido, int iEquipo);
    // Whether target iIndice is to be active now (maintenance, pair and switch-over state).
    bool ObjetivoActivo(int iIndice);
    int EstadoParejaReposo(int iIndice);
    bool EsEquipoActivo(int iIndice);
    void FijaEquipoActivoColateral(int iIndice);
    int DameEstadoEmplazamiento(int iEmplazamiento, int* piTxA, int* piRxA, int* piTxB, int* piRxB);
    void MarcaCambioEmplazamiento(int iIndice);
    int HaySesiones();
    // Every second while running: publishes what changed of the collateral states.
    void PublicaColaterales();
    void PublicaEmplazamiento(int iEmplazamiento);
    void PublicaSesiones();
    void PublicaEstadoRadio();
    // Copies into the caller's buffers: 0, or -1.
    int DameIdUsuario(char* szSalida, size_t uiTam, int iIndice);
    static int DameUriPropia(char* szSalida, size_t uiTam, const char* szNumero);
    // The user part (after "sip:", else from the start, up to "@") or the host part (after "@",
    // else from the start, up to ">") of a URI, at most LON_PARTE_URI characters into an output
    // of LON_PARTE_URI + 1 bytes: 0, or -1 for a missing argument.
    enum { LON_PARTE_URI = 50 };
    static int SacaUsuarioUri(const char* szUri, char* szSalida);
    static int SacaDominioUri(const char* szUri, char* szSalida);

    // Fields.
    int32_t iModoMantenimiento, iTipoBucle, iEmplazamientoBucle, iBuclePendiente;
    int32_t iTempBucle;
    uint8_t aucEqActivoTXRX[6];
    int32_t iEstadoColateral;
    int32_t aiColateralTemp[4];  // timer id first; -1 none
    int32_t iHaySesiones;
    std::atomic<int32_t> iCambioColateral;  // set by any thread, taken by the supervisor
    int32_t aiCambioEmplazamiento[3];
    int32_t iColateralCfgA, iColateralCfgB;
    int32_t iCambioCfgColateral;
    int32_t iReconfigurarColaterales;

private:
    // The collateral words of a radio record; the configuration mutex held.
    void GuardaCfg();

    CCONFIG* poCfg;
    int iRecurso;
    cfgConfigRecurso* psConfig;
    CSupervisor& oSup;
    CTablaSesiones& oSesiones;
    std::atomic<int32_t> iArrancado;
    std::mutex tMutexColateral;  // the loop-test words and the OPTIONS state
};
