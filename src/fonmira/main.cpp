// fonmira: the resource process of a telephone or E&M line.
#include "centtlf.h"
#include "mainrecurso.h"

namespace {
CEntidadTelef oEntidad;
}

int main(int argc, char** argv) { return mrecMain(argc, argv, oEntidad, {"TLF ", "/var/fonmira_%02d.pid"}); }
