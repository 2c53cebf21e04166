// The side file of the configuration message: the gateway's virtual address (szDirVirtual,
// 65 bytes) travels beside the resource record through this file, whose name the message
// carries. The core writes it just before each configuration message; the resource reads it
// on receipt.
#pragma once

constexpr const char* FicheroConfigSistema = "/var/st_config_sistema.txt";
constexpr int TAM_BLOQUE_GENERAL = 65;

// Writes the block (the text up to its end, zero-filled after it) in place of the file; false,
// logged, when it could not be written.
bool cfgEscribeFicheroSistema(const char* pTexto);
// Reads the 65-byte block from the named file into pBloque; a file that cannot be read, or
// is shorter, leaves the block zero-filled where nothing was read (logged).
void cfgLeeFicheroSistema(const char* pRuta, char (&pBloque)[TAM_BLOQUE_GENERAL]);
