// Devices of the board beyond its own discrete I/O, timer, line modules and audio (which
// CPlaca carries): each further model registers its device paths, its control commands and,
// if it needs them, its DSP-reset subscription here.
#pragma once

class CPlaca;

void RegistraModelos(CPlaca& placa);
