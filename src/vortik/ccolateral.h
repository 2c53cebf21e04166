// Collateral targets of a resource: the radio equipment of its emplacements (TX and RX, A and
// B) or the remote SIP user of a line. Answers what the targets are from the live
// configuration (read under its mutex) and whether they are configured.
#pragma once

#include <cstddef>

#include "csuperec.h"

struct cfgConfigRecurso;

class CColateral {
public:
    // Target states of one URI of an emplacement.
    enum { NO_CONFIGURADO = 9, MISMO_EQUIPO = 8, SIN_SESION = 2, ACTIVO = 1, REPOSO = 0 };

    CColateral(cfgConfigRecurso* psConfig, int iRecurso);
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

private:
    int iRecurso;
    cfgConfigRecurso* psConfig;
};
