// Start-up, configuration and supervision loop of a resource process, written once for the
// three resource programs: each program's main hands over its line entity and names.
#pragma once

#include <cstdint>

#include "cfg/cfgpasarela.h"

class CEntidadRC;

// What differs between the resource programs.
struct ProgramaRecurso {
    const char* szPalabra;   // log word: "R2N5", "TLF ", "LC  "
    const char* szTrazaPid;  // thread trace file, with %02d for the resource number
};

// The whole process: returns -1 on bad arguments or a failed start, 0 for the banner;
// after an orderly end the process exits with 0 without returning.
int mrecMain(int argc, char** argv, CEntidadRC& entidad, const ProgramaRecurso& programa);

// The start-up's answers to the core's messages, handed to the channel.
int mrecTomaConfig(const char* pcGeneral, const cfgConfigRecurso* pNuevo);
void mrecPadreMuerto();
void mrecPintaEstadisticas();
void mrecFijaNivelIncidencias(int iNivel);

// 0 no change, -2 partial change (applied while running), -1 total (restart).
int mrecCompruebaConfigGeneral(const cfgConfigRecurso* pNuevo);
int mrecCompruebaConfigRec(const cfgConfigRecurso* pNuevo);
int mrecCompruebaConfigIf(const cfgConfigRecurso* pNuevo);
int mrecCompruebaHw(int iModulo);
int mrecModoPaired();
