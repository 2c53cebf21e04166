// Readable description of a gateway configuration image (INI-style), both ways.
//
//   [GENERAL]            general fields by name; iNumRecursos and LocalizadorRecurso
//                        ("slot-device slot-device ...") default to the RECURSO sections
//   [RECURSO-<pos>]      the record at position pos (slot x 4 + device); iTipoIf first sets the
//                        defaults of its type, then every field by name (Emp0.UriTxA ...)
//   [CENTRAL-<n>] [IP-<n>] [TRONCAL-<n>] [RED-<n>] [USUARIO-<n>] [ASIGRECURSO-<n>] [SIP-<n>]
//                        plan entries from 0 up; the end marker follows the last one
#pragma once

#include <ostream>
#include <string>

#include "cfg/cfgpasarela.h"

// Fills pCfg (constructed defaults) from the description at ruta; false with a reason.
bool LeeDescripcion(const std::string& ruta, cfgConfigPasarela* pCfg, std::string* pError);

// Writes the image as a description that LeeDescripcion reads back to the same image.
void EscribeDescripcion(const cfgImagenPasarela& img, std::ostream& salida);
